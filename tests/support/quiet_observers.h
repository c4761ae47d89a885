#pragma once

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

class QuietUndo : public UndoObserver {
public:
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

} // namespace corvalin::test
