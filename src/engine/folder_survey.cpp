#include "engine/folder_survey.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/trash.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// One folder's turn: yields, lists its direct subfolders and appends them, yielding after each.
// Returns how many it appended.
Result<std::size_t> appendSubfolders(const fs::path& folder, std::vector<fs::path>& folderList,
                                     SurveyObserver& observer) {
    observer.yield();
    observer.surveyStarted();
    auto names = listSubfolders(folder, {.includeHidden = true, .sameFileSystemOnly = true});
    if (!names)
        return names.error();
    std::size_t appended = 0;
    for (const std::string& name : names.value()) {
        observer.yield();
        fs::path subfolder = joinPath(folder, name);
        // What the user trashed earlier stays in the trash, at the top of a memory card too.
        if (isTrashFolder(subfolder))
            continue;
        folderList.push_back(std::move(subfolder));
        ++appended;
    }
    return appended;
}

// The entries [first, end) that one folder appended, each visited in turn. Kept on an explicit
// stack rather than the call stack, so that no depth of nesting can overflow it.
struct PendingRange {
    std::size_t next;
    std::size_t end;
};

} // namespace

Status GetDir(const fs::path& root, std::vector<fs::path>& folderList, SurveyObserver& observer) {
    std::vector<PendingRange> pending;
    auto appended = appendSubfolders(root, folderList, observer);
    if (!appended)
        return appended.error();
    pending.push_back({folderList.size() - appended.value(), folderList.size()});
    while (!pending.empty()) {
        PendingRange& range = pending.back();
        if (range.next == range.end) {
            pending.pop_back();
            continue;
        }
        if (observer.stopRequested())
            return {};
        const std::size_t entry = range.next++;
        observer.yield();
        // Copied: appending may move the list's storage.
        const fs::path folder = folderList[entry];
        appended = appendSubfolders(folder, folderList, observer);
        if (!appended)
            return appended.error();
        pending.push_back({folderList.size() - appended.value(), folderList.size()});
    }
    return {};
}

} // namespace corvalin
