#pragma once

#include "platform/held_folder.h"
#include "platform/result.h"

#include <cstddef>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace corvalin {

// What the survey needs from its window.
class SurveyObserver {
public:
    virtual ~SurveyObserver() = default;
    // Lets the window handle pending events (repaint, the cancel button, a close request).
    virtual void yield() = 0;
    // The survey is working ("フォルダ構成を調査中" is shown); called on every folder it enters.
    virtual void surveyStarted() = 0;
    // The window is closing: stop as soon as possible.
    virtual bool stopRequested() = 0;
};

// Appends every folder below `root`, at every depth, to `folderList`: the direct subfolders of a
// folder stand together, and the folders are visited depth first in that order, so a root holding
// A (with A1, A2; A1 holding A1x) and B (with B1) gives A, B, A1, A2, A1x, B1. The root itself is
// never an entry. Hidden folders count; symbolic links, the mount points of other file systems and
// trash folders are never entered. A folder that cannot be read stops the survey with its error;
// a stop request ends it early without one (the caller asks the observer).
Status GetDir(const std::filesystem::path& root, std::vector<std::filesystem::path>& folderList,
              SurveyObserver& observer);

// Where a surveyed folder lies and which folder it was, so that a run can open it again relative to
// its parent, never by its path, and tell whether it is still that folder.
struct SurveyedFolder {
    std::size_t parent = 0; // its parent's entry in the folder list, or kSurveyRoot
    std::string name;       // its name in that parent
    // What it was when the survey entered it; unknown when it was no longer a folder below its
    // parent by then (gone, a link, another mount), and then nothing below it was surveyed.
    bool seen = false;
    FolderId id;
};

inline constexpr std::size_t kSurveyRoot = std::numeric_limits<std::size_t>::max();

// The same survey from a root held open, each folder reached by its name below its parent's
// descriptor. `places` receives an entry for every entry of `folderList`, at the same position.
Status GetDir(const HeldFolder& root, std::vector<std::filesystem::path>& folderList,
              std::vector<SurveyedFolder>& places, SurveyObserver& observer);

} // namespace corvalin
