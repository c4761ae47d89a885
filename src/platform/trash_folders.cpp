#include "platform/trash_folders.h"

#include "platform/disk_kind.h"
#include "platform/file_ops.h"
#include "platform/name_text.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/program_folder.h"
#include "platform/trash.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The place of a folder that may not exist yet: that of its nearest existing ancestor.
int placeOfNearest(fs::path path, Place& place) {
    for (;;) {
        const int error = placeOf(path.native(), true, place);
        if (error != ENOENT || !path.has_relative_path())
            return error;
        path = path.parent_path();
    }
}

// The highest folder above `folder` (canonical) that still lies on `place`: the file system's top.
std::string topFolderOf(const std::string& folder, const Place& place) {
    std::string top = folder;
    while (top != "/") {
        const std::string up = folderOf(top);
        Place above;
        if (placeOf(up, true, above) != 0 || !(above == place))
            break;
        top = up;
    }
    return top;
}

// True when `folder` is a real folder of this user's, made where it was missing, as the desktop's
// trash client checks a volume's trash.
bool ownFolderOrMade(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
    return ::mkdir(folder.c_str(), 0700) == 0;
}

// The shared "$topdir/.Trash" only when an administrator made it a real folder with the sticky
// bit and the user's folder in it is theirs (made on first use). Else "$topdir/.Trash-$uid".
TrashFolder volumeTrash(const std::string& topdir) {
    const std::string uid = std::to_string(::getuid());
    const std::string shared = joinPath(topdir, ".Trash").native();
    struct stat st {};
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        ownFolderOrMade(shared + "/" + uid))
        return {shared + "/" + uid, topdir};
    return {joinPath(topdir, ".Trash-" + uid).native(), topdir};
}

// Makes one folder of a trash when missing, and accepts only a real folder: a symbolic link could
// lead anywhere, and on a shared volume a folder of someone else's is not ours to fill. On a disk
// without owners (FAT, exFAT mounted for another user) a folder just made can show another owner:
// it goes again, so that nothing is left behind that the desktop would refuse too.
Status ensureFolder(const std::string& folder, bool mustBeOurs, FolderIdentity& found) {
    const bool made = ::mkdir(folder.c_str(), 0700) == 0;
    if (!made && errno != EEXIST)
        return errorFromErrno(kPrepareText, folder, errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return errorFromErrno(kPrepareText, folder, errno);
    if (S_ISLNK(st.st_mode))
        return Error{kPrepareText, folder, 0, "ごみ箱のフォルダがシンボリックリンクです。"};
    if (!S_ISDIR(st.st_mode))
        return errorFromErrno(kPrepareText, folder, ENOTDIR);
    if (mustBeOurs && st.st_uid != ::getuid()) {
        if (made)
            ::rmdir(folder.c_str());
        return Error{kPrepareText, folder, 0,
                     made ? "作ったごみ箱のフォルダの所有者が別のユーザーになります。"
                          : "ごみ箱のフォルダの所有者が別のユーザーです。"};
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return errorFromErrno(kPrepareText, folder, errno);
    found = {st.st_dev, st.st_ino};
    return {};
}

// The folders above the home trash, made as a desktop session would (only the user may enter).
Status ensureParents(const fs::path& folder) {
    const fs::path parent = folder.parent_path();
    if (parent == folder || isFolder(parent))
        return {};
    if (Status made = ensureParents(parent); !made)
        return made;
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
        return errorFromErrno(kPrepareText, parent, errno);
    return {};
}

// Mounts the desktop keeps for its own use (its network places, the sandbox portals), where its
// trash client puts nothing in a trash: an item there would never be listed.
bool isDesktopInternalMount(std::string_view type) {
    return type == "fuse.gvfsd-fuse" || type == "fuse.portal" || type == "fuse.xdg-document-portal";
}

// The type of the file system at `topdir` as the mount table names it; empty when unknown.
std::string volumeTypeAt(const std::string& topdir) {
    const UniqueFd fd(::open(topdir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() ? fileSystemTypeOf(fd.get()) : std::string();
}

} // namespace

int placeOf(const std::string& path, bool followLink, Place& place, FolderIdentity* identity) {
    struct statx info {};
    const int flags = AT_NO_AUTOMOUNT | (followLink ? 0 : AT_SYMLINK_NOFOLLOW);
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_MNT_ID, &info) != 0)
        return errno;
    place.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    place.mount = (info.stx_mask & STATX_MNT_ID) ? std::optional(info.stx_mnt_id) : std::nullopt;
    if (identity)
        *identity = {place.device, static_cast<ino_t>(info.stx_ino)};
    return 0;
}

int canonicalPath(const std::string& path, std::string& out) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return errno;
    out = resolved;
    std::free(resolved);
    return 0;
}

