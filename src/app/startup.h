#pragma once

#include "app/module1.h"
#include "history/unclean_end.h"
#include "platform/result.h"

#include <filesystem>
#include <optional>

namespace corvalin {

// Where the files of the program live.
struct SettingsFiles {
    std::filesystem::path programFolder;  // holds the executable (and, for a portable copy, the files)
    std::filesystem::path settingsFolder; // holds the two files
    // Shown in both panes on a first start when set (the home folder of an installed program, whose
    // own folder holds nothing of the user's); else the program folder, as a portable copy keeps.
    std::filesystem::path firstStartFolder = {};
    // Where the run journals live; beside the settings files when not set (a portable copy).
    std::filesystem::path historyFolder = {};
    std::filesystem::path startFolder() const {
        return firstStartFolder.empty() ? programFolder : firstStartFolder;
    }
    std::filesystem::path history() const {
        return historyFolder.empty() ? settingsFolder / "history" : historyFolder;
    }
    std::filesystem::path settingsFile() const { return settingsFolder / "Corvalin.ini"; }
    std::filesystem::path counterFile() const { return settingsFolder / "Quillet.ini"; }
    // The options Corvalin.ini has no field for (app/extra_options.h).
    std::filesystem::path extraOptionsFile() const { return settingsFolder / "Corvalin.conf"; }
};

enum class StartupOutcome {
    Completed, // steps 1 to 5 done; the window sets its initial state
    // An unreadable file, a field of the wrong kind or an overflow: the window opens in its
    // designed state. SerialNo still holds the counter file's number when the settings file failed.
    Stopped,
    // A file ended too early: the settings file (and a cut-short counter file) is deleted, no
    // window opens.
    EndProgram
};

struct StartupResult {
    StartupOutcome outcome = StartupOutcome::Completed;
    // Stopped: the immediate rewrite of the settings file failed. EndProgram: a cut-short file
    // could not be deleted, so every later start would end the same way; worth telling the user.
    std::optional<Error> writeError;
    // Stopped or ended by a file that could not be read, held a field of the wrong kind or was cut
    // short: which, and why. The window says nothing of it, as it opens all the same or ends
    // silently; a command has no designed state to fall back on and says it.
    std::optional<Error> readError;
    // After an unclean end: what the start put in order before going on (history/unclean_end.h),
    // told in one message when it has something to say (describeUncleanEnd).
    UncleanEndReport uncleanEnd = {};
};

// Start-up steps 1 to 5: read both files (or take the defaults), the unclean-exit rule, RunFlag := 1
// and the immediate rewrite of the settings file. Tidies first the temporary files a killed rewrite
// left. After an unclean end, before the counter is judged, the session's half-done moves across
// file systems and its trash info files are put in order; then SerialNo goes above every number the
// session's journal and destination show (never below the counter plus one), and is written to the
// disk; a counter file cut short is restored so when a journal can tell, instead of ending the
// program. Run journals past their keeping go only after that, and only once the settings read.
StartupResult runStartup(Module1& vars, const SettingsFiles& files);

// For a command that has no start-up of its own (strip, undo), under the instance lock: after an
// unclean end, the same putting in order as a start's, then the session ended as a shutdown ends
// it, so that the next start finds nothing left to do. Nothing is done when the last session ended
// cleanly, or when either file cannot be read or restored: the next start's rules then apply.
UncleanEndReport recoverAfterUncleanEnd(const SettingsFiles& files);

// Shutdown steps 2 to 4, after the caller has taken SourcePath and DestPath from its folder lists:
// RunFlag := 0, then both files written, the counter first: a power cut between the two then leaves
// the running flag set, so the next start still counts on past the numbers given. Both writes are
// attempted; the first failure is returned.
Status writeShutdownFiles(Module1& vars, const SettingsFiles& files);

// Replaces the counter file with `serialNo`, atomically and on the disk, as the settings files are:
// neither a kill nor a power cut leaves it cut short. A run replaces it once, at its first number
// (and again after a wrap); CounterWriter writes the later numbers in place.
Status writeCounterFile(const SettingsFiles& files, std::int32_t serialNo);

} // namespace corvalin
