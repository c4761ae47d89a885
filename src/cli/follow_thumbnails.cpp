#include "cli/follow_thumbnails.h"

#include "cli/command.h"
#include "platform/program_folder.h"

namespace corvalin {

void followThumbnailsAfter(const std::filesystem::path& journal, JournalPass pass,
                           const CommandContext& context) {
    ThumbnailCache cache(thumbnailCacheFolder());
    (void)followThumbnails(cache, journal, pass, [&context] { return context.stop.requested(); });
}

} // namespace corvalin
