#include "power_cut_agent.h"

#include "history/run_history.h"
#include "naming/serial_name.h"
#include "platform/file_ops.h"
#include "power_cut_checks.h"
#include "power_cut_layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <set>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

// How far a run has come, as the disk shows it: the names in the folder it fills or renames in,
// the items in the Trash, the child folders left in the source.
struct Watch {
    fs::path folder;
    bool strip = false; // count the names without a serial prefix, else every name not hidden
    int goal = 0;       // the count once the run's last file is done
    fs::path trash;     // the home trash's "files"
    fs::path source;    // a gather's source parent folder; empty otherwise
};

struct Counts {
    int entries = 0;
    int done = 0;
    int copies = 0; // hidden copies of a batch across file systems
    bool operator==(const Counts& other) const { return entries == other.entries && done == other.done; }
};

int countEntries(const fs::path& folder, bool foldersOnly = false) {
    int count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            count += name != "." && name != ".." && (!foldersOnly || entry->d_type == DT_DIR);
        }
        ::closedir(dir);
    }
    return count;
}

Counts countNames(const Watch& watch) {
    Counts counts;
    if (DIR* dir = ::opendir(watch.folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            ++counts.entries;
            counts.copies += name.starts_with(".corvalin-");
            counts.done +=
                name[0] != '.' && (!watch.strip || (!serialPrefixEnd(name) && name != "readme.txt"));
        }
        ::closedir(dir);
    }
    return counts;
}

// The phases of a run as the harness cuts in them (power_cut_agent.h), each said once a step.
class PhaseWatch {
public:
    PhaseWatch(const Watch& watch, std::string step)
        : m_watch(watch), m_step(std::move(step)), m_trashed(countEntries(watch.trash)),
          m_folders(watch.source.empty() ? 0 : countEntries(watch.source, true)) {}

    // A line of the flush log: a record of a move names pictures, the end record ends the run.
    void recordWritten(std::string_view line) {
        if (line.ends_with(" move"))
            seen("named");
        else if (line.ends_with(" end"))
            seen("end");
    }
    // What the disks show now; a phase once seen is not looked for again.
    void look(const Counts& now) {
        if (now.copies > 0)
            seen("copies");
        if (!m_said.contains("trash") && countEntries(m_watch.trash) > m_trashed)
            seen("trash");
        if (!m_watch.source.empty() && !m_said.contains("folders") &&
            countEntries(m_watch.source, true) < m_folders)
            seen("folders");
    }

private:
    void seen(const std::string& phase) {
        if (m_said.insert(phase).second)
            say("PHASE", phase + " " + m_step);
    }

    const Watch& m_watch;
    std::string m_step;
    int m_trashed;
    int m_folders;
    std::set<std::string> m_said;
};

// Starts the command with its output on a pipe (so Corvalin writes no progress lines) and its
// flush log (the bench's flush model, preloaded) on another; returns the pipes' reading ends.
pid_t startProgram(const std::vector<std::string>& command, int& output, int& flushLog) {
    int fds[2], log[2];
    if (::pipe(fds) != 0 || ::pipe(log) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]); // before descriptor 3 is given to the log
        ::close(log[0]);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::dup2(log[1], 3);
        const char* asan = std::getenv("ASAN_OPTIONS");
        // The model comes before the sanitizer's runtime; that is harmless here.
        ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
        ::setenv("LD_PRELOAD", CORVALIN_FLUSH_MODEL_LIBRARY, 1);
        ::setenv("CORVALIN_FLUSH_LOG_FD", "3", 1);
        std::vector<char*> arguments;
        for (const std::string& argument : command)
            arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        ::execv(arguments[0], arguments.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    ::close(log[1]);
    output = fds[0];
    flushLog = log[0];
    return pid;
}

// Reads what is there; false at the end of the pipe.
bool readSome(int fd, std::string& pending) {
    char buffer[4096];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    pending.append(buffer, std::size_t(std::max<ssize_t>(length, 0)));
    return length > 0;
}

