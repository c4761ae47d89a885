#pragma once

// What the command-line tests share: the saved state of a program copy, a tree to gather, and a
// tree's names and contents to compare.
#include "held_move.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "program_run.h"

#include <QtTest>

#include <csignal>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace corvalin::test {

inline void writeSettings(const fs::path& folder, const fs::path& source, const fs::path& dest, int runFlag,
                          int deleteOption, int counter) {
    QVERIFY(writeContent(folder / "Corvalin.ini", "\"" + source.native() + "\",\"" + dest.native() +
                                                      "\",\"\"," + std::to_string(runFlag) + "," +
                                                      std::to_string(deleteOption) + "\r\n"));
    QVERIFY(writeContent(folder / "Quillet.ini", std::to_string(counter) + "\r\n"));
}

// Prefixes already taken, a hidden file, a file that is no picture, an empty folder, a nested
// folder, a picture beside the child folders, and a name already taken in the destination.
inline void makeTree(const fs::path& root) {
    for (const char* file : {"a/000007 dog.JPG", "a/cat.jpg", "a/.hidden.jpg", "b/cat.jpg", "b/x.bmp",
                             "b/c/photo.jpeg", "top.jpg"})
        QVERIFY(writeContent(root / "src" / file, pictureContent(file)));
    QVERIFY(writeContent(root / "src/a/notes.txt", "notes"));
    fs::create_directories(root / "src/empty");
    QVERIFY(writeContent(root / "dst/000043 cat.jpg", "taken"));
}

// The program in `folder` run with `arguments`, held at its first rename into `watched` while
// `signal` is sent, so that the signal surely comes in the middle of its work however fast the
// build; then let go and waited for. Empty where this system cannot hold a program so.
inline std::optional<ProgramRun> runSignalledAtFirstMove(const fs::path& folder, const QStringList& arguments,
                                                         const fs::path& watched, int signal) {
    QProcess process;
    prepareProgram(process, folder, arguments);
    HeldMove held(watched);
    held.prepare(process);
    process.start();
    if (!process.waitForStarted() || !held.attach()) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    // Should it never come (or end first), the run ends unsignalled, which the caller sees.
    (void)held.waitUntilHeld();
    if (const auto pid = static_cast<pid_t>(process.processId()); pid > 0)
        ::kill(pid, signal);
    held.release();
    return finishedRun(process, 60000);
}

// Every path below `root`, relative, with the content of each file.
inline std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        tree[entry.path().lexically_relative(root).native()] =
            entry.is_regular_file() ? contentOf(entry) : "/";
    return tree;
}

// The built program copied into a folder of its own, so that its settings files and journals live
// there, and for each test function a fresh folder of the test's with its own home (the Trash).
class ProgramCopy {
public:
    bool install() { return copyProgram(prog()); }
    // Nothing left from the test before: neither its folder nor the program's saved state.
    void reset() {
        m_home.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<OwnHome>(root() / "home");
        for (const char* file : {"Corvalin.ini", "Quillet.ini", "Corvalin.conf"})
            fs::remove(prog() / file);
        fs::remove_all(prog() / "history");
    }
    fs::path prog() const { return m_programDir.path().toStdString(); }
    fs::path root() const { return m_dir->path().toStdString(); }
    const OwnHome& home() const { return *m_home; }

private:
    QTemporaryDir m_programDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
};

} // namespace corvalin::test
