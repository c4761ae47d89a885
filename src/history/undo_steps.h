#pragma once

#include "history/journal_reader.h"
#include "history/run_journal.h"
#include "history/undo.h"

#include <cstdint>
#include <optional>
#include <unordered_set>

namespace corvalin {

// What undoing one record came to.
struct UndoStep {
    enum class Result { CameBack, AlreadyBack, NothingToDo, Left, Failed };
    Result result = Result::NothingToDo;
    std::optional<UndoLeftItem> left;
    std::optional<Error> error;
};

// Undoes the records of one run one at a time, each after an undo-step record in its journal.
// What the run did to an item is read from the disk: where the item is now, and whether it is
// still the file the record describes.
class UndoSteps {
public:
    UndoSteps(RunJournal& journal, const JournalContents& contents);

    // `line` is where the record stands in the journal.
    UndoStep undo(const JournalRecord& record, std::size_t line);

private:
    UndoStep undoMove(const JournalRecord& record, std::size_t line);
    UndoStep undoTrash(const JournalRecord& record, std::size_t line);
    UndoStep undoDelete(const JournalRecord& record, std::size_t line);
    UndoStep undoFolderMade(const JournalRecord& record, std::size_t line);
    UndoStep putBack(const JournalRecord& record, std::size_t line);
    UndoStep makeAgain(const std::filesystem::path& folder, std::size_t line);
    UndoStep notThere(const JournalRecord& record, std::size_t line,
                      const std::optional<FileIdentity>& atOrigin) const;
    // The folder an item goes back into: there, or made again when the run removed it.
    std::optional<UndoStep> prepareFolder(const std::filesystem::path& folder,
                                          const std::filesystem::path& item);
    Status beginStep(std::size_t line);
    UndoStep alreadyOrNothing(std::size_t line) const;

    RunJournal& m_journal;
    RunKind m_kind = RunKind::Move;
    std::filesystem::path m_source;
    std::unordered_set<std::int64_t> m_undoneBefore; // lines an earlier undo pass began on
};

} // namespace corvalin
