#pragma once

#include "engine/move_run.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvalin {

// What a move run did, file by file.
struct GatherCounts {
    long pictures = 0;         // moved into the destination
    long others = 0;           // removed as files that are not pictures
    long duplicates = 0;       // pictures removed because the destination held their bytes already
    long unchosenPictures = 0; // of `others`: names that read as pictures of a type not chosen
    // Child folders removed after the move (MoveRunResult::foldersRemoved).
    long childFolders = 0;
    std::optional<std::int32_t> firstNumber;
    std::optional<std::int32_t> lastNumber;
    long numbersSkipped = 0; // the run's own count (MoveRunResult), not the tally's
};

// What the run was asked to remove, and how.
struct RemovalChoices {
    bool childFolders = false; // after a completed run
    bool permanent = false;    // for good rather than to the Trash
};

// The result line that both the command line and the window's notification give: how the run
// ended, the pictures moved with their numbers, the files removed.
std::string gatherSummary(MoveOutcome outcome, const GatherCounts& counts, RemovalChoices removed);

// Counts what a move run did from what it reports to its observer. A file counts once it is gone
// from its folder: a failure may have struck it, a download still arriving stays, and a picture
// bound for another file system leaves only when its batch is named, a folder or more later. Such
// files wait and are looked at again at each folder's end and at the run's end; one the run says
// has left is not looked for.
class GatherTally {
public:
    // The types the run takes for pictures, so that the pictures among the files removed are told.
    void setPictureTypes(const PictureTypes& types) { m_types = types; }

    // The run took up `file`: the one before it is settled.
    void fileStarted(const std::filesystem::path& file);
    // The picture in hand is to get `newName`; called again while a name is taken, the last counts.
    void nameChosen(std::string_view newName);
    // The picture in hand is a duplicate, removed instead of moved.
    void duplicateFound();
    // The file in hand is known to be gone: it is counted without being looked for.
    void fileLeft();
    // Settles the file in hand (a run's progress shows counts up to the file before it).
    void settle();
    // Looks again at the files still in their folders, as far as they may have left by now.
    void folderFinished();
    // The run has ended.
    const GatherCounts& finish();

    const GatherCounts& counts() const { return m_counts; }

private:
    struct Handled {
        std::filesystem::path file;
        long order = 0;                     // in the run's order of handling
        std::optional<std::int32_t> number; // set for a picture
        bool duplicate = false;
        bool left = false;
    };
    bool countIfGone(const Handled& handled);

    GatherCounts m_counts;
    PictureTypes m_types;
    long m_handled = 0;
    long m_firstOrder = 0; // of the pictures counted so far, the first and the last handled
    long m_lastOrder = 0;
    std::optional<Handled> m_inHand;
    std::vector<Handled> m_waiting;
};

} // namespace corvalin
