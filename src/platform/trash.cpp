// Where the trash of a file system is, and how items go in and come back out.
//
// A trash is a folder holding "files" (the items under their trash names) and "info" (one
// "<name>.trashinfo" per item). The info file is created first, exclusively, so that two programs
// trashing at once never pick the same name; then the item is renamed into "files".
#include "platform/trash.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/program_folder.h"
#include "platform/trash_info.h"
#include "platform/utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kPrepareText = "ごみ箱の準備";
const char* const kTrashText = "ごみ箱への移動";
const char* const kRestoreText = "ごみ箱からの取り出し";
const char* const kInfoReadText = "ごみ箱の情報ファイルの読み取り";
const char* const kInfoRemoveText = "ごみ箱の情報ファイルの削除";
const char* const kInfoSuffix = ".trashinfo";
// A name in "info" must still fit NAME_MAX with the suffix.
constexpr std::size_t kMaxTrashName = 255 - 10;

// Where a path lies: its file system and, where the kernel tells, its mount. A bind mount of the
// same file system is another place too, since a rename cannot cross it.
struct Place {
    dev_t device = 0;
    std::optional<std::uint64_t> mount;
    bool operator==(const Place& other) const {
        return device == other.device && (!mount || !other.mount || *mount == *other.mount);
    }
};

int placeOf(const std::string& path, bool followLink, Place& place) {
    struct statx info {};
    const int flags = AT_NO_AUTOMOUNT | (followLink ? 0 : AT_SYMLINK_NOFOLLOW);
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_MNT_ID, &info) != 0)
        return errno;
    place.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    place.mount = (info.stx_mask & STATX_MNT_ID) ? std::optional(info.stx_mnt_id) : std::nullopt;
    return 0;
}

// The place of a folder that may not exist yet: that of its nearest existing ancestor.
int placeOfNearest(fs::path path, Place& place) {
    for (;;) {
        const int error = placeOf(path.native(), true, place);
        if (error != ENOENT || !path.has_relative_path())
            return error;
        path = path.parent_path();
    }
}

int canonicalPath(const std::string& path, std::string& out) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return errno;
    out = resolved;
    std::free(resolved);
    return 0;
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

struct TrashFolder {
    std::string folder; // holds "files" and "info"
    std::string topdir; // what Path= is relative to; empty for the home trash (absolute paths)
};

// The shared "$topdir/.Trash" only when an administrator made it a real folder with the sticky
// bit; the user's folder in it is made on first use. Else "$topdir/.Trash-$uid".
TrashFolder volumeTrash(const std::string& topdir) {
    const std::string uid = std::to_string(::getuid());
    const std::string shared = joinPath(topdir, ".Trash").native();
    struct stat st {};
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const std::string own = shared + "/" + uid;
        if (::mkdir(own.c_str(), 0700) == 0 || errno == EEXIST)
            return {own, topdir};
    }
    return {joinPath(topdir, ".Trash-" + uid).native(), topdir};
}

// The trash that serves items in `folder` (canonical), which lies on `place`.
Result<TrashFolder> trashServing(const std::string& folder, const Place& place) {
    const fs::path home = homeTrashFolder();
    Place homePlace;
    if (const int error = placeOfNearest(home, homePlace))
        return errorFromErrno(kPrepareText, home, error);
    if (homePlace == place)
        return TrashFolder{home.native(), {}};
    return volumeTrash(topFolderOf(folder, place));
}

