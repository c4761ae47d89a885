#pragma once

#include "history/journal_reader.h"
#include "history/run_journal.h"
#include "platform/interrupted_moves.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What a start does after a session that never reached its shutdown (the running flag still set):
// a kill keeps everything the program handed to the kernel, a power cut does not, so the journals,
// the Trash and the destination are read back and put in order before anything else happens.
namespace corvalin {

// One journal that the session wrote to, read as far as it reads.
struct SessionJournal {
    std::filesystem::path file;
    JournalContents contents;
    bool startedInSession = false; // its run began in the session (else an undo wrote to it)
};

struct UncleanEndReport {
    std::optional<std::int32_t> restoredCounter; // the counter file was cut short: restored to this
    std::filesystem::path counterFile;
    int movesFinished = 0;      // copies across file systems the recovery named for good
    int infoFilesRewritten = 0; // trash info files written again from the journals
    // Trashed items whose info file a cut left damaged and that no journal on the disk records:
    // the file manager cannot say where they came from.
    std::vector<std::filesystem::path> itemsWithoutInfo;
    std::vector<Error> failures; // each names the file and the system's reason

    bool worthTelling() const { return restoredCounter || !itemsWithoutInfo.empty() || !failures.empty(); }
};

// The journals written to since `sessionStart` (seconds since the epoch: when the settings file
// was last written, which only a start and a shutdown do), their runs oldest first. Journals still
// being written by a live process, and those holding no run's start, are left out; one that does
// not read is said in the report.
std::vector<SessionJournal> journalsOfSession(const std::filesystem::path& historyFolder,
                                              std::int64_t sessionStart, UncleanEndReport& report);

// The newest move run's journal of all, for a counter file that the session's own journals cannot
// restore.
std::optional<SessionJournal> newestMoveJournal(const std::filesystem::path& historyFolder);

// Finishes or undoes the moves across file systems that the session left half done, recording in a
// journal every picture it names for good, so that undo can put it back (moves_after_cut.cpp).
void finishMovesAfterCut(const std::filesystem::path& historyFolder,
                         const std::vector<SessionJournal>& session, UncleanEndReport& report);

// The record of a move that finishing `move` completes, as undo will find its copy.
JournalRecord recordOfFinishedMove(const InterruptedMove& move);

// Records in `journal` every move of `moves` that finishing completes, on the disk before any of
// them is finished: a run that finds copies a stick pulled out kept takes them up undoably.
Status recordMovesFinished(RunJournal& journal, const std::vector<InterruptedMove>& moves);

// Writes again the trash info files that the session's runs recorded and a cut left damaged, and
// names the damaged ones no journal records (trash_after_cut.cpp).
void repairTrashAfterCut(const std::vector<SessionJournal>& session, std::int64_t sessionStart,
                         UncleanEndReport& report);

// Cuts off the partial last record a cut left in each of the session's journals, so that the run
// reads as whole again: what it lost was never on the disk. A journal damaged elsewhere is left as
// it is, for undo to name.
void trimCutTails(const std::vector<SessionJournal>& session, UncleanEndReport& report);

// The serial number to go on with: see serial_after_cut.h. `counterPlusOne` is the start-up rule's
// number, nothing when the counter file was cut short. Nothing when no journal tells of numbers
// given and there is no counter either.
std::optional<std::int32_t> serialNoAfterUncleanEnd(const SessionJournal* lastMoveRun,
                                                    std::optional<std::int32_t> counterPlusOne,
                                                    UncleanEndReport& report);

// The newest move run the session began, if any.
const SessionJournal* lastMoveRunOf(const std::vector<SessionJournal>& session);

// The one message that tells the user what the start found; empty when there is nothing to tell.
std::string describeUncleanEnd(const UncleanEndReport& report);

} // namespace corvalin
