#pragma once

#include "app/settings_codec.h"
#include "app/startup.h"
#include "child_process.h"
#include "engine/move_run.h"
#include "history/run_journal.h"
#include "move_fixture.h"
#include "platform/file_ops.h"

#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

// What the crash harnesses share: the program around one move run, as a child to kill, and the
// way a kill is aimed at a point of the work as seen from outside.
namespace corvalin::test {

// What the program does from its start to its close around one move run: start-up with its
// settings files, the run with its journal from the saved source folder to the saved destination,
// shutdown.
inline int runProgram(const SettingsFiles& files) {
    Module1 vars;
    if (runStartup(vars, files).outcome != StartupOutcome::Completed)
        return 3;
    RunStart start;
    start.serialNo = vars.SerialNo;
    start.source = vars.SourcePath;
    start.destination = vars.DestPath;
    auto journal = RunJournal::create(files.history(), start);
    if (!journal)
        return 6;
    ScriptedObserver observer; // the window's part: the destination pane's folder, no cancel
    observer.dest = vars.DestPath;
    std::vector<std::filesystem::path> folderList;
    MoveRun run(vars, files, observer);
    run.setJournal(&journal.value());
    const MoveRunResult result = run.run(vars.SourcePath, vars.OptFlags[0].isOn(), folderList);
    const bool completed = result.outcome == MoveOutcome::Completed;
    if (!journal.value().finish(completed ? kOutcomeCompleted : kOutcomeFailed))
        return 7;
    if (!writeShutdownFiles(vars, files))
        return 4;
    return completed ? 0 : 5;
}

// The user's last choice, as the settings file keeps it: these folders, and the child folders
// deleted after the move.
inline bool chooseFolders(const SettingsFiles& files, const std::filesystem::path& source,
                          const std::filesystem::path& destination) {
    Module1 chosen;
    chosen.SourcePath = source;
    chosen.DestPath = destination;
    chosen.OptFlags[0] = OptionValue::number(1);
    std::filesystem::create_directories(files.settingsFolder);
    return writeFileAtomically(files.settingsFile(), encodeSettings(chosen)).ok();
}

// The number of names in a folder that do not start with "." (every entry when `all`).
inline int countEntries(const std::filesystem::path& folder, bool all) {
    int count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            count += std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != ".." &&
                     (all || entry->d_name[0] != '.');
        ::closedir(dir);
    }
    return count;
}

struct Kill {
    int progress = -1; // -1: right after the start, `delay` on
    long delay = 0;    // microseconds after the point is reached
};

// Runs `body` in a child and kills it as `kill` says (never, given nothing): once `progressNow`
// reaches the kill's point, after its delay. True when the kill cut it off, false when it ended by
// itself first.
inline bool runAndKill(const std::function<int()>& body, const std::function<int()>& progressNow,
                       const Kill* kill, int& exitStatus) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    bool ended = false;
    while (kill && kill->progress >= 0 && progressNow() < kill->progress && !ended) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        ::usleep(200);
    }
    if (kill && !ended) {
        ::usleep(useconds_t(kill->delay));
        ::kill(pid, SIGKILL);
    }
    if (!ended)
        ::waitpid(pid, &status, 0);
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return WIFSIGNALED(status);
}

// What `harness` found, given a destination on another file system than `work`: a folder in
// /dev/shm, or where /dev/shm lies on the work folder's own, a private tmpfs mounted in a child
// (whose findings go to standard error). Nothing when no second file system can be had.
inline std::optional<std::string>
acrossFileSystems(const std::filesystem::path& work,
                  const std::function<std::string(const std::filesystem::path&)>& harness) {
    if (const auto other = otherFileSystemDir())
        return harness(other->path().toStdString());
    const std::filesystem::path destination = work / "destination";
    std::filesystem::create_directories(destination);
    const int result = runInChild([&] {
        if (!mountPrivateTmpfs(destination, "256m"))
            return skipExit;
        const std::string problems = harness(destination);
        std::fprintf(stderr, "%s", problems.c_str());
        return problems.empty() ? 0 : 1;
    });
    if (result == skipExit)
        return std::nullopt;
    return result == 0 ? std::string() : std::string("see the standard error above\n");
}

inline constexpr const char* kNoSecondFileSystem =
    "no second file system: /dev/shm is the work folder's, and private mounts are refused";

} // namespace corvalin::test
