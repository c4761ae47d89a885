#pragma once

#include "platform/file_identity.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What a run journal holds, record by record. A run appends each record before its action takes
// effect; undo reads them back and looks at the disk to learn what really happened.
namespace corvalin {

enum class RunKind {
    Move,               // the move-and-number run
    Strip,              // the serial numbers cut off in one folder
    StripIntoSubfolder, // cut off while moving chosen files into a new subfolder
    MakeFolders,        // the numbered child-folder maker
    RemoveFolder        // the parent-folder remover
};

enum class RecordType {
    Header,     // the format and its version, the first line of every journal
    Start,      // the run's kind, time, serial number, folders and options
    Move,       // a picture about to be moved under a serial-numbered name
    Rename,     // a file about to get its stripped name
    Trash,      // a file or folder about to go to the Trash
    Delete,     // a file or folder about to be deleted for good
    MakeFolder, // a folder about to be made
    NotDone,    // the action recorded on an earlier line did not take place after all
    End,        // the run's outcome
    UndoStart,  // an undo of the run begins
    UndoStep,   // the action on a given line is about to be undone
    UndoEnd     // that undo's outcome
};

// One record. Which members a type uses is said beside each.
struct JournalRecord {
    JournalRecord() = default;
    explicit JournalRecord(RecordType recordType) : type(recordType) {}

    RecordType type = RecordType::Header;
    RunKind kind = RunKind::Move; // Start
    std::int64_t time = 0;        // Start, UndoStart: seconds since the epoch
    std::int64_t number = 0;      // Start, Move: serial number; UndoStep: the line undone;
                                  // NotDone: the line whose action did not take place
    std::filesystem::path from;   // Start: source; Move, Rename: old path; Trash, Delete,
                                  // MakeFolder: the item
    std::filesystem::path to;     // Start: destination; Move, Rename: new path; Trash: the
                                  // trashed item
    std::filesystem::path info;   // Trash: the info file
    bool folder = false;          // Trash, Delete
    FileIdentity identity;        // Move, Rename, Trash: the item just before its action
    std::string text;             // Start: options; End, UndoEnd: the outcome
    std::filesystem::path twin;   // Trash, Delete: for a picture removed as a duplicate, the
                                  // picture in the destination with the same bytes
    bool operator==(const JournalRecord&) const = default;
};

inline constexpr const char* kJournalFormat = "corvalin-journal";
inline constexpr const char* kJournalVersion = "1";

// The outcomes an End or UndoEnd record holds.
inline constexpr const char* kOutcomeCompleted = "completed";
inline constexpr const char* kOutcomeCancelled = "cancelled";
inline constexpr const char* kOutcomeFailed = "failed";

std::vector<std::string> fieldsOf(const JournalRecord& record);

// Nothing when the fields are no record of this format: an unknown tag, a wrong number of fields,
// a number that does not read, a path that is not absolute.
std::optional<JournalRecord> recordFromFields(const std::vector<std::string>& fields);

// Local time with its offset from UTC ("2024-05-01T14:22:33+0900"), and back.
std::string formatLocalTime(std::int64_t secondsSinceEpoch);
std::optional<std::int64_t> parseLocalTime(const std::string& text);

} // namespace corvalin
