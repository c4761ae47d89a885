#pragma once

#include "plan/move_plan.h"

#include <filesystem>
#include <vector>

namespace corvalin {

// What a child folder removed whole still holds once the run has emptied it: hidden files, links
// and other special files at any depth (its folders, hidden ones too, are emptied by the run).
// `mountBelow` names a folder of another file system inside it, which the removal refuses.
struct FolderRemainder {
    std::uint32_t items = 0;
    std::uint64_t bytes = 0;
    std::filesystem::path mountBelow;
};
FolderRemainder scanRemainder(const std::filesystem::path& folder);

// The entries of the folders the survey entered that the run never enters nor moves (links, other
// file systems, hidden pictures; every picture of the source parent folder, `folders[0]`), and the
// folders that cannot be read, as problems. A hidden picture's text is left empty.
void findLeftOut(const std::vector<std::filesystem::path>& folders, const PictureTypes& types,
                 std::vector<PlanProblem>& problems);

} // namespace corvalin
