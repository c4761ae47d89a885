#pragma once

#include "options/delete_guard.h"
#include "platform/removal.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvalin {

class MessageBox;

// Which of the maker's two options is selected (None: neither).
enum class FolderChoice { None, Create, Delete };

struct FolderActionRequest {
    FolderChoice choice = FolderChoice::None;
    std::filesystem::path parent; // the parent folder P
    std::string countText;        // how many child folders, as typed (UTF-8)
    // Where the action's journal goes; without one it keeps no record.
    std::filesystem::path historyFolder = {};
    std::int32_t serialNo = 0; // recorded with the action
};

struct FolderActionResult {
    // The parent folder that the maker is to remember; empty when it did not get that far.
    std::optional<std::filesystem::path> makerPath;
    int created = 0;
    // The maker's folder and file lists are to re-read the disk.
    bool refreshLists = false;
};

// More child folders than this in one go are refused: each is a folder on disk, and the window
// waits until all are made.
inline constexpr int kMaxChildFolders = 10000;

// Creates the numbered child folders of `request.parent` that do not exist yet (the parent itself
// too, one level, when missing), or deletes the parent with everything below it after asking.
// A child folder that exists is skipped; any other failure to create ends the action silently,
// keeping what was made. The action's messages and its question go through `messages`. The parent
// goes as `removal` says (to the Trash unless told otherwise); a Trash that cannot be used is
// reported before the question. Whatever the action changes is journaled first; an action that
// cannot write its journal changes nothing.
FolderActionResult runFolderAction(const FolderActionRequest& request, MessageBox& messages,
                                   const ProtectedPlaces& places, const Removal& removal = Removal());

// The own name of the k-th numbered child folder: the parent's name, "_" and k padded with zeros
// to `width` digits. Nothing when k has more digits than the width.
std::optional<std::string> numberedChildName(const std::string& parentName, int k, std::size_t width);

// The name numbered child folders of `parent` start with: its own name, also when typed with a
// trailing "/" or as "." or ".."; empty for the root.
std::string childBaseName(const std::filesystem::path& parent);

} // namespace corvalin
