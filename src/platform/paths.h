#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvalin {

// Folder + name with exactly one "/" between them, also after the root "/".
std::filesystem::path joinPath(const std::filesystem::path& folder, const std::filesystem::path& name);
// The same for a name as text, with no path made of the name on the way (a run joins one for
// every picture it records).
std::filesystem::path joinPath(const std::filesystem::path& folder, std::string_view name);
std::filesystem::path joinPath(const std::filesystem::path& folder, const std::string& name);
std::filesystem::path joinPath(const std::filesystem::path& folder, const char* name);

// A folder's own name: its last component, ignoring a trailing "/"; the root is its own name "/".
std::string ownName(const std::filesystem::path& folder);

// The path without a trailing "/" (except the root itself), so that two spellings compare equal.
std::filesystem::path withoutTrailingSlash(const std::filesystem::path& path);

// True when `inner` is `outer` itself or lies below it (lexically, after normalisation).
bool isSameOrBelow(const std::filesystem::path& inner, const std::filesystem::path& outer);

} // namespace corvalin
