#pragma once

#include "platform/result.h"
#include "platform/trash.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

// An info file that a power cut left empty or cut short keeps the file manager from showing its
// item and putting it back. Its item is still in the trash; the info file can be written again from
// what a run recorded.
namespace corvalin {

enum class InfoFileState {
    Missing,
    Whole,  // a readable path and a whole deletion time
    Damaged // empty, cut short or unreadable as an info file
};

InfoFileState infoFileState(const std::filesystem::path& infoFile);

// When the item went into the trash: the rename there is its last change of status.
std::optional<std::time_t> timeTrashed(const std::filesystem::path& trashedItem);

// Writes the info file of `place` again, in place and on the disk: `place.original` as the item's
// path (its folders' symbolic links resolved as far as they still exist) and `deletedAt`.
Status rewriteTrashInfo(const TrashPlace& place, std::time_t deletedAt);

// The items of `trashFolder` whose info file was changed at `since` or later and is damaged, by
// the place their info file reserved; info files in `known` are not read. Info files whose item is
// not in the trash are left out: they may be another program's, its item still on the way in.
Result<std::vector<TrashPlace>> damagedPlacesSince(const std::filesystem::path& trashFolder,
                                                   std::time_t since,
                                                   const std::set<std::filesystem::path>& known);

} // namespace corvalin
