#pragma once

#include "program_session.h"

#include <QTemporaryDir>

#include <filesystem>
#include <memory>

namespace corvalin::e2e {

constexpr int kWindowTimeoutMs = 30000;
constexpr int kExitTimeoutMs = 60000;
constexpr int kRunTimeoutMs = 90000;

// One scenario's world: a fresh temporary folder holding the program folder "prog", and the
// program started from there. A scenario that failed leaves a screenshot of the whole screen in
// the build tree and prints where it is, with the program's error output.
class Scenario {
public:
    explicit Scenario(const XSession& x);
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;
    ~Scenario();

    bool isValid() const { return m_dir.isValid(); }
    const std::filesystem::path& root() const { return m_root; }
    ProgramSession& program() { return *m_program; }

    // Through the first menu; waits until the dialog is shown and active, 0 when it is not.
    WindowId openOptions() const;
    // Through the first menu's exit entry (its third); true when the program ended cleanly.
    bool closeFromMenu();
    // Waits until the main window reacts to its menu again (it ignores it during a move run):
    // opens the options dialog and closes it unapplied.
    bool waitUntilIdle() const;

private:
    const XSession& m_x;
    QTemporaryDir m_dir;
    std::filesystem::path m_root;
    std::unique_ptr<ProgramSession> m_program;
};

} // namespace corvalin::e2e
