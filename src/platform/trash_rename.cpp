// Trash names, info files and the rename that puts an item into a trash or takes it back out.
#include "platform/trash_rename.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kRestoreText = "ごみ箱からの取り出し";
// A name in "info" must still fit NAME_MAX with the suffix.
constexpr std::size_t kMaxTrashName = 255 - 10;

// Cut to fit "info" with its suffix; a UTF-8 name is cut between characters.
std::string fittedName(const std::string& name, const std::string& suffix) {
    if (name.size() + suffix.size() <= kMaxTrashName)
        return name + suffix;
    std::string cut = name.substr(0, kMaxTrashName - suffix.size());
    if (isValidUtf8(name)) {
        while (!cut.empty() && !isValidUtf8(cut))
            cut.pop_back();
    }
    return cut + suffix;
}

} // namespace

std::string trashNameFor(const std::string& name, int attempt) {
    if (attempt == 0)
        return fittedName(name, {});
    if (attempt < kNumberedTrashNames)
        return fittedName(name, "." + std::to_string(attempt + 1));
    static std::mt19937_64 random(std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()));
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random()));
    return fittedName(name, suffix);
}

namespace {

// A file's new name as a link, which never replaces, then its old one gone. 0 or errno; ENOTSUP
// where the disk has no links (FAT, exFAT, many FUSE mounts).
int renameByLink(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    if (::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0) != 0)
        return errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP ? ENOTSUP : errno;
    if (::unlinkat(fromFolder, from.c_str(), 0) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to.c_str(), 0);
        return error;
    }
    return 0;
}

