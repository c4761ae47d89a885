#pragma once

#include <filesystem>

namespace corvalin {

// The folder that holds the running executable.
std::filesystem::path programFolder();

// Where the settings and counter files live: the program folder when it is writable (portable
// use), else the per-user configuration folder ($XDG_CONFIG_HOME or ~/.config, then "Corvalin"),
// created when missing.
std::filesystem::path settingsFolder(const std::filesystem::path& programFolder);

// The user's home folder ($HOME, else the password database).
std::filesystem::path homeFolder();

} // namespace corvalin
