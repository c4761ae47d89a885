#pragma once

#include "history/journal_reader.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The past runs, as their journals in the history folder tell them.
namespace corvalin {

enum class RunState {
    Completed,       // the run ended by itself
    Interrupted,     // cancelled, stopped by a failure, or killed
    Undone,          // an undo went through all of it
    UndoInterrupted, // an undo was cancelled, failed or killed; undoing again goes on
    Running,         // its journal is still being written (a run or an undo in progress)
    Damaged          // its journal does not read
};

struct RunSummary {
    std::string id; // stable: the journal's file name without its extension
    std::filesystem::path file;
    RunKind kind = RunKind::Move;
    std::int64_t time = 0; // the start, seconds since the epoch
    std::filesystem::path source;
    std::filesystem::path destination;
    int picturesMoved = 0;
    int filesRenamed = 0;
    int filesTrashed = 0;
    int filesDeleted = 0; // deleted for good
    int foldersRemoved = 0;
    int foldersMade = 0;
    std::optional<std::int32_t> firstSerialNo; // the serial numbers the run handed out
    std::optional<std::int32_t> lastSerialNo;
    RunState state = RunState::Completed;
    std::optional<Error> damage; // why a damaged journal does not read
};

// The counts and state of one run's records (not its id, file or Running state).
RunSummary summariseRun(const JournalContents& contents);

struct JournalName {
    std::string id; // the file name without its extension
    std::filesystem::path file;
};

// The journals of the folder, by name; none when the folder does not exist.
Result<std::vector<JournalName>> journalsIn(const std::filesystem::path& historyFolder);

// Every run of the folder, newest first; none when the folder does not exist yet.
Result<std::vector<RunSummary>> listRuns(const std::filesystem::path& historyFolder);

std::filesystem::path journalFileOf(const std::filesystem::path& historyFolder, const std::string& id);

inline constexpr std::size_t kKeptRuns = 100;
inline constexpr std::int64_t kKeptDays = 90;

// Start-up tidying, after the start has taken up a run that did not end: removes the journals
// beyond the newest kKeptRuns runs or older than kKeptDays, those without a run's start, and those
// of runs that ended having done nothing. A run without its end stays whatever it holds: a power
// cut may have taken the records of what it did. Journals still being written stay.
Status pruneHistory(const std::filesystem::path& historyFolder, std::int64_t now);

} // namespace corvalin
