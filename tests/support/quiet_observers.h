#pragma once

#include "engine/move_run.h"
#include "history/undo.h"
#include "strip/strip_runs.h"

// Observers for runs that no one watches: no yield, no cancel, nothing shown.
namespace corvalin::test {

class QuietStrip : public StripObserver {
public:
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
    void newName(const std::string&) override {}
    void previewRequested(const std::filesystem::path&) override {}
    void progress(int, int) override {}
};

// A move run into `destination`.
class QuietMove : public MoveRunObserver {
public:
    explicit QuietMove(std::filesystem::path destination) : m_destination(std::move(destination)) {}
    void yield() override {}
    void surveyStarted() override {}
    bool stopRequested() override { return false; }
    bool cancelRequested() override { return false; }
    std::filesystem::path destination() override { return m_destination; }

private:
    std::filesystem::path m_destination;
};

class QuietUndo : public UndoObserver {
public:
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

} // namespace corvalin::test
