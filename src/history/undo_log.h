#pragma once

#include "history/journal_reader.h"
#include "platform/result.h"

#include <filesystem>
#include <memory>

namespace corvalin {

// Where an undo writes its own records: behind the run's, in the run's journal, held under its lock
// while the undo works.
class UndoLog {
public:
    virtual ~UndoLog() = default;
    virtual Status append(const JournalRecord& record) = 0;
    // Everything appended on the disk.
    virtual Status flush() = 0;
    // Everything appended on the disk, and the journal closed.
    virtual Status close() = 0;
};

// Opens a run's journal for an undo and reads it as far as it reads (parseReadableJournal): a record
// cut short at its end is cut off first; a journal damaged in the middle keeps every byte, and the
// undo's records follow the damage. EBUSY while another process writes to it.
Result<std::unique_ptr<UndoLog>> openUndoLog(const std::filesystem::path& journalFile,
                                             JournalContents& contents);

} // namespace corvalin
