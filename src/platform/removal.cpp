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

// For paths already absolute and free of ".", ".." and doubled slashes, as realpath and the kernel's
// mount table give them: a comparison of the texts, where the general test would take each apart.
bool liesInOrBelow(const std::string& path, const std::string& folder) {
    if (folder == "/")
        return true;
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// A folder goes as a whole only when it is a real folder with nothing else mounted inside it: a
// mount point moved along would be emptied with the trash one day, and a deletion would stop at it
// halfway through.
Status checkWholeFolder(const fs::path& folder) {
    struct stat st {};
    if (::lstat(withoutTrailingSlash(folder).c_str(), &st) != 0)
        return errorFromErrno(kFolderRemoveText, folder, errno);
    if (!S_ISDIR(st.st_mode))
        return errorFromErrno(kFolderRemoveText, folder, ENOTDIR);
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved)
        return errorFromErrno(kFolderRemoveText, folder, errno);
    const std::string canonical = resolved;
    std::free(resolved);
    for (const fs::path& mountPoint : listMountPoints()) {
        if (liesInOrBelow(mountPoint.native(), canonical))
            return errorFromErrno(kFolderRemoveText, mountPoint, EXDEV);
    }
    return {};
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
    error.advice = kNoTrashAdvice;
    return error;
}

Result<std::optional<TrashPlace>> Removal::removeFile(const fs::path& file) const {
    if (Status normal = setNormalAttributes(file); !normal)
        return normal.error();
    if (!m_permanent)
        return toTrash(file, false);
    RemovalStep step{file, false};
    if (Status allowed = announce(step); !allowed)
        return allowed.error();
    if (Status removed = corvalin::removeFile(file); !removed)
        return removed.error();
    return std::optional<TrashPlace>();
}

Result<std::optional<TrashPlace>> Removal::removeFolder(const fs::path& folder) const {
    return removeWhole(folder, nullptr);
}

Result<bool> Removal::removeFolderUnless(const fs::path& folder, const NameTest& keep) const {
    Result<FolderTree> tree = readFolderTree(folder);
    if (!tree)
        return tree.error();
    if (anyName(tree.value(), keep))
        return false;
    if (auto removed = removeWhole(folder, &tree.value()); !removed)
        return removed.error();
    return true;
}

Result<std::optional<TrashPlace>> Removal::removeWhole(const fs::path& folder,
                                                       const FolderTree* listed) const {
    if (Status whole = checkWholeFolder(folder); !whole)
        return whole.error();
    if (!m_permanent)
        return toTrash(folder, true);
    RemovalStep step{folder, true};
    if (Status allowed = announce(step); !allowed)
        return allowed.error();
    if (Status removed = removeTree(folder, listed); !removed)
        return removed.error();
    return std::optional<TrashPlace>();
}

Result<std::optional<TrashPlace>> Removal::toTrash(const fs::path& item, bool folder) const {
    Result<TrashPlace> place = m_trashes->reserve(item);
    if (!place)
        return place.error();
    RemovalStep step{item, folder, place.value()};
    if (Status allowed = announce(step); !allowed) {
        (void)releaseTrashPlace(place.value());
        return allowed.error();
    }
    if (m_waiting) {
        if (Status added = m_waiting->add({place.value(), folder, step.record}); !added) {
            (void)releaseTrashPlace(place.value());
            return added.error();
        }
        return std::optional<TrashPlace>(place.value());
    }
    if (Status moved = m_trashes->moveInto(place.value()); !moved)
        return moved.error();
    return std::optional<TrashPlace>(place.value());
}

Status Removal::announce(RemovalStep& step) const {
    return m_beforeRemove ? m_beforeRemove(step) : Status();
}

} // namespace corvalin
