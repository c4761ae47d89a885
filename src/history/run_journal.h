#pragma once

#include "history/journal_reader.h"
#include "history/journal_record.h"
#include "platform/append_file.h"
#include "platform/removal.h"
#include "platform/result.h"
#include "platform/trash_queue.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace corvalin {

struct RunStart {
    RunKind kind = RunKind::Move;
    std::int64_t time = 0; // seconds since the epoch; 0 for now
    std::int32_t serialNo = 0;
    std::filesystem::path source;      // the folder the run works in (the source parent folder)
    std::filesystem::path destination; // where pictures go; empty when the run has no destination
    std::string options;               // the options that shape the run, as "name=value" words
};

// What the user reads when a run cannot write its journal: the folder, the reason, and that the
// run did not start, since it would have had no way back.
std::string describeNoJournal(const Error& error);
inline constexpr const char* kNoJournalText = "元に戻すための記録を書けないため、処理を始めませんでした。";

// The journal of one run, written as the run works. Every record reaches the kernel before the
// action it describes, so a killed run leaves a journal that covers everything it did. The start is
// on the disk before the run touches a file; after that the records are flushed at most about once a
// second (flushIfDue) and at the end, so a power loss costs the undo of at most the last second's
// work, while on a disk whose flush takes milliseconds the run does not wait for every folder.
// Held under a lock while open, so that nothing else acts on a run still going.
class RunJournal {
public:
    // Makes the history folder when missing, then a new journal there that holds the run's start,
    // on the disk with its name in the folder. The error names the folder and the reason.
    static Result<RunJournal> create(const std::filesystem::path& historyFolder, const RunStart& start);
    // Opens a finished run's journal for an undo pass, with its records. A record cut short by a
    // kill is cut off, so the next record starts on a line of its own.
    static Result<RunJournal> reopen(const std::filesystem::path& file, JournalContents& contents);

    // A picture about to be moved from `from` to `to` under `serialNo`; `identity` is what its
    // folder showed of it (never looked up again by its path).
    Status recordMove(std::int32_t serialNo, std::filesystem::path from, std::filesystem::path to,
                      const FileIdentity& identity);
    Status recordDelete(const std::filesystem::path& item, bool folder,
                        const std::filesystem::path& twin = {});
    // An item about to go to the Trash (at its reserved place) or to be deleted for good; `twin`
    // names the picture a duplicate equals.
    Status recordRemoval(const RemovalStep& step, const std::filesystem::path& twin = {});
    Status recordFolderMade(const std::filesystem::path& folder);
    Status append(const JournalRecord& record);
    // The action recorded on `line` did not take place (it failed and changed nothing, or what it
    // did was undone at once), so that the journal, the history and undo hold only what was done:
    // the record is cut off when it is the last one, else a record saying so follows.
    Status recordNotDone(std::size_t line);
    // recordNotDone for the record appended last; nothing to do when it was taken back already.
    Status takeBackLast();

    // `removal` with each of its steps recorded here before it is taken (`twin`, when given, is
    // read at each step: the picture a duplicate equals). What it puts in the Trash waits in its
    // folder for this journal's next flush, which puts the item's info file on the disk with the
    // records; the item moves right after.
    Removal recordingRemoval(const Removal& removal, const std::filesystem::path* twin = nullptr);

    // The group commit: everything appended so far on the disk, with the info files of the items
    // waiting for the Trash, then those items moved in. An item that cannot go gets a record saying
    // so and stays where it was; the first such failure is returned, after all were tried. Nothing
    // to do when nothing was appended since.
    Status flush();
    // The records appended so far on the disk, and nothing else: the items waiting for the Trash
    // go at the next flush, as ever.
    Status flushRecords();
    // flush() when the last one is a second old or more: the pace a run flushes at as it goes.
    // Cheap enough to be asked between any two files.
    Status flushIfDue();
    // flush() when items wait for the Trash, so that they go in now; nothing to do otherwise.
    Status settle();
    // The run's outcome (kOutcomeCompleted, ...) recorded and on the disk, and the file closed,
    // after the items still waiting for the Trash have gone. The journal of a run that did nothing
    // to any file is removed instead.
    Status finish(const char* outcome);
    // Everything appended on the disk, and the file closed (after an undo pass).
    Status close();

    const std::filesystem::path& file() const { return m_file.path(); }
    // The line the next record will stand on.
    std::size_t nextLine() const { return m_lines + 1; }
    bool hasActions() const { return m_actions > 0; }

private:
    RunJournal(AppendFile file, std::size_t lines, std::size_t bytes);
    Status syncRecords();
    Status moveWaitingItems();

    struct LastRecord {
        std::size_t line = 0;
        std::size_t start = 0; // in bytes
        bool action = false;
        bool move = false;
    };

    AppendFile m_file;
    HeldFolder m_folder;        // the history folder it was made in; not held for an undo pass
    std::uint64_t m_device = 0; // the journal's file system
    std::size_t m_lines = 0;
    std::size_t m_bytes = 0; // the file's length
    std::size_t m_actions = 0;
    std::size_t m_moves = 0; // move records standing, done or withdrawn since
    std::optional<LastRecord> m_last;
    bool m_unsynced = false;
    std::chrono::steady_clock::time_point m_lastFlush;
    std::shared_ptr<TrashQueue> m_waiting; // items for the Trash waiting for the next flush
};

// The journal's file name for a run started at `time` (local time, to the second); `attempt` > 1
// tells runs of the same second apart.
std::string journalFileName(std::int64_t time, int attempt);

inline constexpr const char* kJournalExtension = ".journal";

} // namespace corvalin
