#pragma once

#include "platform/result.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvalin {

inline constexpr const char* kReadmeFileName = "Readme.txt";

// Where the help window looks for the read-me, in order: beside the program (a portable copy, or
// the build folder), then the installed data folder <prefix>/share/corvalin next to <prefix>/bin.
std::vector<std::filesystem::path> readmeCandidates(const std::filesystem::path& programFolder);

// The bytes of the first candidate that exists. When none exists, the error names the first.
// Only regular files are read, so a folder or a pipe under that name cannot hang the window.
Result<std::string> readReadme(const std::vector<std::filesystem::path>& candidates);

// The read-me's lines, each followed by CR LF. CR LF, a lone CR and a lone LF each end a line; a
// last line without a line end still gets one, and an empty file gives an empty text.
std::string readmeText(std::string_view bytes);

} // namespace corvalin