// Runs one command to its end while the watch goes on; returns its exit status.
int runWatched(const std::vector<std::string>& command, const Watch& watch, const Counts& start,
               const std::string& step, bool& first, bool& last) {
    int output = -1, flushLog = -1;
    const pid_t pid = startProgram(command, output, flushLog);
    if (pid < 0)
        return -1;
    PhaseWatch phases(watch, step);
    std::string pending, logged;
    for (bool open = true, logOpen = true; open || logOpen;) {
        pollfd ready[2] = {{open ? output : -1, POLLIN, 0}, {logOpen ? flushLog : -1, POLLIN, 0}};
        if (::poll(ready, 2, 5) > 0) {
            if (ready[0].revents)
                open = readSome(output, pending);
            if (ready[1].revents)
                logOpen = readSome(flushLog, logged);
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                say("OUT", pending.substr(0, end));
            for (std::size_t end; (end = logged.find('\n')) != std::string::npos; logged.erase(0, end + 1)) {
                const std::string line = logged.substr(0, end);
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
                if (line.starts_with("PC-RECORD "))
                    phases.recordWritten(line);
            }
        }
        const Counts now = countNames(watch);
        if (!first && !(now == start))
            say("FIRST", step), first = true;
        if (first && !last && now.done == watch.goal)
            say("LAST", step), last = true;
        phases.look(now);
    }
    if (!pending.empty())
        say("OUT", pending);
    ::close(output);
    ::close(flushLog);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The runs of the scenario's command; for an undo, one command a run not yet undone, newest first.
std::vector<std::vector<std::string>> commandsOf(const Layout& layout, const std::string& step) {
    if (step == "undo") {
        std::vector<std::vector<std::string>> commands;
        const auto runs = listRuns(layout.files().history());
        for (const RunSummary& run : runs ? runs.value() : std::vector<RunSummary>()) {
            if (run.state != RunState::Undone && run.state != RunState::Damaged)
                commands.push_back({CORVALIN_BINARY, "undo", run.id});
        }
        return commands;
    }
    if (layout.strips())
        return {{CORVALIN_BINARY, "strip", layout.stripFolder().native()}};
    return {{CORVALIN_BINARY, "gather", "--delete-folders", layout.source().native(),
             layout.destination().native()}};
}

Watch watchOf(const Layout& layout, const std::string& step) {
    const bool undo = step == "undo";
    const fs::path trash = layout.home() / ".local/share/Trash/files";
    if (layout.strips())
        return {layout.stripFolder(), true, undo ? 0 : layout.pictures, trash, {}};
    return {layout.destination(), false, undo ? 0 : layout.pictures, trash,
            undo ? fs::path() : layout.source()};
}

// A start after the cut that fails is a finding; the user would start again, and so does `again`,
// once, to find what follows.
int runStep(const Layout& layout, const std::string& step) {
    const Watch watch = watchOf(layout, step);
    const Counts start = countNames(watch);
    bool first = false, last = false;
    say("START", step);
    for (const auto& command : commandsOf(layout, step)) {
        for (int attempt = 0; attempt < (step == "again" ? 2 : 1); ++attempt) {
            const int status = runWatched(command, watch, start, step, first, last);
            say("EXIT", std::to_string(status));
            if (status == 0)
                break;
            say("PROBLEM",
                "corvalin " + command[1] + " (" + step + ") ended with status " + std::to_string(status));
        }
    }
    say("END", step);
    return 0;
}

} // namespace

void say(const std::string& kind, const std::string& text) {
    std::printf("PC-%s %s\n", kind.c_str(), text.c_str());
    std::fflush(stdout);
}

int runGuestAgent(int argc, char* argv[]) {
    if (argc != 5 || std::strcmp(argv[1], kGuestFlag) != 0) {
        std::fprintf(stderr, "usage: %s %s LAYOUT_FILE run|check STEP\n", argv[0], kGuestFlag);
        return 2;
    }
    const Result<std::string> text = readWholeFile(argv[2]);
    const std::optional<Layout> layout = text ? decodeLayout(text.value()) : std::nullopt;
    if (!layout) {
        say("PROBLEM", std::string("the agent cannot read its layout ") + argv[2]);
        return 1;
    }
    const std::string command = argv[3], step = argv[4];
    if (command == "run")
        return runStep(*layout, step);
    return checkStep(*layout, step);
}

} // namespace corvalin::test
