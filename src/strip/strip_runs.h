#pragma once

#include "platform/held_folder.h"
#include "platform/result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The two runs that cut the serial prefix off file names again: in place in one folder, or while
// moving the chosen files into a new subfolder. Neither ever replaces a file: a stripped name that
// is taken leaves that file as it is, and the run goes on.
namespace corvalin {

class RunJournal;

// How a run talks to its window. All calls come from the run's own thread.
class StripObserver {
public:
    virtual ~StripObserver() = default;
    // Lets the window handle what is pending (repaint, a click on Cancel).
    virtual void yield() = 0;
    // Asked before each entry; either one stops the run before it touches another file.
    virtual bool cancelRequested() = 0;
    virtual bool stopRequested() = 0; // the window is closing
    // The name the file in hand is about to get, then the file itself, just before it is renamed.
    virtual void newName(const std::string& name) = 0;
    virtual void previewRequested(const std::filesystem::path& file) = 0;
    // Entries still to come after the one in hand, and all entries of the run.
    virtual void progress(int remaining, int total) = 0;
};

enum class LeftReason {
    NameTaken,    // the stripped name exists already (or an earlier file of the run took it)
    NameDotted,   // the stripped name would begin with "." (a hidden file, or "." / "..")
    NameEmpty,    // the name is a serial prefix and nothing else ("123456 ")
    NoLongerThere // the listed file was moved or deleted after the list was read
};

struct LeftFile {
    std::string name;
    LeftReason reason;
};

struct StripOutcome {
    int stripped = 0;
    std::vector<LeftFile> left; // in list order
    bool stopped = false;       // cancelled, or the window is closing
    std::optional<Error> error; // the failure that ended the run early
};

// Strips every name of `names` (the folder's listing, read once) that carries a serial prefix.
// Shows the counter as total/total first. Each rename is recorded in `journal` (when given) before
// it takes effect. The folder is opened once and every file reached by its name in it, so that a
// folder swapped for a link meanwhile cannot turn the run elsewhere.
StripOutcome stripInFolder(const std::filesystem::path& folder, const std::vector<std::string>& names,
                           StripObserver& observer, RunJournal* journal = nullptr);
// The same in a folder held already (listed through it, say).
StripOutcome stripInFolder(const HeldFolder& folder, const std::vector<std::string>& names,
                           StripObserver& observer, RunJournal* journal = nullptr);

// The name a folder gives its numbered subfolders: its own name, or "root" for "/".
std::string subfolderStem(const std::filesystem::path& folder);

inline constexpr int kMaxStripSubfolders = 100;

// The folder a strip into a subfolder works in and the subfolder it made there, both held open.
struct StripFolders {
    HeldFolder folder;
    HeldFolder subfolder;
};

// Creates the first free one of stem(1) .. stem(100) in `folder`; a name is taken by anything at all
// (file, folder, link). Nothing (and nothing created) when all 100 are taken.
Result<std::optional<StripFolders>> createStripSubfolder(const std::filesystem::path& folder,
                                                         RunJournal* journal = nullptr);

// Moves the chosen files of the folder that carry a serial prefix into the subfolder under their
// stripped names; `selected` are the chosen names in list order.
StripOutcome stripIntoSubfolder(const StripFolders& folders, const std::vector<std::string>& selected,
                                StripObserver& observer, RunJournal* journal = nullptr);

} // namespace corvalin
