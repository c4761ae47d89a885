#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvalin {

// The places a folder deletion must never take away: volume roots with everything on them, and
// the user's home folder with the folders that hold it.
struct ProtectedPlaces {
    std::vector<std::filesystem::path> volumeRoots;
    std::filesystem::path home;

    // The mounted volumes and the home folder of this system.
    static ProtectedPlaces ofThisSystem();
};

// Why `folder` must not be deleted (a UTF-8 message naming it), or nothing when it may be. The
// folder is checked as typed and as the system resolves it, so "..", "." and symbolic links on the
// way do not hide a protected place. A folder with another volume mounted somewhere below it is
// refused too: its deletion would stop at the mount point halfway through.
std::optional<std::string> refusalToDelete(const std::filesystem::path& folder,
                                           const ProtectedPlaces& places);

} // namespace corvalin
