#include "platform/folder_limits.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

int folderWriteRefusal(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY))
        return EROFS;
    // The effective ids, as the kernel tests a rename; EROFS here too on a read-only bind mount.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

int folderWriteRefusal(int folderFd) {
    struct statvfs info {};
    if (::fstatvfs(folderFd, &info) == 0 && (info.f_flag & ST_RDONLY))
        return EROFS;
    if (::faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

std::optional<std::uint64_t> roomIn(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    // Root may write into the blocks kept back for it.
    const fsblkcnt_t blocks = ::geteuid() == 0 ? info.f_bfree : info.f_bavail;
    return static_cast<std::uint64_t>(blocks) * info.f_frsize;
}

} // namespace corvalin
