#pragma once

#include "platform/cross_device_batch.h"

#include <filesystem>
#include <string>

// The timed runs, each in a process of its own on a fresh copy of the tree in `work` (src/, dst/,
// prog/). Each prints the seconds its run took on standard output and returns the exit code. What
// is not a picture goes to the Trash (XDG_DATA_HOME says where), or for good with `permanent`.
namespace corvalin::bench {

// Each prints its seconds and, after them, the flushes the slow-disk model counted within them.
//
// The real main window on the offscreen platform, from the click on Command1 to the idle window.
// Without `journalling` the run keeps no journal, as before there was a way back.
int runWindowVariant(const std::filesystem::path& work, bool inlinePreview, bool permanent,
                     bool journalling = true);

// The window's run untimed, then the undo of it through the history's core, timed.
int runUndoVariant(const std::filesystem::path& work, bool permanent);

// The journal alone, written and flushed as the window's run writes and flushes it (trash, delete
// option on), over the files of the tree, which stay where they are.
int runJournalVariant(const std::filesystem::path& work);

// The core run with an observer that shows nothing, moving pictures bound for another file system
// in batches as `batches` says.
int runCoreVariant(const std::filesystem::path& work, bool permanent, BatchSettings batches = {});

// The floor: per picture one counter-file rewrite and one rename that does not replace, over a
// list made before the clock starts. With `removals`, the rest of the tree is then deleted for good
// as the run deletes it (the other files, then the emptied folders), still from lists made before.
int runFloorVariant(const std::filesystem::path& work, bool removals = false);

// The floor with what a run keeping the defaults must add: each folder held, each picture looked up
// before its rename, the rest and the emptied folders put into the Trash with an info file each;
// with `journalling`, a journal line before each step, flushed at its start and end, and the info
// files flushed once.
int runSafeFloorVariant(const std::filesystem::path& work, bool journalling);

// The variant named, in this process: its exit code, 64 for a name unknown.
int runChildVariant(const std::string& variant, const std::filesystem::path& work, bool permanent);

} // namespace corvalin::bench
