#include "platform/trash_queue.h"

#include "platform/disk_sync.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/trash_folders.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kTrashText = "ごみ箱への移動";
const char* const kInfoFlushText = "ごみ箱の情報ファイルの書き込み";
const char* const kReplacedText =
    "ごみ箱に入れる前に変更されたか、別のものに置き換えられたため、そのまま残しました。";

// What tells an item apart from one put in its place: its inode, and for a file its last change of
// status too, since a file deleted and made again may get the freed inode back. A folder's changes
// with what leaves it (its files go first), so its inode alone counts.
struct ItemIdentity {
    FolderIdentity inode;
    struct timespec changed {};
    bool isFolder = false;
    bool operator==(const ItemIdentity& other) const {
        return inode == other.inode && changed.tv_sec == other.changed.tv_sec &&
               changed.tv_nsec == other.changed.tv_nsec && isFolder == other.isFolder;
    }
};

int identityAt(const HeldFolder& folder, const std::string& name, ItemIdentity& identity, bool isFolder) {
    struct stat st {};
    if (::fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    identity = {{st.st_dev, st.st_ino}, isFolder ? timespec{} : st.st_ctim, S_ISDIR(st.st_mode)};
    return 0;
}

bool isBelow(const fs::path& path, const fs::path& folder) {
    const std::string& text = path.native();
    const std::string top = folder.native() + "/";
    return text.size() > top.size() && text.compare(0, top.size(), top) == 0;
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
    bool there = false;
};

struct TrashQueue::Entry {
    WaitingItem item;
    std::shared_ptr<Holder> holder;
    std::string name;  // in the holder
    ItemIdentity self; // the item, when it was added
    std::size_t infoFolder = 0;
};

// An info folder as the trash that holds it keeps it, and its file system.
struct TrashQueue::InfoFolder {
    fs::path path;
    HeldFolder folder;
    dev_t device = 0;
    bool whole = false;             // one syncfs puts it on the disk
    std::vector<std::string> names; // of the waiting items' info files, for a flush of each
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
Result<std::size_t> TrashQueue::infoFolderOf(const TrashPlace& place) {
    const fs::path path = withoutTrailingSlash(place.infoFile).parent_path();
    for (std::size_t i = 0; i < m_infoFolders.size(); ++i) {
        if (m_infoFolders[i].path == path)
            return i;
    }
    Result<HeldFolder> held = m_trashes->infoFolder(place);
    if (!held)
        return held.error();
    struct stat st {};
    struct statfs info {};
    if (::fstat(held.value().fd(), &st) != 0 || ::fstatfs(held.value().fd(), &info) != 0)
        return errorFromErrno(kInfoFlushText, path, errno);
    m_infoFolders.push_back({path,
                             std::move(held.value()),
                             st.st_dev,
                             syncfsReachesDisk(static_cast<unsigned long>(info.f_type)),
                             {}});
    return m_infoFolders.size() - 1;
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
        m_lastHolder = std::make_shared<Holder>(Holder{std::move(held.value()), std::move(place.value())});
    }
    entry.holder = m_lastHolder;
    if (const int error = identityAt(folder, name, entry.self, item.folder))
        return errorFromErrno(kTrashText, item.place.original, error);
    const Result<std::size_t> info = infoFolderOf(item.place);
    if (!info)
        return info.error();
    entry.infoFolder = info.value();
    m_infoFolders[entry.infoFolder].names.push_back(ownName(item.place.infoFile));
    m_items.push_back(std::move(entry));
    return {};
}

bool TrashQueue::flushesWhole(dev_t device) const {
    return std::any_of(m_items.begin(), m_items.end(), [&](const Entry& entry) {
        const InfoFolder& folder = m_infoFolders[entry.infoFolder];
        return folder.whole && folder.device == device;
    });
}

// Each info file, then the folder that names them.
Status TrashQueue::flushEach(const InfoFolder& folder) const {
    for (const std::string& name : folder.names) {
        UniqueFd fd(::openat(folder.folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.valid() || ::fdatasync(fd.get()) != 0)
            return errorFromErrno(kInfoFlushText, folder.path / name, errno);
    }
    if (Status flushed = folder.folder.flush(); !flushed)
        return errorFromErrno(kInfoFlushText, folder.path, flushed.code());
    return {};
}

Status TrashQueue::makeDurable() {
    std::vector<dev_t> synced;
    for (const InfoFolder& folder : m_infoFolders) {
        if (folder.names.empty() ||
            (folder.whole && std::find(synced.begin(), synced.end(), folder.device) != synced.end()))
            continue;
        if (!folder.whole) {
            if (Status flushed = flushEach(folder); !flushed)
                return flushed;
            continue;
        }
        if (::syncfs(folder.folder.fd()) != 0)
            return errorFromErrno(kInfoFlushText, folder.path, errno);
        synced.push_back(folder.device);
    }
    return {};
}

std::vector<FolderLeft> TrashQueue::takeFoldersLeft() {
    return std::exchange(m_foldersLeft, {});
}

// Once: a folder whose items stayed may be waiting itself.
void TrashQueue::leave(const fs::path& folder, int reason) {
    if (std::none_of(m_foldersLeft.begin(), m_foldersLeft.end(),
                     [&](const FolderLeft& left) { return left.folder == folder; }))
        m_foldersLeft.push_back({folder, reason});
}

// The folder held for items still lies where it lay when they were added; noted once when not.
bool TrashQueue::stillThere(Holder& holder) {
    if (!holder.checked) {
        holder.checked = true;
        const Result<fs::path> place = holder.folder.resolvedPath();
        holder.there = place && place.value() == holder.place;
        if (!holder.there)
            leave(holder.folder.path(), ENOENT);
    }
    return holder.there;
}

// A waiting folder that holds a folder left as it is stays with it.
bool TrashQueue::holdsFolderLeft(const Entry& entry) const {
    const fs::path self = entry.holder->folder.pathOf(entry.name);
    return std::any_of(m_foldersLeft.begin(), m_foldersLeft.end(),
                       [&](const FolderLeft& left) { return isBelow(left.folder, self); });
}

// Into the trash while it is still the item that was added, found by its name in the folder held
// for it, which is still where it was. False when it stays: a failure is told in `failure`, a
// folder that changed is noted instead.
bool TrashQueue::moveOne(const Entry& entry, Status& failure) {
    ItemIdentity self;
    const Holder& holder = *entry.holder;
    const int error =
        stillThere(*entry.holder) ? identityAt(holder.folder, entry.name, self, entry.item.folder) : -1;
    if (error == 0 && self == entry.self) {
        failure = m_trashes->moveInto(entry.holder->folder, entry.name,
                                      entry.item.place); // the info file goes on failure
        return failure.ok();
    }
    (void)m_trashes->release(entry.item.place);
    if (error == -1)
        return false;
    if (entry.item.folder && (error == 0 || error == ENOENT)) {
        leave(entry.holder->folder.pathOf(entry.name), error ? ENOENT : self.isFolder ? ESTALE : ENOTDIR);
        return false;
    }
    failure = error ? errorFromErrno(kTrashText, entry.item.place.original, error)
                    : Status(Error{kTrashText, entry.item.place.original, 0, kReplacedText});
    return false;
}

Status TrashQueue::moveAll(const NotMoved& notMoved) {
    Status first;
    for (const Entry& entry : m_items) {
        Status failure;
        const bool held = entry.item.folder && (!first || holdsFolderLeft(entry));
        if (held)
            (void)m_trashes->release(entry.item.place);
        if (held || !moveOne(entry, failure))
            notMoved(entry.item);
        if (first && !failure)
            first = failure;
    }
    m_items.clear();
    m_lastHolder.reset();
    for (InfoFolder& folder : m_infoFolders)
        folder.names.clear();
    return first;
}

void TrashQueue::releaseAll(const NotMoved& notMoved) {
    for (const Entry& entry : m_items) {
        (void)m_trashes->release(entry.item.place);
        notMoved(entry.item);
    }
    m_items.clear();
    m_lastHolder.reset();
    for (InfoFolder& folder : m_infoFolders)
        folder.names.clear();
}

} // namespace corvalin
