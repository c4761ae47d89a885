#include "engine/folder_survey.h"

#include "platform/paths.h"
#include "platform/trash.h"

#include <cerrno>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// One folder's turn: yields, lists its direct subfolders and appends them, yielding after each.
// Returns how many it appended.
Result<std::size_t> appendSubfolders(const HeldFolder& folder, std::size_t index,
                                     std::vector<fs::path>& folderList, std::vector<SurveyedFolder>& places,
                                     SurveyObserver& observer) {
    observer.yield();
    observer.surveyStarted();
    auto names = folder.subfolders();
    if (!names)
        return names.error();
    std::size_t appended = 0;
    for (std::string& name : names.value()) {
        observer.yield();
        fs::path subfolder = folder.pathOf(name);
        // What the user trashed earlier stays in the trash, at the top of a memory card too.
        if (isTrashFolder(subfolder))
            continue;
        folderList.push_back(std::move(subfolder));
        places.push_back({index, std::move(name), false, {}});
        ++appended;
    }
    return appended;
}

// A subfolder that is no longer a folder below its parent (gone, now a link or a file, another
// mount) since it was listed is kept in the list, unseen, and nothing below it is surveyed.
bool changedSinceListed(int code) {
    return code == ENOENT || code == ENOTDIR || code == ELOOP || code == EXDEV;
}

// The entries [next, end) that one folder appended, each visited in turn, with that folder held.
// Kept on an explicit stack rather than the call stack, so that no depth of nesting can overflow it.
struct PendingRange {
    HeldFolder parent;
    std::size_t next;
    std::size_t end;
};

} // namespace

Status GetDir(const fs::path& root, std::vector<fs::path>& folderList, SurveyObserver& observer) {
    Result<HeldFolder> held = HeldFolder::open(root);
    if (!held)
        return held.error();
    std::vector<SurveyedFolder> places;
    return GetDir(held.value(), folderList, places, observer);
}

Status GetDir(const HeldFolder& root, std::vector<fs::path>& folderList, std::vector<SurveyedFolder>& places,
              SurveyObserver& observer) {
    // Entries made before this survey have no place in it.
    places.resize(folderList.size());
    std::vector<PendingRange> pending;
    auto appended = appendSubfolders(root, kSurveyRoot, folderList, places, observer);
    if (!appended)
        return appended.error();
    Result<HeldFolder> top = root.duplicate();
    if (!top)
        return top.error();
    pending.push_back({std::move(top.value()), folderList.size() - appended.value(), folderList.size()});
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
        Result<HeldFolder> folder = range.parent.child(places[entry].name);
        if (!folder && changedSinceListed(folder.code()))
            continue;
        if (!folder)
            return folder.error();
        places[entry].seen = true;
        places[entry].id = folder.value().id();
        appended = appendSubfolders(folder.value(), entry, folderList, places, observer);
        if (!appended)
            return appended.error();
        pending.push_back(
            {std::move(folder.value()), folderList.size() - appended.value(), folderList.size()});
    }
    return {};
}

} // namespace corvalin
