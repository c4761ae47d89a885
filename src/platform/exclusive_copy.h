#pragma once

#include "platform/batch_copy.h"
#include "platform/cross_device_batch.h"
#include "platform/held_folder.h"
#include "platform/interrupted_moves.h"
#include "platform/result.h"

#include <cstddef>
#include <string>
#include <vector>

// Copies written under their final names, for a destination that has neither hard links nor a
// rename that refuses to replace (FAT and exFAT through FUSE, some network shares): the one way
// left that never replaces a file is a name created with O_CREAT | O_EXCL. Not a public API.
//
// The steps of a batch, and what a kill or a power cut between any two of them leaves:
//
//   1. Each source is opened and looked at when it is added; nothing is written.
//      Cut: nothing on the destination. The sources stay.
//   2. At the commit each copy gets a final name that is free now, and its record (".into")
//      receives the source, that name and what the source was (size, modification time).
//   3. One wait makes every record durable. Cut before it ends: records, maybe part of them; no
//      final name was created, so the next start removes the records and touches nothing else.
//   4. Each final name is created exclusively (a name taken meanwhile takes the next one, its
//      record rewritten and made durable first), "made" is appended to the record and made
//      durable, and only then are the bytes, mode and times written there.
//      Cut between the create and the durable mark: at most an empty file under the final name
//      that no record proves is ours; it is kept and named, never removed.
//      Cut after the mark: a copy, whole or cut (shorter, a tail of zeros, other bytes), under a
//      name the record proves this program made. The next start compares it with the source,
//      which is still there: whole, the move is finished (the source goes); cut, the copy goes.
//      A source changed since, or gone while its copy is cut short: both are kept and named.
//   5. Each copy is flushed on its own (these disks flush file by file in any case).
//   6. The batch goes on as every batch does (cross_device_batch.cpp, steps 4 and 5): the
//      destination folder flushed, the sources removed, their folders flushed, the records gone.
//      Cut there: every copy is whole; a source still there and unchanged goes at the next start,
//      and one gone already leaves nothing to do.
//
// A kill keeps what the kernel holds, so it leaves the state of a power cut at the same instant
// with nothing lost from the page cache: the same recovery covers both.
namespace corvalin {

// Step 1 for one file: opens the source of `copy` in its folder and notes what it is. 0 or errno
// (EXDEV for anything but a regular file).
int openExclusiveSource(BatchCopy& copy);

// Steps 2 to 5 for copies [0, end) of `copies`, end as far as `naming` lets the batch go; marks
// each copy whole and durable under its name as `named`. `flushEach` is true where every file must
// be flushed on its own, else one syncfs on `destination` serves. On failure the copies marked so
// far are complete; the caller removes what the others left (created names, records).
Status writeUnderFinalNames(std::vector<BatchCopy>& copies, const HeldFolder& destination, CopyNaming& naming,
                            bool flushEach);

// What the next start makes of the record `record` (".into") in `folder`: a copy to finish, a cut
// copy to remove, or, with `kept` set, a copy and a source to keep and name. 0 or errno.
int judgeExclusiveCopy(const HeldFolder& folder, const std::string& record, InterruptedMove& move);

} // namespace corvalin
