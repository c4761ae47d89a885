#pragma once

#include "platform/result.h"

#include <filesystem>
#include <optional>
#include <vector>

// Undoing a past run from its journal. Undo never replaces anything and never touches a file that
// changed since its run; it decides what the run really did by looking at the disk, so a run or an
// undo killed at any instant is undone by undoing again. Serial numbers are never handed back.
namespace corvalin {

// How an undo talks to its window or command line.
class UndoObserver {
public:
    virtual ~UndoObserver() = default;
    // Lets the window handle what is pending (repaint, a click on Cancel).
    virtual void yield() = 0;
    // Asked before each item; either one stops the undo before it touches another.
    virtual bool cancelRequested() = 0;
    virtual bool stopRequested() = 0; // the program is closing
    // The item about to be put back, then the items done of all.
    virtual void itemStarted(const std::filesystem::path& /*item*/) {}
    virtual void progress(int /*done*/, int /*total*/) {}
};

enum class UndoLeftReason {
    NameTaken,      // something else has the original name now
    Changed,        // renamed, edited, replaced or deleted since the run (or gone from the Trash)
    NotEmpty,       // a folder the run made holds something now
    FolderGone,     // the folder it came from is gone and is not the run's to make again
    DeletedForGood, // removed without the Trash: nothing to bring back
    DuplicateGone,  // a picture deleted for good as a duplicate: its twin holds the same bytes
    OutsideTheRun   // its record names a place where its run never acted: not carried out
};

struct UndoLeftItem {
    std::filesystem::path path; // where the item is now (or was, when it is gone)
    UndoLeftReason reason;
    std::filesystem::path twin = {}; // DuplicateGone: the picture with the same bytes
};

struct UndoOutcome {
    int cameBack = 0;
    int alreadyBack = 0; // put back by an earlier undo of the same run
    std::vector<UndoLeftItem> left;
    bool stopped = false;       // cancelled, or the program is closing
    std::optional<Error> error; // the failure that stopped the undo
    // The journal does not read to its end (its last record cut short, or one damaged): what it
    // recorded after this line was not undone.
    std::optional<std::size_t> journalEndsAfterLine;
};

// Undoes the run of `journalFile`, newest action first, and records the undo in the same journal.
// Before anything goes back, moves across file systems that a kill interrupted are finished in
// the folders the run moved between. Only what lies where the run acted is touched (undo_reach.h),
// each folder on the way opened from its root without following a link; a journal that does not
// read to its end is undone as far as it reads.
UndoOutcome undoRun(const std::filesystem::path& journalFile, UndoObserver& observer);

} // namespace corvalin
