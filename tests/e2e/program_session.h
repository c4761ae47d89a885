#pragma once

#include "x_session.h"

#include <QProcess>
#include <QRect>

#include <filesystem>
#include <string>

namespace corvalin::test {
class HeldMove;
}

namespace corvalin::e2e {

// The settings line as the program writes it: three quoted paths, the running flag and the
// delete-after-move option, ended by CR LF.
std::string settingsLine(const std::filesystem::path& source, const std::filesystem::path& destination,
                         const std::filesystem::path& maker, int runFlag, int deleteOption);

// The program started from a copy of itself in a folder of its own, so that its settings files
// live there, and shown on an X session. Places are the designed pixel places of the main
// window's client area, which lies below the menu bar.
class ProgramSession {
public:
    ProgramSession(const XSession& x, std::filesystem::path folder);
    ProgramSession(const ProgramSession&) = delete;
    ProgramSession& operator=(const ProgramSession&) = delete;
    ~ProgramSession();

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path settingsFile() const { return m_folder / "Corvalin.ini"; }
    std::filesystem::path counterFile() const { return m_folder / "Quillet.ini"; }
    // The program's home, beside its folder: what it trashes lands here, never in a real trash.
    std::filesystem::path home() const { return m_folder.parent_path() / "home"; }
    std::filesystem::path trash() const { return home() / ".local/share/Trash"; }

    // Starts the program and waits until its main window is shown and active; an empty text on
    // success, otherwise what went wrong.
    QString start();
    // The next start holds the program at its first rename into the folder `held` watches
    // (held.attached() says whether this system can).
    void holdMovesWith(test::HeldMove& held) { m_held = &held; }
    WindowId mainWindow() const { return m_mainWindow; }
    int menuBarHeight() const { return m_menuBarHeight; }

    // A click at the centre of a control of the main window, given by its designed place.
    bool clickControl(const QRect& place, const QString& modifier = {}) const;
    // Chooses entry `entry` (counted from 0, separators not counted) of menu `menu` (0 or 1).
    bool chooseMenuEntry(int menu, int entry) const;

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    bool waitForExit(int timeoutMs);
    // Ended by itself with exit code 0 (a sanitizer report makes it fail).
    bool exitedCleanly() const;
    // What the program wrote to its error output, for a failure message.
    QString errorOutput() const;

private:
    const XSession& m_x;
    std::filesystem::path m_folder;
    QProcess m_process;
    test::HeldMove* m_held = nullptr;
    WindowId m_mainWindow = 0;
    int m_menuBarHeight = 0;
};

} // namespace corvalin::e2e
