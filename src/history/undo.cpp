#include "history/undo.h"

#include "history/undo_folders.h"
#include "history/undo_steps.h"
#include "platform/file_ops.h"
#include "platform/interrupted_moves.h"

#include <cerrno>
#include <ctime>
#include <memory>
#include <set>
#include <unordered_set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The moves the run withdrew, by source and new name: a disk that went away as the run stopped
// (a stick pulled out) kept their copies, which a recovery would find whole and finish.
std::set<std::pair<fs::path, fs::path>> movesWithdrawn(const JournalContents& contents) {
    std::set<std::pair<fs::path, fs::path>> withdrawn;
    for (const std::size_t line : linesNotDone(contents)) {
        const JournalRecord& record = contents.records[line - 1];
        if (record.type == RecordType::Move)
            withdrawn.insert({record.from, record.to.filename()});
    }
    return withdrawn;
}

// Undo puts every picture back where it was: such a copy goes and its source stays, as the run
// meant, rather than the source going and the copy, which no record holds, staying. An empty file
// under a name the run recorded and withdrew is its create, cut before the first byte.
Status withdrawCopies(const HeldFolder& folder, const std::set<std::pair<fs::path, fs::path>>& withdrawn) {
    if (withdrawn.empty())
        return {};
    const Result<std::vector<InterruptedMove>> moves = findInterruptedMoves(folder);
    if (!moves)
        return moves.error();
    for (InterruptedMove move : moves.value()) {
        const bool ours = move.finishes || (!move.final.empty() && move.copyIdentity.size == 0);
        if (!ours || !withdrawn.contains({move.source, move.final.filename()}))
            continue;
        move.finishes = false;
        move.removesCopy = true;
        if (Status settled = settleInterruptedMove(folder, move); !settled)
            return settled;
    }
    return {};
}

// A kill during a move across file systems leaves a picture under two names, or a part of a copy;
// the folders the run moved between are put in order before anything is judged there (only those
// where the run acted, each reached from its root without following a link).
Status finishInterruptedMoves(const JournalContents& contents, const UndoReach& reach) {
    const std::set<std::pair<fs::path, fs::path>> withdrawn = movesWithdrawn(contents);
    std::set<fs::path> items;
    for (const JournalRecord& record : contents.records) {
        if (record.type == RecordType::Move && reach.allows(record)) {
            items.insert(record.to);
            items.insert(record.from);
        }
    }
    UndoFolders folders(reach);
    std::set<fs::path> done;
    for (const fs::path& item : items) {
        if (!done.insert(item.parent_path()).second)
            continue;
        const Result<const HeldFolder*> folder = folders.holding(item);
        if (!folder && (folder.code() == ENOENT || folder.code() == ENOTDIR))
            continue;
        if (!folder)
            return folder.error();
        if (Status tidied = withdrawCopies(*folder.value(), withdrawn); !tidied)
            return tidied;
        if (Status recovered = recoverInterruptedMoves(*folder.value()); !recovered)
            return recovered;
        folders.tidy();
    }
    return {};
}

Error busyJournal(const fs::path& file) {
    return Error{"元に戻す処理", file, 0,
                 "この実行の記録は、まだ書き込み中です（実行中か、取り消し中です）。"};
}

void tally(const UndoStep& step, UndoOutcome& outcome) {
    switch (step.result) {
    case UndoStep::Result::CameBack:
        ++outcome.cameBack;
        break;
    case UndoStep::Result::AlreadyBack:
        ++outcome.alreadyBack;
        break;
    case UndoStep::Result::Left:
        outcome.left.push_back(*step.left);
        break;
    case UndoStep::Result::Failed:
        outcome.error = step.error;
        break;
    case UndoStep::Result::NothingToDo:
        break;
    }
}

const fs::path& itemOf(const JournalRecord& record) {
    return record.to.empty() ? record.from : record.to;
}

// The actions of the run that took place, newest first, each with its line; none after a damaged
// line.
void undoActions(UndoSteps& steps, const JournalContents& contents, UndoObserver& observer,
                 UndoOutcome& outcome) {
    const std::unordered_set<std::size_t> notDone = linesNotDone(contents);
    std::vector<std::size_t> lines;
    const std::size_t runRecords = contents.damagedLine ? contents.damagedLine - 1 : contents.records.size();
    for (std::size_t i = 0; i < runRecords; ++i) {
        if (isAction(contents.records[i].type) && !notDone.contains(i + 1))
            lines.push_back(i + 1);
    }
    const int total = static_cast<int>(lines.size());
    observer.progress(0, total);
    int done = 0;
    for (auto line = lines.rbegin(); line != lines.rend() && !outcome.error; ++line) {
        observer.yield();
        if (observer.cancelRequested() || observer.stopRequested()) {
            outcome.stopped = true;
            return;
        }
        const JournalRecord& record = contents.records[*line - 1];
        observer.itemStarted(itemOf(record));
        tally(steps.undo(record, *line), outcome);
        observer.progress(++done, total);
    }
}

} // namespace

UndoOutcome undoRun(const fs::path& journalFile, UndoObserver& observer) {
    UndoOutcome outcome;
    JournalContents contents;
    Result<std::unique_ptr<UndoLog>> log = openUndoLog(journalFile, contents);
    if (!log) {
        outcome.error = log.code() == EBUSY ? busyJournal(journalFile) : log.error();
        return outcome;
    }
    outcome.journalEndsAfterLine = lastLineRead(contents);
    const UndoReach reach(contents);
    Status ready = reach.refusal() ? Status(*reach.refusal()) : finishInterruptedMoves(contents, reach);
    JournalRecord start(RecordType::UndoStart);
    start.time = std::time(nullptr);
    if (ready)
        ready = log.value()->append(start);
    // On the disk before the first step: a cut from here on falls within this undo's pass, which
    // the next undo reads as whole (see lastLineRead).
    if (ready)
        ready = log.value()->flush();
    if (!ready) {
        (void)log.value()->close();
        outcome.error = ready.error();
        return outcome;
    }
    UndoSteps steps(*log.value(), contents, reach);
    undoActions(steps, contents, observer, outcome);
    const char* result = outcome.error     ? kOutcomeFailed
                         : outcome.stopped ? kOutcomeCancelled
                                           : kOutcomeCompleted;
    JournalRecord end(RecordType::UndoEnd);
    end.text = result;
    Status ended = log.value()->append(end);
    if (ended)
        ended = log.value()->close();
    if (!ended && !outcome.error)
        outcome.error = ended.error();
    return outcome;
}

} // namespace corvalin