// The name taken only where nothing has it yet. For a file only into a trash's own folders, where
// an info file made exclusively has already reserved the name; for a folder where the disk renames
// a folder onto no other.
int renameWhereFree(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    struct stat taken {};
    if (::fstatat(toFolder, to.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0 ? 0 : errno;
}

// A folder renamed onto an empty folder made for it just now, exclusively: the one replacement the
// kernel allows a folder is of an empty folder, so whatever took the name meanwhile (a file:
// ENOTDIR; a folder with anything in it: ENOTEMPTY or EEXIST) is never lost. Where the rename
// fails, the folder made here goes again, only while it is still that folder and empty. ENOTSUP
// where the disk refuses to rename a folder onto any other (FAT through FUSE: EPERM).
int renameOntoMadeFolder(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    if (::mkdirat(toFolder, to.c_str(), 0700) != 0)
        return errno;
    struct stat made {};
    if (::fstatat(toFolder, to.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to.c_str(), AT_REMOVEDIR); // only while empty
        return error;
    }
    if (::renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0)
        return 0;
    const int error = errno;
    struct stat now {};
    const bool removed = ::fstatat(toFolder, to.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                         now.st_dev == made.st_dev && now.st_ino == made.st_ino &&
                         ::unlinkat(toFolder, to.c_str(), AT_REMOVEDIR) == 0;
    if (error == EPERM && removed)
        return ENOTSUP;
    // Our folder was filled or swapped for another entry: the name is someone else's now.
    return error == ENOTEMPTY || error == ENOTDIR ? EEXIST : error;
}

// The rename that never replaces, by whichever way the disk has: ENOTSUP for a file on a disk with
// neither a rename that refuses to replace nor links.
int renameByAnySafeWay(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                       bool folder) {
    // Through syscall() so that it builds against a C library that lacks the wrapper.
    const int error =
        ::syscall(SYS_renameat2, fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0
            ? 0
            : errno;
    // File systems that cannot refuse to replace in one call (ntfs3, FAT and exFAT through FUSE).
    if (error != EINVAL && error != ENOSYS)
        return error;
    if (!folder)
        return renameByLink(fromFolder, from, toFolder, to);
    // A disk that renames a folder onto none: a plain rename where the name is free. The kernel
    // lets a folder replace nothing but an empty folder, so even a name taken in between loses
    // nothing.
    const int onto = renameOntoMadeFolder(fromFolder, from, toFolder, to);
    return onto == ENOTSUP ? renameWhereFree(fromFolder, from, toFolder, to) : onto;
}

// A folder moved to another parent rewrites its own ".." entry, so its owner needs write
// permission on it: given first, never through a link, and taken back if the move fails. With
// `intoTrash`, a file the disk can move by neither safe way is renamed where its name is free.
int renameItem(int fromFolder, const std::string& from, int toFolder, const std::string& to, bool intoTrash) {
    struct stat st {};
    if (::fstatat(fromFolder, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const bool folder = S_ISDIR(st.st_mode);
    const bool opened = folder && !(st.st_mode & S_IWUSR);
    if (opened &&
        ::fchmodat(fromFolder, from.c_str(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    int error = renameByAnySafeWay(fromFolder, from, toFolder, to, folder);
    if (error == ENOTSUP && intoTrash)
        error = renameWhereFree(fromFolder, from, toFolder, to);
    if (error != 0 && opened)
        ::fchmodat(fromFolder, from.c_str(), st.st_mode & 07777, AT_SYMLINK_NOFOLLOW);
    return error;
}

} // namespace

int renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    return renameItem(fromFolder, from, toFolder, to, true);
}

int writeInfoFile(int info, const std::string& name, const std::string& text) {
    UniqueFd fd(::openat(info, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        return errno;
    int error = writeAll(fd.get(), text);
    if (error == 0)
        error = fd.close();
    if (error != 0)
        ::unlinkat(info, name.c_str(), 0);
    return error;
}

int probeTrashRename(int info, int files) {
    const std::string name = trashNameFor(".corvalin-trash-probe", 10);
    UniqueFd fd(::openat(info, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        return errno;
    int error = fd.close();
    if (error == 0)
        error = renameWithoutReplacing(info, name, files, name);
    if (::unlinkat(error == 0 ? files : info, name.c_str(), 0) != 0 && error == 0)
        error = errno;
    return error;
}

Status moveIntoTrash(const HeldFolder& folder, const std::string& name, const TrashPlace& place) {
    const Result<HeldFolder> files = HeldFolder::open(folderOf(place.trashedFile.native()));
    const int error =
        files ? renameWithoutReplacing(folder.fd(), name, files.value().fd(), ownName(place.trashedFile))
              : files.code();
    if (error != 0) {
        (void)releaseTrashPlace(place);
        return errorFromErrno(kTrashText, place.original, error);
    }
    return {};
}

Status releaseTrashPlace(const TrashPlace& place) {
    if (::unlink(place.infoFile.c_str()) != 0 && errno != ENOENT)
        return errorFromErrno(kInfoRemoveText, place.infoFile, errno);
    return {};
}

Status restoreFromTrash(const TrashPlace& place, const fs::path& to) {
    const Result<HeldFolder> files = HeldFolder::open(folderOf(place.trashedFile.native()));
    const Result<HeldFolder> toFolder =
        files ? HeldFolder::open(folderOf(to.native())) : Result<HeldFolder>(files.error());
    if (!toFolder)
        return errorFromErrno(kRestoreText, place.trashedFile, toFolder.code());
    if (Status moved =
            moveOutOfTrash(files.value(), ownName(place.trashedFile), toFolder.value(), ownName(to));
        !moved)
        return moved;
    return releaseTrashPlace(place);
}

Status moveOutOfTrash(const HeldFolder& files, const std::string& name, const HeldFolder& to,
                      const std::string& newName) {
    if (!isPlainName(name) || !isPlainName(newName))
        return errorFromErrno(kRestoreText, files.pathOf(name), EINVAL);
    const int error = renameItem(files.fd(), name, to.fd(), newName, false);
    // A file on a disk with neither a rename that refuses to replace nor links is copied to its
    // name, created exclusively, and leaves the trash once its copy is whole on the disk.
    if (error == ENOTSUP)
        return moveAcross(files, name, to, newName);
    if (error != 0)
        return errorFromErrno(kRestoreText, error == EEXIST ? to.pathOf(newName) : files.pathOf(name), error);
    return {};
}

} // namespace corvalin