Result<TrashFolder> trashServing(const std::string& folder, const Place& place) {
    const fs::path home = homeTrashFolder();
    Place homePlace;
    if (const int error = placeOfNearest(home, homePlace))
        return errorFromErrno(kPrepareText, home, error);
    if (homePlace == place)
        return TrashFolder{home.native(), {}};
    return volumeTrash(topFolderOf(folder, place));
}

Error refusedOnVolume(Error error, const TrashFolder& trash) {
    if (trash.topdir.empty())
        return error;
    // A kind the user knows by name ("exFAT"), never a driver's ("fuseblk").
    const DiskNameRules rules = rulesForFileSystemType(volumeTypeAt(trash.topdir));
    const std::string kind = rules.kindName != rules.fileSystemType ? "、" + rules.kindName : "";
    error.advice = "このディスク（" + legibleName(trash.topdir) + kind + "）ではごみ箱を使えません。";
    return error;
}

Status prepareTrash(const TrashFolder& trash, const Place& place, PreparedFolders& found) {
    const bool volume = !trash.topdir.empty();
    if (!volume) {
        if (Status made = ensureParents(trash.folder); !made)
            return made;
    } else if (isDesktopInternalMount(volumeTypeAt(trash.topdir))) {
        return refusedOnVolume(
            Error{kPrepareText, trash.topdir, 0, "デスクトップが自分で使うマウントで、ごみ箱がありません。"},
            trash);
    }
    const std::pair<std::string, FolderIdentity*> folders[] = {{trash.folder, &found.trash},
                                                               {trash.folder + "/files", &found.files},
                                                               {trash.folder + "/info", &found.info}};
    for (const auto& [folder, identity] : folders) {
        if (Status ready = ensureFolder(folder, volume, *identity); !ready)
            return refusedOnVolume(ready.error(), trash);
    }
    Place trashPlace;
    if (const int error = placeOf(trash.folder + "/files", false, trashPlace))
        return refusedOnVolume(errorFromErrno(kPrepareText, trash.folder, error), trash);
    if (!(trashPlace == place))
        return refusedOnVolume(
            Error{kPrepareText, trash.folder, 0, "ごみ箱が別のファイルシステムにあります。"}, trash);
    return {};
}

fs::path homeTrashFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return joinPath(withoutTrailingSlash(dataHome), "Trash");
    return joinPath(homeFolder(), ".local/share/Trash");
}

bool isTrashFolder(const fs::path& folder) {
    const std::string name = ownName(folder);
    const std::string_view volumePrefix = ".Trash-";
    if (name == ".Trash" || (name.starts_with(volumePrefix) && name.size() > volumePrefix.size() &&
                             name.find_first_not_of("0123456789", volumePrefix.size()) == std::string::npos))
        return true;
    if (name != "Trash")
        return false;
    std::string resolved;
    std::string home;
    return canonicalPath(folder.native(), resolved) == 0 &&
           canonicalPath(homeTrashFolder().native(), home) == 0 && resolved == home;
}

} // namespace corvalin
