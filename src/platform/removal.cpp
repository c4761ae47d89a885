#include "platform/removal.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/trash_queue.h"
#include "platform/volumes.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kFolderRemoveText = "フォルダの削除";
const char* const kNoTrashAdvice =
    "何も移動・削除していません。ごみ箱を使わずに削除するには、オプションの「詳細」で"
    "「ごみ箱を使わずに完全に削除する」にチェックを入れてください。";

// A folder goes as a whole only when it is a real folder with nothing else mounted inside it: a
// mount point moved along would be emptied with the trash one day, and a deletion would stop at it
// halfway through.
Status checkWholeFolder(const HeldFolder& folder) {
    const Result<fs::path> resolved = folder.resolvedPath();
    if (!resolved)
        return errorFromErrno(kFolderRemoveText, folder.path(), resolved.code());
    if (const std::optional<fs::path> mountPoint = mountPointInOrBelow(resolved.value().native()))
        return errorFromErrno(kFolderRemoveText, *mountPoint, EXDEV);
    return {};
}

// The subfolder, opened below its parent without following a link: a link is no folder to remove.
Result<HeldFolder> folderToRemove(const HeldFolder& parent, const std::string& name,
                                  const FolderId* expected) {
    Result<HeldFolder> folder = expected ? parent.child(name, *expected) : parent.child(name);
    if (!folder && folder.code() == ELOOP)
        return errorFromErrno(kFolderRemoveText, parent.pathOf(name), ENOTDIR);
    if (!folder)
        return errorFromErrno(kFolderRemoveText, parent.pathOf(name), folder.code());
    return folder;
}

// The parent of an item named by its path, opened by that path, and the item's own name.
Result<HeldFolder> parentOf(const fs::path& item, std::string& name) {
    const fs::path path = withoutTrailingSlash(item);
    name = ownName(path);
    if (!isPlainName(name))
        return errorFromErrno(kFolderRemoveText, item, EINVAL);
    return HeldFolder::open(folderOf(path.native()));
}

} // namespace

Removal::Removal(bool permanent, Hook beforeRemove)
    : m_permanent(permanent), m_beforeRemove(std::move(beforeRemove)),
      m_trashes(std::make_shared<OpenTrashes>()) {}

Removal Removal::withHook(Hook beforeRemove) const {
    Removal copy = *this;
    copy.m_beforeRemove = std::move(beforeRemove);
    return copy;
}

Removal Removal::waiting() const {
    Removal copy = *this;
    copy.m_waiting = std::make_shared<TrashQueue>(m_trashes);
    return copy;
}

Status Removal::checkUsable(const fs::path& source) const {
    if (m_permanent)
        return {};
    // A folder that is gone is no trash problem: say so, as the survey would, without advice about
    // the Trash that would not help.
    if (Status readable = checkFolderReadable(source); !readable)
        return readable;
    Status usable = m_trashes->checkUsable(source);
    if (usable)
        return {};
    Error error = usable.error();
    error.advice += kNoTrashAdvice; // after the disk that has no trash, where one is named
    return error;
}

Result<std::optional<TrashPlace>> Removal::removeFile(const HeldFolder& folder,
                                                      const std::string& name) const {
    const Result<HeldEntry> entry = folder.lookup(name);
    if (!entry)
        return entry.error();
    if (entry.value().kind == HeldEntry::Kind::None)
        return errorFromErrno("ファイルの削除", folder.pathOf(name), ENOENT);
    RemovalStep step{folder.pathOf(name), false, std::nullopt, 0, entry.value().identity};
    // A link has no mode of its own; a file without the owner's write permission gets it.
    if (entry.value().kind != HeldEntry::Kind::Link && !(entry.value().mode & S_IWUSR)) {
        if (Status normal = folder.setMode(name, (entry.value().mode & 07777) | S_IWUSR); !normal)
            return normal.error();
    }
    if (!m_permanent)
        return toTrash(folder, name, std::move(step));
    if (Status allowed = announce(step); !allowed)
        return allowed.error();
    if (Status removed = folder.removeFile(name); !removed)
        return removed.error();
    return std::optional<TrashPlace>();
}

Result<std::optional<TrashPlace>> Removal::removeFile(const fs::path& file) const {
    std::string name;
    const Result<HeldFolder> folder = parentOf(file, name);
    if (!folder)
        return folder.error();
    return removeFile(folder.value(), name);
}

Result<std::optional<TrashPlace>> Removal::removeFolder(const HeldFolder& parent, const std::string& name,
                                                        const FolderId* expected) const {
    const Result<HeldFolder> folder = folderToRemove(parent, name, expected);
    if (!folder)
        return folder.error();
    return removeWhole(parent, name, folder.value(), nullptr);
}

Result<std::optional<TrashPlace>> Removal::removeFolder(const fs::path& folder) const {
    std::string name;
    const Result<HeldFolder> parent = parentOf(folder, name);
    if (!parent)
        return errorFromErrno(kFolderRemoveText, folder, parent.code());
    return removeFolder(parent.value(), name);
}

Result<bool> Removal::removeFolderUnless(const HeldFolder& parent, const std::string& name,
                                         const NameTest& keep, const FolderId* expected) const {
    const Result<HeldFolder> folder = folderToRemove(parent, name, expected);
    if (!folder)
        return folder.error();
    Result<FolderTree> tree = readFolderTree(folder.value());
    if (!tree)
        return tree.error();
    if (anyName(tree.value(), keep))
        return false;
    if (auto removed = removeWhole(parent, name, folder.value(), &tree.value()); !removed)
        return removed.error();
    return true;
}

Result<std::optional<TrashPlace>> Removal::removeWhole(const HeldFolder& parent, const std::string& name,
                                                       const HeldFolder& folder,
                                                       const FolderTree* listed) const {
    if (Status whole = checkWholeFolder(folder); !whole)
        return whole.error();
    const Result<HeldEntry> entry = parent.lookup(name);
    if (!entry)
        return entry.error();
    RemovalStep step{folder.path(), true, std::nullopt, 0, entry.value().identity};
    if (!m_permanent)
        return toTrash(parent, name, std::move(step));
    if (Status allowed = announce(step); !allowed)
        return allowed.error();
    if (Status removed = removeTree(parent, name, folder.id(), listed); !removed)
        return removed.error();
    return std::optional<TrashPlace>();
}

// A place reserved in the trash, the step announced (recorded), then the item either waits for the
// next flush or goes in now.
Result<std::optional<TrashPlace>> Removal::toTrash(const HeldFolder& folder, const std::string& name,
                                                   RemovalStep step) const {
    Result<TrashPlace> place = m_trashes->reserve(folder, name);
    if (!place)
        return place.error();
    step.place = place.value();
    if (Status allowed = announce(step); !allowed) {
        (void)m_trashes->release(place.value());
        return allowed.error();
    }
    if (m_waiting) {
        if (Status added = m_waiting->add({place.value(), step.folder, step.record}, folder, name); !added) {
            (void)m_trashes->release(place.value());
            return added.error();
        }
        return std::optional<TrashPlace>(place.value());
    }
    if (Status moved = m_trashes->moveInto(folder, name, place.value()); !moved)
        return moved.error();
    return std::optional<TrashPlace>(place.value());
}

Status Removal::announce(RemovalStep& step) const {
    return m_beforeRemove ? m_beforeRemove(step) : Status();
}

} // namespace corvalin
