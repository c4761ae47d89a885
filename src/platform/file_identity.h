#pragma once

#include "platform/result.h"

#include <cstdint>
#include <filesystem>

namespace corvalin {

// What tells a file apart from another that took its name later: its size, modification time and,
// on one file system, its inode.
struct FileIdentity {
    std::uint64_t size = 0;
    std::int64_t mtimeSeconds = 0;
    std::int64_t mtimeNanoseconds = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of what `path` names, not following a symbolic link.
Result<FileIdentity> identityOf(const std::filesystem::path& path);

// True when `now` may be a copy of `then` made on another file system: the same size, and a time
// within the two seconds that FAT stores.
bool isCopyOf(const FileIdentity& then, const FileIdentity& now);

// True when `now` is the file (or folder) that was `then`. A file that moved to another file system
// is a copy with a new inode and a time that may be stored coarser there (two seconds on FAT). A
// folder's size and time change with its content, so only its inode counts.
bool isSameFile(const FileIdentity& then, const FileIdentity& now, bool folder);

} // namespace corvalin
