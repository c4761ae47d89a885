#pragma once

#include "platform/held_folder.h"
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

// A trash's files/ and info/ folders, held once: the repair reaches every item and info file by
// its name there, never through a link swapped in for one of those folders.
struct HeldTrash {
    std::filesystem::path folder;
    HeldFolder files;
    HeldFolder info;
};

// The trash `trashFolder`, each of its folders a real one (a link there is never followed) and
// this user's own: a trash of someone else's is not ours to repair. ENOENT when it has none.
Result<HeldTrash> holdTrash(const std::filesystem::path& trashFolder);

InfoFileState infoFileState(const std::filesystem::path& infoFile);
InfoFileState infoFileState(const HeldTrash& trash, const std::string& infoName);

// When the item went into the trash: the rename there is its last change of status.
std::optional<std::time_t> timeTrashed(const HeldTrash& trash, const std::string& itemName);

// Writes the info file of `place` (in `trash`) again, in place and on the disk: `place.original`
// as the item's path (its folders' symbolic links resolved as far as they still exist) and
// `deletedAt`.
Status rewriteTrashInfo(const HeldTrash& trash, const TrashPlace& place, std::time_t deletedAt);

// The items of `trash` whose info file was changed at `since` or later and is damaged, by the
// place their info file reserved; info files in `known` are not read. Info files whose item is
// not in the trash are left out: they may be another program's, its item still on the way in.
Result<std::vector<TrashPlace>> damagedPlacesSince(const HeldTrash& trash, std::time_t since,
                                                   const std::set<std::filesystem::path>& known);

} // namespace corvalin
