#pragma once

#include "platform/file_identity.h"
#include "platform/held_folder.h"
#include "platform/result.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The moves across file systems that a kill or a power cut interrupted, as the hidden files in
// their target folder show them (move_temp_files.h), looked at before anything is done about them,
// so that a caller can record in a journal what finishing them will do.
namespace corvalin {

struct InterruptedMove {
    std::filesystem::path source;
    // True when the whole copy stands under its own name and only the source's removal is
    // missing: settling removes the source. False for a copy that never got its name, or whose
    // source changed or is gone: settling removes the copy and leaves the source.
    bool finishes = false;
    std::filesystem::path final;  // the copy's own name, when it finishes (empty if not found)
    FileIdentity copyIdentity;    // the copy under its own name, when it finishes
    FileIdentity sourceIdentity;  // the source found holding the copy's bytes, when it finishes
    std::filesystem::path record; // the hidden files
    std::filesystem::path part;   // empty for a copy written under its final name
    // A copy this program wrote under its final name and a cut left short: settling removes it
    // (while it is still the file found) and leaves the source.
    bool removesCopy = false;
    // Why a copy under its final name and its source are both kept as they are (the source changed
    // or went since, or the record does not prove the copy is this program's); settling only
    // removes the record, and the caller names the copy with this reason. Empty otherwise.
    std::string kept;
};

// The interrupted moves into `folder`, by the names of their hidden files; those of another
// running instance of this program are left out. Each source is reached by its name in its folder,
// that folder opened by the path its record gives.
Result<std::vector<InterruptedMove>> findInterruptedMoves(const HeldFolder& folder);

// Finishes or undoes one of them, as `finishes()` says, and removes its hidden files from `folder`.
// A source goes only while it is still the file that was found holding the copy's bytes. Nothing is
// flushed: the caller waits for the folders once for all of them.
Status settleInterruptedMove(const HeldFolder& folder, const InterruptedMove& move);

// Settles every interrupted move into `folder` after `beforeSettling` has been told of those found
// (a run records in its journal the moves it finishes, so that undo can put them back); its
// failure settles nothing.
using BeforeSettling = std::function<Status(const std::vector<InterruptedMove>&)>;
Status recoverInterruptedMoves(const HeldFolder& folder, const BeforeSettling& beforeSettling);

} // namespace corvalin