// Makes one folder of a trash when missing, and accepts only a real folder: a symbolic link could
// lead anywhere, and on a shared volume a folder of someone else's is not ours to fill.
Status ensureFolder(const std::string& folder, bool mustBeOurs) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errorFromErrno(kPrepareText, folder, errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return errorFromErrno(kPrepareText, folder, errno);
    if (S_ISLNK(st.st_mode))
        return Error{kPrepareText, folder, 0, "ごみ箱のフォルダがシンボリックリンクです。"};
    if (!S_ISDIR(st.st_mode))
        return errorFromErrno(kPrepareText, folder, ENOTDIR);
    if (mustBeOurs && st.st_uid != ::getuid())
        return Error{kPrepareText, folder, 0, "ごみ箱のフォルダの所有者が別のユーザーです。"};
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return errorFromErrno(kPrepareText, folder, errno);
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

// Makes the trash's folders when missing and checks that items on `place` can be renamed into it.
Status prepareTrash(const TrashFolder& trash, const Place& place) {
    const bool volume = !trash.topdir.empty();
    if (!volume) {
        if (Status made = ensureParents(trash.folder); !made)
            return made;
    }
    for (const std::string& folder : {trash.folder, trash.folder + "/files", trash.folder + "/info"}) {
        if (Status ready = ensureFolder(folder, volume); !ready)
            return ready;
    }
    Place trashPlace;
    if (const int error = placeOf(trash.folder + "/files", false, trashPlace))
        return errorFromErrno(kPrepareText, trash.folder, error);
    if (!(trashPlace == place))
        return Error{kPrepareText, trash.folder, 0, "ごみ箱が別のファイルシステムにあります。"};
    return {};
}

struct Located {
    std::string original; // canonical folder + name
    TrashFolder trash;
};

// The item's absolute path (symbolic links of its folder resolved; a link itself is what moves)
// and the prepared trash that serves it.
Result<Located> locate(const fs::path& item) {
    const std::string path = withoutTrailingSlash(item).native();
    const std::string name = ownName(path);
    if (path.empty() || name == "/" || name == "." || name == "..")
        return errorFromErrno(kTrashText, item, EINVAL);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errorFromErrno(kTrashText, item, errno);
    std::string folder;
    Place place;
    int error = canonicalPath(folderOf(path), folder);
    if (error == 0)
        error = placeOf(folder, true, place);
    if (error != 0)
        return errorFromErrno(kTrashText, item, error);
    Result<TrashFolder> trash = trashServing(folder, place);
    if (!trash)
        return trash.error();
    if (Status ready = prepareTrash(trash.value(), place); !ready)
        return ready.error();
    return Located{joinPath(folder, name).native(), trash.value()};
}

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

// The name itself first, then a few numbered ones, then random ones, so that a trash holding
// many items of one name costs no long search.
std::string trashNameFor(const std::string& name, int attempt) {
    if (attempt == 0)
        return fittedName(name, {});
    if (attempt < 10)
        return fittedName(name, "." + std::to_string(attempt + 1));
    static std::mt19937_64 random(std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()));
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random()));
    return fittedName(name, suffix);
}

Result<TrashPlace> createInfoFile(const Located& located) {
    const TrashFolder& trash = located.trash;
    const std::string& original = located.original;
    const std::string pathValue = trash.topdir.empty()  ? original
                                  : trash.topdir == "/" ? original.substr(1)
                                                        : original.substr(trash.topdir.size() + 1);
    const std::string text = trashInfoText(pathValue, std::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = trashNameFor(ownName(original), attempt);
        const std::string info = trash.folder + "/info/" + name + kInfoSuffix;
        const std::string file = trash.folder + "/files/" + name;
        UniqueFd fd(::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid() && errno == EEXIST)
            continue;
        if (!fd.valid())
            return errorFromErrno(kTrashText, original, errno);
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0) { // an item whose info file was lost keeps its name
            fd.close();
            ::unlink(info.c_str());
            continue;
        }
        int error = writeAll(fd.get(), text);
        if (error == 0)
            error = fd.close();
        if (error != 0) {
            ::unlink(info.c_str());
            return errorFromErrno(kTrashText, original, error);
        }
        return TrashPlace{original, file, info};
    }
    return errorFromErrno(kTrashText, original, EEXIST);
}

