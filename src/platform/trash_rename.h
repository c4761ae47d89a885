#pragma once

#include "platform/trash.h"

#include <cstddef>
#include <filesystem>
#include <string>

// How an item goes into a trash and back out by one rename (internal to the Trash's files): the
// names it may take there, its info file, and the rename that never replaces.
namespace corvalin {

inline constexpr const char* kTrashText = "ごみ箱への移動";
inline constexpr const char* kInfoSuffix = ".trashinfo";
inline constexpr const char* kInfoRemoveText = "ごみ箱の情報ファイルの削除";

// The name itself first, then a few numbered ones, then random ones, so that a trash holding
// many items of one name costs no long search.
std::string trashNameFor(const std::string& name, int attempt);
// The attempts that give numbered names ("name", "name.2", ... "name.10"); later ones are random.
inline constexpr int kNumberedTrashNames = 10;

// A rename of the entry `from` of one open folder to `to` in another that never replaces. A folder
// moved to another parent rewrites its own ".." entry, so its owner needs write permission on it;
// that is given first, never through a link, and taken back if the move fails. 0 or errno.
int renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder, const std::string& to);

// Writes an info file `name` in the open folder `info`, created exclusively. 0 or errno; EEXIST
// when the name is taken.
int writeInfoFile(int info, const std::string& name, const std::string& text);

// Tries, with a hidden file made in the open folder `info` and renamed into `files`, that the disk
// lets an item into the trash by the rename a run will use; nothing stays. 0 or errno.
int probeTrashRename(int info, int files);

} // namespace corvalin
