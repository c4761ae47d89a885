#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

// What a folder lets this process put into it, asked before anything is put there: the answers
// the disk would give to a move into it.
namespace corvalin {

// Why a file cannot be moved into `folder` or out of it by this user: EROFS for a read-only file
// system, EACCES (or what the system says) without write and search permission, 0 when it may.
// Root passes every permission test, as the disk lets it.
int folderWriteRefusal(const std::filesystem::path& folder);
// The same for a folder open as `folderFd`.
int folderWriteRefusal(int folderFd);

// The bytes this user may still write on the file system of `folder`; nothing when unknown.
std::optional<std::uint64_t> roomIn(const std::filesystem::path& folder);

} // namespace corvalin
