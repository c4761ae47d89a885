#pragma once

#include <filesystem>

namespace corvalin {

// True for one of this user's trash folders, as a run fills them: the home trash, or on another
// file system ".Trash-<uid>" at its top folder or "<uid>" in the shared ".Trash" there; in each
// case a real folder (not a symbolic link) that belongs to this user. What a journal names as a
// trash must be one before undo takes anything out of it.
bool isOwnTrashFolder(const std::filesystem::path& trash);

} // namespace corvalin
