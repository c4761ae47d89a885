#include "power_cut_agent.h"

#include "history/run_history.h"
#include "naming/serial_name.h"
#include "platform/file_ops.h"
#include "power_cut_checks.h"
#include "power_cut_layout.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

// How far a run has come, as the disk shows it: the names in the folder it fills or renames in.
struct Watch {
    fs::path folder;
    bool strip = false; // count the names without a serial prefix, else every name not hidden
    int goal = 0;       // the count once the run's last file is done
};

struct Counts {
    int entries = 0;
    int done = 0;
    bool operator==(const Counts&) const = default;
};

Counts countNames(const Watch& watch) {
    Counts counts;
    if (DIR* dir = ::opendir(watch.folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            ++counts.entries;
            counts.done +=
                name[0] != '.' && (!watch.strip || (!serialPrefixEnd(name) && name != "readme.txt"));
        }
        ::closedir(dir);
    }
    return counts;
}

// Starts the command with its output on a pipe (so Corvalin writes no progress lines), and returns
// the pipe's reading end.
pid_t startProgram(const std::vector<std::string>& command, int& output) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        std::vector<char*> arguments;
        for (const std::string& argument : command)
            arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        ::execv(arguments[0], arguments.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    output = fds[0];
    return pid;
}

// Runs one command to its end while the watch goes on; returns its exit status.
int runWatched(const std::vector<std::string>& command, const Watch& watch, const Counts& start,
               const std::string& step, bool& first, bool& last) {
    int output = -1;
    const pid_t pid = startProgram(command, output);
    if (pid < 0)
        return -1;
    std::string pending;
    for (bool open = true; open;) {
        pollfd ready{output, POLLIN, 0};
        if (::poll(&ready, 1, 5) > 0) {
            char buffer[4096];
            const ssize_t length = ::read(output, buffer, sizeof buffer);
            open = length > 0;
            pending.append(buffer, std::size_t(std::max<ssize_t>(length, 0)));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                say("OUT", pending.substr(0, end));
        }
        const Counts now = countNames(watch);
        if (!first && !(now == start))
            say("FIRST", step), first = true;
        if (first && !last && now.done == watch.goal)
            say("LAST", step), last = true;
    }
    if (!pending.empty())
        say("OUT", pending);
    ::close(output);
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
    if (layout.strips())
        return {layout.stripFolder(), true, undo ? 0 : layout.pictures};
    return {layout.destination(), false, undo ? 0 : layout.pictures};
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
