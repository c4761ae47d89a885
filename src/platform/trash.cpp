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
#include "platform/trash_folders.h"
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
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kTrashText = "ごみ箱への移動";
const char* const kRestoreText = "ごみ箱からの取り出し";
const char* const kInfoRemoveText = "ごみ箱の情報ファイルの削除";
const char* const kInfoSuffix = ".trashinfo";
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

// A rename of the entry `from` of one open folder to `to` in another that never replaces. A folder
// moved to another parent rewrites its own ".." entry, so its owner needs write permission on it;
// that is given first, never through a link, and taken back if the move fails.
int renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    struct stat st {};
    if (::fstatat(fromFolder, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const bool folder = S_ISDIR(st.st_mode);
    const bool opened = folder && !(st.st_mode & S_IWUSR);
    if (opened &&
        ::fchmodat(fromFolder, from.c_str(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    // Through syscall() so that it builds against a C library that lacks the wrapper.
    int error =
        ::syscall(SYS_renameat2, fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0
            ? 0
            : errno;
    // File systems that cannot refuse to replace in one call: a link never replaces; a folder
    // goes only where nothing has its name.
    if ((error == EINVAL || error == ENOSYS) && !folder) {
        error = ::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0) == 0 ? 0 : errno;
        if (error == 0 && ::unlinkat(fromFolder, from.c_str(), 0) != 0) {
            error = errno;
            ::unlinkat(toFolder, to.c_str(), 0);
        }
    } else if (error == EINVAL || error == ENOSYS) {
        struct stat taken {};
        error = ::fstatat(toFolder, to.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0 ? EEXIST
                : ::renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0 ? 0
                                                                                  : errno;
    }
    if (error != 0 && opened)
        ::fchmodat(fromFolder, from.c_str(), st.st_mode & 07777, AT_SYMLINK_NOFOLLOW);
    return error;
}

// The same between two paths, each folder opened once by its path (the trash's own items, a
// one-off move).
int renameWithoutReplacing(const fs::path& from, const fs::path& to) {
    const Result<HeldFolder> fromFolder = HeldFolder::open(folderOf(from.native()));
    const Result<HeldFolder> toFolder =
        fromFolder ? HeldFolder::open(folderOf(to.native())) : Result<HeldFolder>(fromFolder.error());
    if (!toFolder)
        return toFolder.code();
    return renameWithoutReplacing(fromFolder.value().fd(), ownName(from), toFolder.value().fd(), ownName(to));
}

// What Path= says for an item: its absolute path at home, else its path below the top folder.
std::string pathValue(const TrashFolder& trash, const std::string& original) {
    return trash.topdir.empty()  ? original
           : trash.topdir == "/" ? original.substr(1)
                                 : original.substr(trash.topdir.size() + 1);
}

// Writes an info file `name` in the open folder `info`, created exclusively. 0 or errno; EEXIST
// when the name is taken.
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

bool sameFolder(int folder, const std::string& name, const FolderIdentity& expected) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           FolderIdentity{st.st_dev, st.st_ino} == expected;
}

bool isFolderFound(const HeldFolder& folder, const FolderIdentity& found) {
    return folder.id().device == found.device && folder.id().inode == found.inode;
}

// A trash as it was prepared for one place, kept open: items go in and their info files are
// written and flushed through its descriptors, so that a link swapped in for one of its folders is
// never followed.
struct KeptTrash {
    Place place;
    TrashFolder trash;
    PreparedFolders found;
    HeldFolder folder;
    HeldFolder files;
    HeldFolder info;

    // Still the folders that were checked, under the names they were checked as.
    bool stillInPlace() const {
        return sameFolder(AT_FDCWD, trash.folder, found.trash) &&
               sameFolder(folder.fd(), "files", found.files) && sameFolder(folder.fd(), "info", found.info);
    }
};

Result<std::unique_ptr<KeptTrash>> openTrash(const std::string& canonicalFolder, const Place& place) {
    Result<TrashFolder> trash = trashServing(canonicalFolder, place);
    if (!trash)
        return trash.error();
    auto kept = std::make_unique<KeptTrash>();
    kept->place = place;
    kept->trash = trash.value();
    if (Status ready = prepareTrash(kept->trash, place, kept->found); !ready)
        return ready.error();
    // Each the very folder that was checked: one swapped meanwhile is refused now and checked
    // afresh at the next item.
    Result<HeldFolder> folder = HeldFolder::open(kept->trash.folder);
    int error = !folder ? folder.code() : isFolderFound(folder.value(), kept->found.trash) ? 0 : ESTALE;
    Result<HeldFolder> files = error ? Result<HeldFolder>(Error{}) : folder.value().childOnAnyMount("files");
    Result<HeldFolder> info = error ? Result<HeldFolder>(Error{}) : folder.value().childOnAnyMount("info");
    if (error == 0)
        error = !files ? files.code() : !info ? info.code() : 0;
    if (error == 0 &&
        !(isFolderFound(files.value(), kept->found.files) && isFolderFound(info.value(), kept->found.info)))
        error = ESTALE;
    if (error != 0)
        return errorFromErrno(kPrepareText, kept->trash.folder, error);
    kept->folder = std::move(folder.value());
    kept->files = std::move(files.value());
    kept->info = std::move(info.value());
    return kept;
}

// 0 or errno.
int syncInfoFile(const KeptTrash& kept, const std::string& infoName) {
    UniqueFd fd(::openat(kept.info.fd(), infoName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid() || ::fdatasync(fd.get()) != 0)
        return errno;
    return kept.info.flush().code();
}

// The folder items were last taken from, with its links resolved; found again for another folder.
struct KnownFolder {
    FolderId id;
    std::string canonical;
    Place place;
};

} // namespace

class OpenTrashes::Kept {
public:
    // The trash serving `folder`'s place, checked or prepared; `again` prepares it afresh.
    Result<KeptTrash*> trashFor(const std::string& canonical, const Place& place, bool again) {
        for (auto it = m_trashes.begin(); it != m_trashes.end(); ++it) {
            if (!((*it)->place == place))
                continue;
            if (!again && (*it)->stillInPlace())
                return it->get();
            m_trashes.erase(it);
            break;
        }
        auto opened = openTrash(canonical, place);
        if (!opened)
            return opened.error();
        m_trashes.push_back(std::move(opened.value()));
        return m_trashes.back().get();
    }

    // 0 or errno.
    int know(const HeldFolder& folder) {
        if (m_folder && m_folder->id.sameAs(folder.id()))
            return 0;
        const Result<fs::path> canonical = folder.resolvedPath();
        if (!canonical)
            return canonical.code();
        const FolderId& id = folder.id();
        const Place place{static_cast<dev_t>(id.device), id.mount ? std::optional(id.mount) : std::nullopt};
        m_folder = KnownFolder{id, canonical.value().native(), place};
        return 0;
    }
    const KnownFolder& folder() const { return *m_folder; }

    // The trash was found changed or gone at the rename: found and checked again where it was,
    // the item's info file made there again under the same name (which the journal may already
    // hold), and the rename tried once more.
    Status remakeAndMove(const HeldFolder& folder, const std::string& item, const TrashPlace& place,
                         const Place& where) {
        const std::string name = ownName(place.trashedFile);
        const std::string infoName = ownName(place.infoFile);
        Result<KeptTrash*> again = trashFor(folderOf(place.original.native()), where, true);
        if (!again)
            return again.status();
        const KeptTrash& kept = *again.value();
        int error = kept.trash.folder + "/files/" + name == place.trashedFile.native() ? 0 : ENOENT;
        if (error == 0)
            error = writeInfoFile(kept.info.fd(), infoName,
                                  trashInfoText(pathValue(kept.trash, place.original), std::time(nullptr)));
        // On the disk before its item goes in, as every info file is.
        if (error == 0)
            error = syncInfoFile(kept, infoName);
        if (error == 0) {
            error = renameWithoutReplacing(folder.fd(), item, kept.files.fd(), name);
            if (error != 0)
                ::unlinkat(kept.info.fd(), infoName.c_str(), 0);
        }
        return error ? Status(errorFromErrno(kTrashText, place.original, error)) : Status();
    }

    KeptTrash* keptFor(const TrashPlace& place) {
        const std::string files = withoutTrailingSlash(place.trashedFile).parent_path().native();
        for (const auto& kept : m_trashes) {
            if (kept->trash.folder + "/files" == files)
                return kept.get();
        }
        return nullptr;
    }

private:
    std::optional<KnownFolder> m_folder;
    std::vector<std::unique_ptr<KeptTrash>> m_trashes;
};

namespace {

Result<TrashPlace> createInfoFile(const KeptTrash& kept, const std::string& original) {
    const std::string text = trashInfoText(pathValue(kept.trash, original), std::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = trashNameFor(ownName(original), attempt);
        struct stat st {};
        if (::fstatat(kept.files.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue; // an item whose info file was lost keeps its name
        const int error = writeInfoFile(kept.info.fd(), name + kInfoSuffix, text);
        if (error == EEXIST)
            continue;
        if (error != 0)
            return errorFromErrno(kTrashText, original, error);
        return TrashPlace{original, kept.trash.folder + "/files/" + name,
                          kept.trash.folder + "/info/" + name + kInfoSuffix};
    }
    return errorFromErrno(kTrashText, original, EEXIST);
}

} // namespace

OpenTrashes::OpenTrashes() : m_kept(std::make_unique<Kept>()) {}
OpenTrashes::~OpenTrashes() = default;

Status OpenTrashes::checkUsable(const fs::path& onFileSystem) {
    const Result<HeldFolder> folder = HeldFolder::open(onFileSystem);
    if (const int error = folder ? m_kept->know(folder.value()) : folder.code())
        return errorFromErrno(kPrepareText, onFileSystem, error);
    return m_kept->trashFor(m_kept->folder().canonical, m_kept->folder().place, false).status();
}

// The item's absolute path (the symbolic links of its folder resolved, as the kernel names the
// held folder) and its info file in the trash that serves it. A trash gone since its check is made
// again.
Result<TrashPlace> OpenTrashes::reserve(const HeldFolder& folder, const std::string& name) {
    if (!isPlainName(name))
        return errorFromErrno(kTrashText, folder.pathOf(name), EINVAL);
    if (const int error = m_kept->know(folder))
        return errorFromErrno(kTrashText, folder.pathOf(name), error);
    const KnownFolder& known = m_kept->folder();
    for (int attempt = 0;; ++attempt) {
        Result<KeptTrash*> kept = m_kept->trashFor(known.canonical, known.place, attempt > 0);
        if (!kept)
            return kept.error();
        Result<TrashPlace> place = createInfoFile(*kept.value(), joinPath(known.canonical, name).native());
        if (place || place.code() != ENOENT || attempt > 0)
            return place;
    }
}

Result<TrashPlace> OpenTrashes::reserve(const fs::path& item) {
    const std::string path = withoutTrailingSlash(item).native();
    const Result<HeldFolder> folder = HeldFolder::open(folderOf(path));
    if (!folder)
        return errorFromErrno(kTrashText, item, folder.code());
    const Result<HeldEntry> entry = folder.value().lookup(ownName(path));
    if (!entry || entry.value().kind == HeldEntry::Kind::None)
        return errorFromErrno(kTrashText, item, entry ? ENOENT : entry.code());
    return reserve(folder.value(), ownName(path));
}

// Into the trash as it was checked, or as it is found again when it changed since the check or
// the rename finds it gone.
Status OpenTrashes::moveInto(const HeldFolder& folder, const std::string& name, const TrashPlace& place) {
    KeptTrash* kept = m_kept->keptFor(place);
    if (!kept)
        return moveIntoTrash(folder, name, place);
    int error = ENOENT;
    if (kept->stillInPlace()) {
        error = renameWithoutReplacing(folder.fd(), name, kept->files.fd(), ownName(place.trashedFile));
        if (error == 0)
            return {};
    }
    ::unlinkat(kept->info.fd(), ownName(place.infoFile).c_str(), 0); // the reservation, wherever it went
    if (error == ENOENT) {
        const Result<HeldEntry> item = folder.lookup(name);
        if (item && item.value().kind != HeldEntry::Kind::None)
            return m_kept->remakeAndMove(folder, name, place, Place(kept->place));
    }
    return errorFromErrno(kTrashText, place.original, error);
}

Status OpenTrashes::moveInto(const TrashPlace& place) {
    const Result<HeldFolder> folder = HeldFolder::open(folderOf(place.original.native()));
    if (!folder) {
        (void)releaseTrashPlace(place);
        return errorFromErrno(kTrashText, place.original, folder.code());
    }
    return moveInto(folder.value(), ownName(place.original), place);
}

Result<HeldFolder> OpenTrashes::infoFolder(const TrashPlace& place) const {
    const KeptTrash* kept = m_kept->keptFor(place);
    if (!kept)
        return errorFromErrno(kTrashText, place.infoFile, ENOENT);
    return kept->info.duplicate();
}

Status OpenTrashes::release(const TrashPlace& place) {
    const KeptTrash* kept = m_kept->keptFor(place);
    if (!kept)
        return releaseTrashPlace(place);
    if (::unlinkat(kept->info.fd(), ownName(place.infoFile).c_str(), 0) != 0 && errno != ENOENT)
        return errorFromErrno(kInfoRemoveText, place.infoFile, errno);
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

Status checkTrashUsable(const fs::path& onFileSystem) {
    return OpenTrashes().checkUsable(onFileSystem);
}

Result<TrashPlace> reserveTrashPlace(const fs::path& item) {
    return OpenTrashes().reserve(item);
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

Status moveIntoTrash(const TrashPlace& place) {
    return OpenTrashes().moveInto(place);
}

Status releaseTrashPlace(const TrashPlace& place) {
    if (::unlink(place.infoFile.c_str()) != 0 && errno != ENOENT)
        return errorFromErrno(kInfoRemoveText, place.infoFile, errno);
    return {};
}

Status restoreFromTrash(const TrashPlace& place, const fs::path& to) {
    if (const int error = renameWithoutReplacing(place.trashedFile, to))
        return errorFromErrno(kRestoreText, error == EEXIST ? to : place.trashedFile, error);
    return releaseTrashPlace(place);
}

} // namespace corvalin
