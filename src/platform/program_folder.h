#pragma once

#include <filesystem>

namespace corvalin {

// The folder that holds the running executable.
std::filesystem::path programFolder();

// The data folder of an installed program: <prefix>/share/corvalin beside <prefix>/bin.
std::filesystem::path installedDataFolder(const std::filesystem::path& programFolder);

// True when the program runs from an installation (its data folder exists), false for a portable
// copy such as the build folder.
bool isInstalled(const std::filesystem::path& programFolder);

// Where the settings and counter files live: the program folder for a portable copy whose folder is
// writable, else the per-user configuration folder ($XDG_CONFIG_HOME or ~/.config, then
// "Corvalin"). Nothing is created here; the instance lock makes the folder when missing.
std::filesystem::path settingsFolder(const std::filesystem::path& programFolder);

// Where the run journals live: a "history" folder beside the settings files of a portable copy
// (settings kept in its program folder), else the per-user state folder ($XDG_STATE_HOME or
// ~/.local/state, then "Corvalin/history"). Not created here.
std::filesystem::path historyFolder(const std::filesystem::path& programFolder,
                                    const std::filesystem::path& settingsFolder);

// The desktop's shared thumbnail cache: $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails. Not
// created here.
std::filesystem::path thumbnailCacheFolder();

// The user's home folder ($HOME, else the password database).
std::filesystem::path homeFolder();

} // namespace corvalin
