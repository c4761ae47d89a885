#pragma once

#include "history/journal_record.h"
#include "platform/result.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace corvalin {

struct JournalContents {
    std::vector<JournalRecord> records; // records[i] stands on line i + 1; the header is records[0]
    bool cutShort = false;              // the file ended within a record (a kill or a power loss)
    std::size_t wholeBytes = 0;         // the bytes up to the end of the last whole record
    // readJournal: the first whole line that does not read, or stands where no run writes it, where
    // the run's records stop (0 when there is none). The records an undo appended after it follow
    // the run's in `records`, each on a line of its own further down.
    std::size_t damagedLine = 0;
};

// Reads every whole record. A last line without its line feed is a record cut short and is left
// out. A whole line that does not read, or records in an order no run writes, make the journal
// damaged: the error names the line, and nothing of it is to be acted on.
Result<JournalContents> parseJournal(std::string_view bytes, const std::filesystem::path& file);

// Reads a journal as far as it reads, for the history and undo: a record damaged in the middle ends
// the run's records there (nothing after it is acted on) instead of the whole journal, and the undo
// records appended after it are read as well. Damage before the run's start still makes the journal
// damaged.
Result<JournalContents> parseReadableJournal(std::string_view bytes, const std::filesystem::path& file);
Result<JournalContents> readJournal(const std::filesystem::path& file);

// The line of the last record read in a journal that does not read to its end (its last record cut
// short, or one damaged); nothing for a whole journal.
std::optional<std::size_t> lastLineRead(const JournalContents& contents);

// The records up to the first line that does not read, for a journal a power cut may have left
// with garbage at its end: what stands before it was written before it. `cutShort` is then true.
JournalContents parseJournalPrefix(std::string_view bytes);

// True for the records of what a run did to the files.
bool isAction(RecordType type);

// The lines of actions that a later record says did not take place: a copy removed again, an item
// that never reached the Trash. Counts, the history and undo pass over them.
std::unordered_set<std::size_t> linesNotDone(const JournalContents& contents);

} // namespace corvalin
