// The file-system matrix's agent inside the virtual machine (the test executable started as
// `--matrix-guest LAYOUT_FILE`, the disks already mounted): each scenario on each disk, with a line
// on the serial console for each row and for what Corvalin said (matrix_layout.h).
#include "history/run_history.h"
#include "matrix_checks.h"
#include "matrix_layout.h"
#include "platform/file_ops.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

void say(const std::string& kind, const std::string& text) {
    std::printf("PC-%s %s\n", kind.c_str(), text.c_str());
    std::fflush(stdout);
}

// Bytes that are not UTF-8, and control characters, as \xNN: one readable line on the console.
std::string shown(const std::string& bytes) {
    const bool utf8 = QString::fromUtf8(bytes).toUtf8() == QByteArray::fromStdString(bytes);
    std::string text;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(value));
        text += value < 0x20 || (!utf8 && value >= 0x80) ? escaped : std::string(1, byte);
    }
    return text;
}

struct Ran {
    int status = -1;
    std::string output;
};

// Runs Corvalin with `arguments` to its end, its output on the console as "PC-OUT label: line".
Ran runCorvalin(const std::vector<std::string>& arguments, const std::string& label) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        std::vector<char*> argv{const_cast<char*>(CORVALIN_BINARY)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Ran ran;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        ran.output.append(buffer, std::size_t(got));
    ::close(pipeFds[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (std::size_t start = 0, end; start < ran.output.size(); start = end + 1) {
        end = std::min(ran.output.find('\n', start), ran.output.size());
        say("OUT", label + ": " + shown(ran.output.substr(start, end - start)));
    }
    say("OUT", label + ": status " + std::to_string(ran.status));
    return ran;
}

// Whether the disk of `folder` renames a folder without replacing in one call, or the system's reason.
std::string noReplaceRename(const fs::path& folder) {
    const fs::path from = folder / "rename-probe", to = folder / "rename-probe-renamed";
    if (::mkdir(from.c_str(), 0755) != 0)
        return std::strerror(errno);
    const bool renamed = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
    const std::string result = renamed ? "yes" : std::strerror(errno);
    ::rmdir(from.c_str());
    ::rmdir(to.c_str());
    return result;
}

bool isMountPoint(const fs::path& folder) {
    struct stat own {
    }, parent{};
    return ::stat(folder.c_str(), &own) == 0 && ::stat(folder.parent_path().c_str(), &parent) == 0 &&
           own.st_dev != parent.st_dev;
}

class DiskRows {
public:
    DiskRows(const MatrixLayout& layout, const MatrixDisk& disk) : m_layout(layout), m_disk(disk) {}

    void run() {
        if (!isMountPoint(m_disk.mountPoint)) {
            for (const QString& scenario : kMatrixScenarios)
                row(scenario.toStdString(), "the disk did not mount\n");
            return;
        }
        m_foldsCase = foldsCase(m_disk.mountPoint);
        newRun(); // the runs on the disks before
        across();
        within();
    }

private:
    // A gather from the ext4 disk onto this one, a strip of its destination, both undone.
    void across() {
        const fs::path source = m_layout.home / ("across-" + m_disk.kind),
                       destination = m_disk.mountPoint / "across";
        const std::vector<bool> placed = stageTrialFiles(source);
        ::mkdir(destination.c_str(), 0755);
        const std::vector<bool> fits = numberedNamesHeld(destination);
        const TreeImage before = imageOf({source, destination});
        const Ran gather =
            corvalin({"gather", "--delete-folders", source.native(), destination.native()}, "gather across");
        const std::string gatherRun = newRun();
        row("gather across", checkGather({source, destination, homeTrash() / "files", placed, fits,
                                          gather.status, gather.output}));
        const std::vector<int> pictures = picturesIn(destination);
        const Ran strip = corvalin({"strip", destination.native()}, "strip");
        const std::string stripRun = newRun();
        row("strip", checkStrip(destination, pictures, m_foldsCase, strip.status));
        // Newest first, as a user takes runs back.
        std::string undone = undo(stripRun);
        undone += undo(gatherRun);
        row("undo across", undone + compareTrees(before, imageOf({source, destination})));
    }

    // A gather with its source and destination on this disk, its Trash there, undone.
    void within() {
        const fs::path source = m_disk.mountPoint / "downloads", destination = m_disk.mountPoint / "pictures";
        const std::vector<bool> placed = stageTrialFiles(source);
        ::mkdir(destination.c_str(), 0755);
        const std::vector<bool> fits = numberedNamesHeld(destination);
        const TreeImage before = imageOf({source, destination});
        const Ran gather =
            corvalin({"gather", "--delete-folders", source.native(), destination.native()}, "gather within");
        const std::string gatherRun = newRun();
        const fs::path trash = diskTrash(m_disk.mountPoint);
        row("gather within", checkGather({source, destination, trash.empty() ? trash : trash / "files",
                                          placed, fits, gather.status, gather.output}));
        row("trash on it", checkTrashOnDisk(m_disk.mountPoint, source, placed, homeTrash()));
        const std::string undone = undo(gatherRun); // before the tree is read again
        row("undo within", undone + compareTrees(before, imageOf({source, destination})));
    }

    // Which trial files this disk holds under a serial number, tried in `folder`; said once.
    std::vector<bool> numberedNamesHeld(const fs::path& folder) {
        std::vector<bool> fits;
        std::string refused;
        for (const TrialFile& file : trialFiles()) {
            fits.push_back(diskHolds(folder, "000000 " + file.name));
            refused += fits.back() ? "" : " [" + shown(file.name) + "]";
        }
        if (!m_said) {
            say("NOTE", m_disk.kind + ": folds letter case: " + (m_foldsCase ? "yes" : "no") +
                            "; renames without replacing: " + noReplaceRename(folder) +
                            "; refuses the names" + (refused.empty() ? " none" : refused));
            m_said = true;
        }
        return fits;
    }

    Ran corvalin(const std::vector<std::string>& arguments, const std::string& scenario) {
        return runCorvalin(arguments, m_disk.kind + " " + scenario);
    }

    // The run the last command journaled; empty when it journaled none.
    std::string newRun() {
        std::string newest;
        const auto runs = listRuns(m_layout.files().history());
        for (const RunSummary& run : runs ? runs.value() : std::vector<RunSummary>())
            if (m_runs.insert(run.id).second)
                newest = run.id;
        return newest;
    }

    std::string undo(const std::string& run) {
        if (run.empty())
            return "no run in the history to undo\n";
        const Ran undone = corvalin({"undo", run}, "undo " + run);
        return undone.status == 0
                   ? ""
                   : "the undo of " + run + " ended with status " + std::to_string(undone.status) + "\n";
    }

    fs::path homeTrash() const { return m_layout.homeFolder() / ".local/share/Trash"; }

    void row(const std::string& scenario, const std::string& problems) {
        const std::string head = m_disk.kind + "|" + scenario + "|";
        if (problems.empty())
            say("ROW", head + "ok");
        for (std::size_t start = 0, end; start < problems.size(); start = end + 1) {
            end = std::min(problems.find('\n', start), problems.size());
            say("ROW", head + shown(problems.substr(start, end - start)));
        }
    }

    const MatrixLayout& m_layout;
    const MatrixDisk& m_disk;
    bool m_foldsCase = false;
    bool m_said = false;
    std::set<std::string> m_runs;
};

} // namespace

int runMatrixAgent(int argc, char* argv[]) {
    const Result<std::string> text = readWholeFile(argc == 3 ? argv[2] : "");
    const std::optional<MatrixLayout> layout = text ? decodeMatrixLayout(text.value()) : std::nullopt;
    if (!layout) {
        say("PROBLEM", "the matrix agent cannot read its layout");
        return 1;
    }
    for (const MatrixDisk& disk : layout->disks)
        DiskRows(*layout, disk).run();
    return 0;
}

} // namespace corvalin::test
