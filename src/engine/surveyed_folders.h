#pragma once

#include "engine/folder_survey.h"
#include "platform/held_folder.h"
#include "platform/result.h"
#include "platform/trash_queue.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// A run opens the folders the survey saw again, each relative to its parent's descriptor, and
// works only in the very folder the survey saw. One that is no longer that folder (gone, now a
// link or a file, another folder under its name, another mount) is left as it is with everything
// in it: it is never followed and never removed, the run goes on with the others, and its end
// names it.
namespace corvalin {

enum class FolderChange {
    Gone,          // nothing has its name any more
    NoFolder,      // its name is a symbolic link or a file now
    AnotherFolder, // another folder took its name
    OtherMount     // another file system is mounted on it
};

struct ChangedFolder {
    std::filesystem::path path;
    FolderChange change;
};

class SurveyedFolders {
public:
    // `root` is the folder surveyed (held by the caller for as long as this object lives);
    // `folderList` and `places` what GetDir gave.
    SurveyedFolders(const HeldFolder& root, const std::vector<std::filesystem::path>& folderList,
                    const std::vector<SurveyedFolder>& places);

    // The surveyed folder at `index` of the list, held; valid until the next call. Nothing when it,
    // or a folder above it, is no longer the one surveyed: only the topmost such folder is noted in
    // changed(). Any other failure (no permission to enter it) is an error naming the folder.
    Result<const HeldFolder*> open(std::size_t index);

    // True when the folder at `index`, or a folder above it, was found changed and is left.
    bool isLeft(std::size_t index) const;
    // An action on the folder at `index` failed with `error`: when the error names that folder and
    // shows it changed (gone, a link, another folder, another mount), the folder is left and noted,
    // and the answer is true. Any other failure is the run's to report.
    bool noteChanged(std::size_t index, const Error& error);

    // Folders the Trash's queue found changed while their items waited: each left as if the run had
    // found it so, or named as it is when it is none of the surveyed folders (the source parent).
    void noteLeft(const std::vector<FolderLeft>& folders);
    // True when a folder below the one at `index` was found changed and is left: it stays with it.
    bool holdsLeft(std::size_t index) const;

    // The folders left for having changed, in the order they were met.
    const std::vector<ChangedFolder>& changed() const { return m_changed; }

private:
    Result<bool> descendTo(const std::vector<std::size_t>& way);

    const HeldFolder& m_root;
    const std::vector<std::filesystem::path>& m_folderList;
    const std::vector<SurveyedFolder>& m_places;
    // The folders from the root down to the one opened last, by their entries in the list.
    std::vector<std::pair<std::size_t, HeldFolder>> m_chain;
    std::vector<bool> m_left; // by entry: changed, or below a changed folder
    std::vector<ChangedFolder> m_changed;
};

// How a folder had changed, as the end of a run and a plan word it ("...ていました").
const char* changedFolderText(FolderChange change);

// A folder left so, as a list of left files heads it.
inline constexpr const char* kChangedFolderLeftText =
    "フォルダ構成を調べた後で変わったため、手を付けなかったフォルダ";

// What the end of a run says about the folders it left for having changed since the survey, the
// paths below `sourceParent`; empty when there are none.
std::string describeChangedFolders(const std::filesystem::path& sourceParent,
                                   const std::vector<ChangedFolder>& folders);

} // namespace corvalin
