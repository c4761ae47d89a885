// The trashes a run keeps open, and how its items go in.
//
// A trash is a folder holding "files" (the items under their trash names) and "info" (one
// "<name>.trashinfo" per item). The info file is created first, exclusively, so that two programs
// trashing at once never pick the same name; then the item is renamed into "files".
#include "platform/trash.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/trash_folders.h"
#include "platform/trash_info.h"
#include "platform/trash_rename.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// What Path= says for an item: its absolute path at home, else its path below the top folder.
std::string pathValue(const TrashFolder& trash, const std::string& original) {
    return trash.topdir.empty()  ? original
           : trash.topdir == "/" ? original.substr(1)
                                 : original.substr(trash.topdir.size() + 1);
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
    // For each name trashed here by this process, the attempt (see trashNameFor) to try first: a
    // hundred "readme.txt" of a run would otherwise each try every name the ones before took.
    std::unordered_map<std::string, int> firstAttempt;

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
    // Known before the first item: a disk whose renames the trash cannot use.
    if (error == 0)
        error = probeTrashRename(info.value().fd(), files.value().fd());
    if (error != 0)
        return refusedOnVolume(errorFromErrno(kPrepareText, kept->trash.folder, error), kept->trash);
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
    // The trash serving `folder`'s place, checked or prepared; `again` prepares it afresh. Without
    // `check` one kept already is taken as it is: an info file made in it while it was moved away
    // is found at the rename, which checks and makes it again where the trash is then.
    Result<KeptTrash*> trashFor(const std::string& canonical, const Place& place, bool again,
                                bool check = true) {
        for (auto it = m_trashes.begin(); it != m_trashes.end(); ++it) {
            if (!((*it)->place == place))
                continue;
            if (!again && (!check || (*it)->stillInPlace()))
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

Result<TrashPlace> createInfoFile(KeptTrash& kept, const std::string& original) {
    const std::string text = trashInfoText(pathValue(kept.trash, original), std::time(nullptr));
    int& first = kept.firstAttempt[ownName(original)];
    for (int attempt = first; attempt < first + 100; ++attempt) {
        const std::string name = trashNameFor(ownName(original), attempt);
        struct stat st {};
        if (::fstatat(kept.files.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue; // an item whose info file was lost keeps its name
        const int error = writeInfoFile(kept.info.fd(), name + kInfoSuffix, text);
        if (error == EEXIST)
            continue;
        if (error != 0)
            return errorFromErrno(kTrashText, original, error);
        // Past the numbered names every attempt draws a new random one.
        first = std::min(attempt + 1, kNumberedTrashNames);
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
        Result<KeptTrash*> kept = m_kept->trashFor(known.canonical, known.place, attempt > 0, false);
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

Status checkTrashUsable(const fs::path& onFileSystem) {
    return OpenTrashes().checkUsable(onFileSystem);
}

Result<TrashPlace> reserveTrashPlace(const fs::path& item) {
    return OpenTrashes().reserve(item);
}

Status moveIntoTrash(const TrashPlace& place) {
    return OpenTrashes().moveInto(place);
}

} // namespace corvalin
