#pragma once

#include "platform/result.h"
#include "platform/trash.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// Items bound for the Trash wait in their folders until their info files are on the disk, so that
// a power cut never leaves an item in a trash without the file that says where it came from (the
// file manager can neither show nor restore it). A run adds each item once its info file is
// written and its move recorded; at the journal's next flush the info files go to the disk with the
// records (makeDurable), and only then do the items move in (moveAll), in the order they came, so
// that a folder's files go before the folder. A kill meanwhile leaves the items where they were;
// the next start removes the info files they left.
namespace corvalin {

struct WaitingItem {
    TrashPlace place;
    bool folder = false;
    std::size_t record = 0; // the journal's line for its move; 0 without a journal
};

// A folder whose waiting items all stayed, since it is no longer the folder they were taken from.
struct FolderLeft {
    std::filesystem::path folder; // as the run names it
    // ENOENT: no longer where it lay (moved or removed); ENOTDIR: its name is a link or a file now;
    // ESTALE: another folder took its name.
    int reason = 0;
};

class TrashQueue {
public:
    // Items go in through `trashes`, the trashes their places were reserved in.
    explicit TrashQueue(std::shared_ptr<OpenTrashes> trashes);
    ~TrashQueue();
    TrashQueue(const TrashQueue&) = delete;
    TrashQueue& operator=(const TrashQueue&) = delete;

    // Takes up the item `name` of `folder`, whose info file is written. The folder is held (one
    // hold shared by the items of one folder) and what the item is now noted, so that it is found
    // again by its name there, never by a path. Nothing moves.
    Status add(const WaitingItem& item, const HeldFolder& folder, const std::string& name);
    bool empty() const;
    std::size_t size() const;

    // True when makeDurable will flush the whole file system `device` with one syncfs, which then
    // covers whatever else was written there (the journal).
    bool flushesWhole(dev_t device) const;

    // The info files of the waiting items on the disk: one syncfs per file system where that reaches
    // the disk, elsewhere each info file and then its folder. The error names what failed.
    Status makeDurable();

    // Every waiting item into its trash, in the order added, while it is still the item that was
    // noted in the folder held for it and that folder still lies where it lay then. A folder that
    // is no longer so (the folder of items, or a folder waiting itself) is left as it is with
    // everything in it: it is no failure, its items are told to `notMoved`, and it is noted for
    // foldersLeft(); no folder holding it goes either. Any other item that cannot go stays where it
    // is, loses its info file and is told to `notMoved`; after such a failure no folder goes any more
    // (it might hold what could not go), and each is told as well. Returns the first failure; the
    // queue is empty afterwards.
    using NotMoved = std::function<void(const WaitingItem&)>;
    Status moveAll(const NotMoved& notMoved);

    // The folders left so since the last call, in the order met.
    std::vector<FolderLeft> takeFoldersLeft();

    // Nothing moves: every info file goes again and every item is told to `notMoved` (after a flush
    // that failed, when the info files are not known to be on the disk).
    void releaseAll(const NotMoved& notMoved);

private:
    struct Holder;
    struct Entry;
    struct InfoFolder;
    Result<std::size_t> infoFolderOf(const TrashPlace& place);
    bool stillThere(Holder& holder);
    bool moveOne(const Entry& entry, Status& failure);
    bool holdsFolderLeft(const Entry& entry) const;
    void leave(const std::filesystem::path& folder, int reason);
    Status flushEach(const InfoFolder& folder) const;

    std::shared_ptr<OpenTrashes> m_trashes;
    std::vector<Entry> m_items;
    std::vector<InfoFolder> m_infoFolders; // every info folder met, with its file system
    std::shared_ptr<Holder> m_lastHolder;
    std::vector<FolderLeft> m_foldersLeft;
};

} // namespace corvalin
