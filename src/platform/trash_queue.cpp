#include "platform/trash_queue.h"

#include "platform/disk_sync.h"
#include "platform/posix_io.h"
#include "platform/trash_folders.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kTrashText = "ごみ箱への移動";
const char* const kInfoFlushText = "ごみ箱の情報ファイルの書き込み";
const char* const kReplacedText =
    "ごみ箱に入れる前に変更されたか、別のものに置き換えられたため、そのまま残しました。";
const char* const kFolderMovedText =
    "ごみ箱に入れる前にフォルダが移動または削除されたため、中のものはそのまま残しました。";

// What tells an item apart from one put in its place: its inode, and for a file its last change of
// status too, since a file deleted and made again may get the freed inode back. A folder's changes
// with what leaves it (its files go first), so its inode alone counts.
struct ItemIdentity {
    FolderIdentity inode;
    struct timespec changed {};
    bool operator==(const ItemIdentity& other) const {
        return inode == other.inode && changed.tv_sec == other.changed.tv_sec &&
               changed.tv_nsec == other.changed.tv_nsec;
    }
};

int identityAt(const HeldFolder& folder, const std::string& name, ItemIdentity& identity, bool isFolder) {
    struct stat st {};
    if (::fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    identity = {{st.st_dev, st.st_ino}, isFolder ? timespec{} : st.st_ctim};
    return 0;
}

// 0 or errno.
int flushFile(const std::string& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid() || ::fdatasync(fd.get()) != 0)
        return errno;
    return 0;
}

} // namespace

// A folder held for its waiting items, and where it lay when they were added: one moved elsewhere
// meanwhile (perhaps out of the folders the run was given) is no longer the one its items were
// taken from, and is left with everything in it.
struct TrashQueue::Holder {
    HeldFolder folder;
    fs::path place;
    // Looked at once per moveAll, not once per item.
    bool checked = false;
    Status stillThere;
};

struct TrashQueue::Entry {
    WaitingItem item;
    std::shared_ptr<Holder> holder;
    std::string name;  // in the holder
    ItemIdentity self; // the item, when it was added
    std::size_t infoFolder = 0;
};

struct TrashQueue::InfoFolder {
    std::string path;
    dev_t device = 0;
    bool whole = false; // one syncfs puts it on the disk
};

TrashQueue::TrashQueue(std::shared_ptr<OpenTrashes> trashes) : m_trashes(std::move(trashes)) {}
TrashQueue::~TrashQueue() = default;

bool TrashQueue::empty() const {
    return m_items.empty();
}

std::size_t TrashQueue::size() const {
    return m_items.size();
}

// Looked at once per folder: a run's items share one or two trashes.
const TrashQueue::InfoFolder& TrashQueue::infoFolderOf(const TrashPlace& place) {
    const std::string path = folderOf(place.infoFile.native());
    const auto known = std::find_if(m_infoFolders.begin(), m_infoFolders.end(),
                                    [&](const InfoFolder& folder) { return folder.path == path; });
    if (known != m_infoFolders.end())
        return *known;
    InfoFolder folder{path};
    struct stat st {};
    struct statfs info {};
    if (::stat(path.c_str(), &st) == 0 && ::statfs(path.c_str(), &info) == 0) {
        folder.device = st.st_dev;
        folder.whole = syncfsReachesDisk(static_cast<unsigned long>(info.f_type));
    }
    m_infoFolders.push_back(std::move(folder));
    return m_infoFolders.back();
}

