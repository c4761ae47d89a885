#pragma once

#include "platform/file_ops.h"
#include "platform/held_folder.h"
#include "platform/result.h"
#include "platform/trash.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace corvalin {

// One item about to go: its place in the trash is reserved (empty when deleted for good), and
// nothing has moved or been deleted yet.
struct RemovalStep {
    std::filesystem::path item;
    bool folder = false;
    std::optional<TrashPlace> place = {};
    std::size_t record = 0;     // set by a hook that records the step: the journal's line for it
    FileIdentity identity = {}; // the item as its folder showed it, for the record
};

class TrashQueue;

// How a run removes what it removes: to the trash by default, for good when the user chose
// "ごみ箱を使わずに完全に削除する". A hook sees every item before it goes and may stop it. Copies
// share the trashes they have prepared (OpenTrashes), so one run prepares each trash once. A
// waiting removal leaves what goes to the Trash in its folder, queued until its info file is on the
// disk (trash_queue.h); whoever flushes then moves it.
class Removal {
public:
    using Hook = std::function<Status(RemovalStep&)>;
    using NameTest = std::function<bool(std::string_view name)>;

    explicit Removal(bool permanent = false, Hook beforeRemove = {});

    bool permanent() const { return m_permanent; }
    // The same removal, sharing its prepared trashes, with `beforeRemove` as its hook.
    Removal withHook(Hook beforeRemove) const;
    // The same removal, its items for the Trash waiting in a queue of their own (waitingItems).
    Removal waiting() const;
    std::shared_ptr<TrashQueue> waitingItems() const { return m_waiting; }

    // Before a run touches anything: can what it removes below `source` go to the trash? Nothing to
    // check when deleting for good. The error also tells the user about the permanent option.
    Status checkUsable(const std::filesystem::path& source) const;

    // The entry `name` of `folder` (never a link followed), a file after giving its owner write
    // permission. The place in the trash (the item still waits for it when this removal waits), or
    // nothing when deleted for good. ENOENT when nothing has the name any more.
    Result<std::optional<TrashPlace>> removeFile(const HeldFolder& folder, const std::string& name) const;
    // The same for a file named by its path, its folder opened by that path.
    Result<std::optional<TrashPlace>> removeFile(const std::filesystem::path& file) const;

    // The subfolder `name` of `parent` with everything in it: to the trash in one rename, or deleted
    // tree and all. A symbolic link is refused (ENOTDIR), and so is a folder with another file system
    // mounted below it (EXDEV naming the mount point), before anything goes: neither would go in
    // one piece. With `expected`, only that very folder goes (ESTALE when another took its name).
    Result<std::optional<TrashPlace>> removeFolder(const HeldFolder& parent, const std::string& name,
                                                   const FolderId* expected = nullptr) const;
    // The same for a folder named by its path, its parent opened by that path.
    Result<std::optional<TrashPlace>> removeFolder(const std::filesystem::path& folder) const;

    // removeFolder, unless an entry below the folder that is no folder has a name `keep` accepts:
    // then nothing goes, and the answer is false. The folder is read once, before anything goes,
    // and a deletion for good removes only what that reading saw: an entry that arrived since
    // stays, and with it the folder holding it (ENOTEMPTY).
    Result<bool> removeFolderUnless(const HeldFolder& parent, const std::string& name, const NameTest& keep,
                                    const FolderId* expected = nullptr) const;

private:
    Result<std::optional<TrashPlace>> removeWhole(const HeldFolder& parent, const std::string& name,
                                                  const HeldFolder& folder, const FolderTree* listed) const;
    Result<std::optional<TrashPlace>> toTrash(const HeldFolder& folder, const std::string& name,
                                              RemovalStep step) const;
    Status announce(RemovalStep& step) const;

    bool m_permanent;
    Hook m_beforeRemove;
    std::shared_ptr<OpenTrashes> m_trashes;
    std::shared_ptr<TrashQueue> m_waiting;
};

} // namespace corvalin
