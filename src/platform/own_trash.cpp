#include "platform/own_trash.h"

#include "platform/paths.h"
#include "platform/trash.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The top folder of its file system, where each volume's trash lies.
bool isTopOfFileSystem(const fs::path& folder) {
    struct statx info {};
    if (::statx(AT_FDCWD, folder.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &info) !=
        0)
        return false;
    return (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
           (info.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

bool isOwnRealFolder(const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

} // namespace

bool isOwnTrashFolder(const fs::path& trash) {
    const fs::path folder = withoutTrailingSlash(trash);
    const std::string uid = std::to_string(::getuid());
    const std::string name = ownName(folder);
    const fs::path parent = folder.parent_path();
    const bool inPlace =
        folder == withoutTrailingSlash(homeTrashFolder()) ||
        (name == ".Trash-" + uid && isTopOfFileSystem(parent)) ||
        (name == uid && ownName(parent) == ".Trash" && isTopOfFileSystem(parent.parent_path()));
    return inPlace && isOwnRealFolder(folder);
}

} // namespace corvalin
