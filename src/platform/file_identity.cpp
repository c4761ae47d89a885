#include "platform/file_identity.h"

#include <cerrno>
#include <sys/stat.h>

namespace corvalin {

Result<FileIdentity> identityOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errorFromErrno("ファイルの確認", path, errno);
    return FileIdentity{static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool isSameFile(const FileIdentity& then, const FileIdentity& now, bool folder) {
    if (then.device == now.device) {
        return then.inode == now.inode &&
               (folder || (then.size == now.size && then.mtimeSeconds == now.mtimeSeconds &&
                           then.mtimeNanoseconds == now.mtimeNanoseconds));
    }
    // A folder only ever moves by a rename, within its file system.
    return !folder && isCopyOf(then, now);
}

bool isCopyOf(const FileIdentity& then, const FileIdentity& now) {
    const std::int64_t apart = then.mtimeSeconds - now.mtimeSeconds;
    return then.size == now.size && apart >= -2 && apart <= 2;
}

} // namespace corvalin
