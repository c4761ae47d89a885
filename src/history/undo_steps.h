#pragma once

#include "history/journal_reader.h"
#include "history/undo.h"
#include "history/undo_folders.h"
#include "history/undo_log.h"
#include "history/undo_reach.h"

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
// still the file the record describes. Each item is reached by its name in a folder held open
// from the run's roots (undo_folders.h); a record naming a place where the run never acted is
// left, not carried out.
class UndoSteps {
public:
    UndoSteps(UndoLog& log, const JournalContents& contents, const UndoReach& reach);

    // `line` is where the record stands in the journal.
    UndoStep undo(const JournalRecord& record, std::size_t line);

private:
    // What has the name of `path` now: nothing, or what it is (a link included, never followed).
    using Found = ::corvalin::Result<std::optional<HeldEntry>>;
    Found look(const std::filesystem::path& path);

    UndoStep undoMove(const JournalRecord& record, std::size_t line);
    UndoStep undoTrash(const JournalRecord& record, std::size_t line);
    UndoStep undoDelete(const JournalRecord& record, std::size_t line);
    UndoStep undoFolderMade(const JournalRecord& record, std::size_t line);
    UndoStep putBack(const JournalRecord& record, std::size_t line);
    bool emptiedByAnEarlierPass(const JournalRecord& record, std::size_t line, const HeldEntry& atOrigin);
    Status moveBack(const JournalRecord& record, const HeldFolder& origin);
    Status restore(const JournalRecord& record, const HeldFolder& origin);
    UndoStep makeAgain(const std::filesystem::path& folder, std::size_t line);
    UndoStep notThere(const JournalRecord& record, std::size_t line,
                      const std::optional<HeldEntry>& atOrigin) const;
    // The folder an item goes back into (the one holding `origin`): there, or made again when the
    // run removed it. `item` is named when it cannot go back.
    std::optional<UndoStep> prepareFolder(const std::filesystem::path& origin,
                                          const std::filesystem::path& item);
    Status beginStep(std::size_t line);
    UndoStep alreadyOrNothing(std::size_t line) const;

    UndoLog& m_log;
    const UndoReach& m_reach;
    UndoFolders m_folders;
    RunKind m_kind = RunKind::Move;
    std::filesystem::path m_source;
    std::unordered_set<std::int64_t> m_undoneBefore; // lines an earlier undo pass began on
};

} // namespace corvalin
