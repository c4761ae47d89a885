#pragma once

#include "history/undo_reach.h"
#include "platform/held_folder.h"
#include "platform/result.h"

#include <filesystem>
#include <map>

namespace corvalin {

// The folders an undo works in. Each root the reach names is opened once by its path; every folder
// below it is opened from there one component at a time without following a link, and kept open
// for the items after it, so that no path is resolved again while the undo works.
class UndoFolders {
public:
    explicit UndoFolders(const UndoReach& reach) : m_reach(reach) {}

    // The folder holding `item`, held: ENOENT or ENOTDIR when a folder on the way is gone or is no
    // longer a folder (a link is never followed), EINVAL when `item` lies where the run never acted.
    // Valid until tidy() or forget().
    Result<const HeldFolder*> holding(const std::filesystem::path& item);

    // Makes the folders of `folder` that are missing, from the deepest existing one on its way down,
    // each made and opened in its parent; a link or a file on the way fails it (ENOTDIR).
    Status makeMissing(const std::filesystem::path& folder);

    // Forgets the folders kept open at or below `folder`: it was just removed, made or put back.
    void forget(const std::filesystem::path& folder);
    // Between two items: lets go of the folders kept beyond what is worth keeping (what holding()
    // gave for the item in hand stays valid until then).
    void tidy();

private:
    Result<const HeldFolder*> root(const std::filesystem::path& path);
    // `folder`, at or below the root `top`.
    Result<const HeldFolder*> below(const std::filesystem::path& top, const std::filesystem::path& folder);

    const UndoReach& m_reach;
    std::map<std::filesystem::path, HeldFolder> m_roots;
    std::map<std::filesystem::path, HeldFolder> m_below;
};

} // namespace corvalin
