#pragma once

#include "engine/surveyed_folders.h"
#include "plan/move_plan.h"
#include "platform/held_folder.h"

#include <cstddef>
#include <filesystem>
#include <vector>

namespace corvalin {

// What a child folder removed whole still holds once the run has emptied it: hidden files, links
// and other special files at any depth (its folders, hidden ones too, are emptied by the run).
// `mountBelow` names a folder of another file system inside it, which the removal refuses. Read as
// the removal reads it: each folder opened below its parent, never through a link.
struct FolderRemainder {
    std::uint32_t items = 0;
    std::uint64_t bytes = 0;
    std::filesystem::path mountBelow;
};
FolderRemainder scanRemainder(const HeldFolder& folder);

// The entries of the folders the survey entered that the run never enters nor moves (links, other
// file systems, hidden pictures; every picture of the source parent folder), and the folders that
// cannot be read, as problems. The folders are reached as the run reaches them: `source` held, and
// the `count` surveyed folders opened again below it, so that a folder no longer the one surveyed
// is left unread (`folders` notes it). A hidden picture's text is left empty.
void findLeftOut(const HeldFolder& source, SurveyedFolders& folders, std::size_t count,
                 const PictureTypes& types, std::vector<PlanProblem>& problems);

} // namespace corvalin
