#pragma once

#include "platform/held_folder.h"
#include "platform/result.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Reading files to learn whether two hold the same bytes: a short hash of the first block, a hash
// of the whole content, and a byte-for-byte comparison that hashes both files as it reads them, so
// that no file is read twice for one decision. The hashes only sort files apart; equal bytes are
// always confirmed by reading both. Every file is named by its held folder and its name there,
// opened without following a link and never waiting on a FIFO, and read only when it is a
// regular file: a folder swapped meanwhile cannot make a decision rest on another folder's file.
namespace corvalin {

// The bytes the first-block hash covers; a file no longer than this is covered whole by it.
inline constexpr std::size_t kHeadBytes = 4096;

// A fast 64-bit hash fed in pieces; the value does not depend on how the bytes were cut, as long
// as every piece but the last is a multiple of eight bytes long.
class ContentHash {
public:
    void add(const char* data, std::size_t size);
    std::uint64_t value() const;

private:
    std::uint64_t m_state = 0x243f6a8885a308d3ULL;
    std::uint64_t m_length = 0;
};

// A file that changed size or time while it was read, or whose size is not the one expected, fails
// with ESTALE: what was read is no picture's content.
inline constexpr int kChangedWhileRead = ESTALE;

// The hash of the first kHeadBytes of the file `name` of `folder`, which must be `size` bytes long.
Result<std::uint64_t> headHashOf(const HeldFolder& folder, const std::string& name, std::uint64_t size);

// The hash of the whole of that file, which must be `size` bytes long.
Result<std::uint64_t> wholeHashOf(const HeldFolder& folder, const std::string& name, std::uint64_t size);

// What a file was when it was read: a later write, or another file put in its place, changes it.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t changed = 0;  // status change, in nanoseconds
    std::int64_t modified = 0; // content change, in nanoseconds
    bool operator==(const FileStamp&) const = default;
};

// The stamp the entry `name` of `folder` has now (a symbolic link's own); nothing when it is gone
// or cannot be asked.
std::optional<FileStamp> currentStampOf(const HeldFolder& folder, const std::string& name);

struct ContentComparison {
    bool equal = false;
    // The whole hash of both, when they were read and found equal.
    std::optional<std::uint64_t> hash;
    // Both files as they were while they were compared.
    FileStamp first;
    FileStamp second;
};

// One file to compare: its folder, held, and its name there.
struct FileIn {
    const HeldFolder& folder;
    const std::string& name;
};

// Compares two files of `size` bytes, stopping at the first block that differs: each is read at
// most once. Two names of one file (a hard link) are equal without reading. A failure names the
// file that failed by its path.
Result<ContentComparison> compareContents(FileIn first, FileIn second, std::uint64_t size);

// Calls `take` with every name directly in `folder` that `wanted` accepts and that may be a regular
// file (hidden names are never offered), without asking the kernel anything more about it.
Status forEachFileName(const HeldFolder& folder, const std::function<bool(std::string_view name)>& wanted,
                       const std::function<void(std::string_view name)>& take);

// Asks the sizes of `count` files directly in `folder`, named (NUL-terminated) by `nameAt`, on up
// to `threads` threads at once: in a folder of 100,000 pictures the kernel's lookups are the whole
// cost, and they run side by side. `sizeAt` is called once for every index, from any of the
// threads, with the size of a regular file, or nothing for a name that is gone or no regular file.
Status sizesIn(const HeldFolder& folder, std::size_t count, unsigned threads,
               const std::function<const char*(std::size_t index)>& nameAt,
               const std::function<void(std::size_t index, std::optional<std::uint64_t> size)>& sizeAt);

} // namespace corvalin