Status TrashQueue::add(const WaitingItem& item, const HeldFolder& folder, const std::string& name) {
    Entry entry;
    entry.item = item;
    entry.name = name;
    if (!m_lastHolder || !m_lastHolder->folder.id().sameAs(folder.id())) {
        Result<HeldFolder> held = folder.duplicate();
        if (!held)
            return errorFromErrno(kTrashText, item.place.original, held.code());
        Result<fs::path> place = folder.resolvedPath();
        if (!place)
            return errorFromErrno(kTrashText, folder.path(), place.code());
        m_lastHolder =
            std::make_shared<Holder>(Holder{std::move(held.value()), std::move(place.value()), false, {}});
    }
    entry.holder = m_lastHolder;
    if (const int error = identityAt(folder, name, entry.self, item.folder))
        return errorFromErrno(kTrashText, item.place.original, error);
    const InfoFolder& info = infoFolderOf(item.place);
    entry.infoFolder = static_cast<std::size_t>(&info - m_infoFolders.data());
    m_items.push_back(std::move(entry));
    return {};
}

bool TrashQueue::flushesWhole(dev_t device) const {
    return std::any_of(m_items.begin(), m_items.end(), [&](const Entry& entry) {
        const InfoFolder& folder = m_infoFolders[entry.infoFolder];
        return folder.whole && folder.device == device;
    });
}

Status TrashQueue::makeDurable() {
    std::vector<bool> used(m_infoFolders.size(), false);
    for (const Entry& entry : m_items)
        used[entry.infoFolder] = true;
    std::vector<dev_t> synced;
    for (std::size_t i = 0; i < m_infoFolders.size(); ++i) {
        const InfoFolder& folder = m_infoFolders[i];
        if (!used[i] ||
            (folder.whole && std::find(synced.begin(), synced.end(), folder.device) != synced.end()))
            continue;
        if (folder.whole) {
            UniqueFd fd(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!fd.valid() || ::syncfs(fd.get()) != 0)
                return errorFromErrno(kInfoFlushText, folder.path, errno);
            synced.push_back(folder.device);
            continue;
        }
        for (const Entry& entry : m_items) {
            if (entry.infoFolder != i)
                continue;
            if (const int error = flushFile(entry.item.place.infoFile.native()))
                return errorFromErrno(kInfoFlushText, entry.item.place.infoFile, error);
        }
        if (const int error = syncFolder(folder.path))
            return errorFromErrno(kInfoFlushText, folder.path, error);
    }
    return {};
}

// The folder held for items still lies where it lay when they were added.
Status TrashQueue::checkPlace(Holder& holder) {
    if (holder.checked)
        return holder.stillThere;
    holder.checked = true;
    const Result<fs::path> place = holder.folder.resolvedPath();
    if (!place || place.value() != holder.place)
        holder.stillThere = Error{kTrashText, holder.folder.path(), 0, kFolderMovedText};
    return holder.stillThere;
}

// Still the item that was added, found by its name in the folder held for it, which is still
// where it was.
Status TrashQueue::reach(const Entry& entry) {
    if (Status placed = checkPlace(*entry.holder); !placed)
        return placed;
    ItemIdentity self;
    if (const int error = identityAt(entry.holder->folder, entry.name, self, entry.item.folder))
        return errorFromErrno(kTrashText, entry.item.place.original, error);
    if (!(self == entry.self))
        return Error{kTrashText, entry.item.place.original, 0, kReplacedText};
    return {};
}

Status TrashQueue::moveAll(const NotMoved& notMoved) {
    Status first;
    for (const Entry& entry : m_items) {
        if (!first && entry.item.folder) {
            (void)releaseTrashPlace(entry.item.place);
            notMoved(entry.item);
            continue;
        }
        Status moved = reach(entry);
        if (moved)
            moved = m_trashes->moveInto(entry.holder->folder, entry.name,
                                        entry.item.place); // the info file goes on failure
        else
            (void)releaseTrashPlace(entry.item.place);
        if (!moved) {
            notMoved(entry.item);
            if (first)
                first = moved;
        }
    }
    m_items.clear();
    m_lastHolder.reset();
    return first;
}

void TrashQueue::releaseAll(const NotMoved& notMoved) {
    for (const Entry& entry : m_items) {
        (void)releaseTrashPlace(entry.item.place);
        notMoved(entry.item);
    }
    m_items.clear();
    m_lastHolder.reset();
}

} // namespace corvalin
