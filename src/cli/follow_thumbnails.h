#pragma once

#include "preview/thumbnail_follow.h"

#include <filesystem>

namespace corvalin {

struct CommandContext;

// After a command's run or undo, once its result is printed: the thumbnail cache's entries follow
// the pictures its journal says were moved. Ctrl+C stops it, leaving the rest under their old names.
void followThumbnailsAfter(const std::filesystem::path& journal, JournalPass pass,
                           const CommandContext& context);

} // namespace corvalin