// A rename that never replaces. A folder moved to another parent rewrites its own ".." entry, so
// its owner needs write permission on it; that is given first and taken back if the move fails.
int renameWithoutReplacing(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    const bool folder = S_ISDIR(st.st_mode);
    const bool opened = folder && !(st.st_mode & S_IWUSR);
    if (opened && ::chmod(from.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0)
        return errno;
    int error = renameNoReplace(from, to);
    if ((error == EINVAL || error == ENOSYS) && !folder) {
        error = linkThenUnlink(from, to);
    } else if (error == EINVAL || error == ENOSYS) {
        struct stat taken {};
        error = ::lstat(to.c_str(), &taken) == 0          ? EEXIST
                : ::rename(from.c_str(), to.c_str()) == 0 ? 0
                                                          : errno;
    }
    if (error != 0 && opened)
        ::chmod(from.c_str(), st.st_mode & 07777);
    return error;
}

// A relative Path= counts from the trash's top folder: the folder holding "Trash" or
// ".Trash-$uid", or the one holding ".Trash" for "$topdir/.Trash/$uid".
fs::path topFolderOfTrash(const fs::path& trash) {
    const std::string name = ownName(trash);
    const fs::path parent = withoutTrailingSlash(trash).parent_path();
    const bool userFolder = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
    return userFolder && ownName(parent) == ".Trash" ? parent.parent_path() : parent;
}

} // namespace

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

Status checkTrashUsable(const fs::path& onFileSystem) {
    std::string folder;
    Place place;
    int error = canonicalPath(onFileSystem.native(), folder);
    if (error == 0)
        error = placeOf(folder, true, place);
    if (error != 0)
        return errorFromErrno(kPrepareText, onFileSystem, error);
    Result<TrashFolder> trash = trashServing(folder, place);
    if (!trash)
        return trash.status();
    return prepareTrash(trash.value(), place);
}

Result<TrashPlace> reserveTrashPlace(const fs::path& item) {
    Result<Located> located = locate(item);
    if (!located)
        return located.error();
    return createInfoFile(located.value());
}

Status moveIntoTrash(const TrashPlace& place) {
    if (const int error = renameWithoutReplacing(place.original.native(), place.trashedFile.native())) {
        ::unlink(place.infoFile.c_str());
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
    if (const int error = renameWithoutReplacing(place.trashedFile.native(), to.native()))
        return errorFromErrno(kRestoreText, error == EEXIST ? to : place.trashedFile, error);
    return releaseTrashPlace(place);
}

Result<TrashInfo> readTrashInfo(const fs::path& infoFile) {
    const std::string fileName = infoFile.filename().native();
    if (!fileName.ends_with(kInfoSuffix) || fileName.size() == std::string_view(kInfoSuffix).size())
        return errorFromErrno(kInfoReadText, infoFile, EINVAL);
    const Result<std::string> text = readWholeFile(infoFile, 1 << 16);
    if (!text)
        return errorFromErrno(kInfoReadText, infoFile, text.code());
    const std::optional<TrashInfoFields> fields = parseTrashInfo(text.value());
    if (!fields)
        return Error{kInfoReadText, infoFile, 0, "ごみ箱の情報ファイルの形式が正しくありません。"};
    const fs::path trash = withoutTrailingSlash(infoFile).parent_path().parent_path();
    const fs::path original = fields->path.starts_with('/') ? fs::path(fields->path)
                                                            : joinPath(topFolderOfTrash(trash), fields->path);
    const std::string name = fileName.substr(0, fileName.size() - std::string_view(kInfoSuffix).size());
    return TrashInfo{{original, joinPath(joinPath(trash, "files"), name), infoFile}, fields->deletionDate};
}

} // namespace corvalin

namespace corvalin {

Result<fs::path> trashFolderServing(const fs::path& folder) {
    std::string resolved;
    Place place;
    int error = canonicalPath(folder.native(), resolved);
    if (error == 0)
        error = placeOf(resolved, true, place);
    if (error != 0)
        return errorFromErrno(kPrepareText, folder, error);
    Result<TrashFolder> trash = trashServing(resolved, place);
    if (!trash)
        return trash.error();
    return fs::path(trash.value().folder);
}

std::string trashInfoPathValue(const fs::path& trash, const std::string& original) {
    std::string home;
    std::string resolved;
    if (canonicalPath(homeTrashFolder().native(), home) == 0 &&
        canonicalPath(trash.native(), resolved) == 0 && home == resolved)
        return original;
    const std::string top = topFolderOfTrash(trash).native();
    if (top == "/")
        return original.substr(1);
    if (original.size() > top.size() + 1 && original.starts_with(top) && original[top.size()] == '/')
        return original.substr(top.size() + 1);
    return original;
}

} // namespace corvalin
