#include "options/delete_guard.h"

#include "platform/paths.h"
#include "platform/program_folder.h"
#include "platform/volumes.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

fs::path normalised(const fs::path& path) {
    return withoutTrailingSlash(path.lexically_normal());
}

// The folder as typed (made absolute), as resolved in full, and with only its parent resolved
// (which is what a deletion that never follows a link at the end removes).
std::vector<fs::path> spellingsOf(const fs::path& folder) {
    std::vector<fs::path> spellings;
    std::error_code error;
    const fs::path absolute = normalised(fs::absolute(withoutTrailingSlash(folder), error));
    if (error)
        return spellings;
    spellings.push_back(absolute);
    if (const fs::path resolved = fs::canonical(absolute, error); !error)
        spellings.push_back(resolved);
    if (absolute.has_parent_path() && absolute != absolute.root_path()) {
        if (const fs::path parent = fs::canonical(absolute.parent_path(), error); !error)
            spellings.push_back(joinPath(parent, absolute.filename()));
    }
    return spellings;
}

std::vector<fs::path> homeSpellings(const fs::path& home) {
    std::vector<fs::path> spellings;
    if (home.empty())
        return spellings;
    spellings.push_back(normalised(home));
    std::error_code error;
    if (const fs::path resolved = fs::canonical(home, error); !error)
        spellings.push_back(resolved);
    return spellings;
}

std::optional<std::string> refusalFor(const fs::path& target, const std::string& shown,
                                      const ProtectedPlaces& places, const std::vector<fs::path>& homes) {
    if (target == target.root_path())
        return "ドライブのルートフォルダは削除できません。\n" + shown;
    for (const fs::path& root : places.volumeRoots) {
        if (normalised(root) == target)
            return "ドライブのルートフォルダは削除できません。\n" + shown;
    }
    for (const fs::path& home : homes) {
        if (isSameOrBelow(home, target))
            return "ホームフォルダとそれを含むフォルダは削除できません。\n" + shown;
    }
    for (const fs::path& root : places.volumeRoots) {
        if (isSameOrBelow(root, target))
            return "この下に別のドライブがマウントされているため、削除できません。\n" + shown + "\n" +
                   normalised(root).native();
    }
    return std::nullopt;
}

} // namespace

ProtectedPlaces ProtectedPlaces::ofThisSystem() {
    ProtectedPlaces places;
    for (const Volume& volume : listVolumes())
        places.volumeRoots.push_back(volume.mountPoint);
    places.home = homeFolder();
    return places;
}

std::optional<std::string> refusalToDelete(const fs::path& folder, const ProtectedPlaces& places) {
    const std::vector<fs::path> homes = homeSpellings(places.home);
    for (const fs::path& target : spellingsOf(folder)) {
        if (auto refusal = refusalFor(target, folder.native(), places, homes))
            return refusal;
    }
    return std::nullopt;
}

} // namespace corvalin
