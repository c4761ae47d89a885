#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

// Where the trash of a file system lies and how it is made ready (internal to the Trash's files).
namespace corvalin {

// Where a path lies: its file system and, where the kernel tells, its mount. A bind mount of the
// same file system is another place too, since a rename cannot cross it.
struct Place {
    dev_t device = 0;
    std::optional<std::uint64_t> mount;
    bool operator==(const Place& other) const {
        return device == other.device && (!mount || !other.mount || *mount == *other.mount);
    }
};

// The place of `path`, and in `identity` (when given) the inode found there. 0 or errno.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderIdentity&) const = default;
};
int placeOf(const std::string& path, bool followLink, Place& place, FolderIdentity* identity = nullptr);

// The path with every symbolic link resolved. 0 or errno.
int canonicalPath(const std::string& path, std::string& out);

struct TrashFolder {
    std::string folder; // holds "files" and "info"
    std::string topdir; // what Path= is relative to; empty for the home trash (absolute paths)
};

// The trash that serves items in `folder` (canonical), which lies on `place`.
Result<TrashFolder> trashServing(const std::string& folder, const Place& place);

// The real folders a prepared trash was found to be: the trash itself, "files" and "info".
struct PreparedFolders {
    FolderIdentity trash;
    FolderIdentity files;
    FolderIdentity info;
};

// Makes the trash's folders when missing and checks that items on `place` can be renamed into it:
// each a real folder (never a symbolic link), on a volume the user's own, writable. `found`
// receives what each folder was when checked.
Status prepareTrash(const TrashFolder& trash, const Place& place, PreparedFolders& found);

// `error` with the volume named for the user when the trash is a volume's: its top folder and its
// kind, and that no trash can be used there.
Error refusedOnVolume(Error error, const TrashFolder& trash);

inline constexpr const char* kPrepareText = "ごみ箱の準備";

} // namespace corvalin
