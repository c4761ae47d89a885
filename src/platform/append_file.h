#pragma once

#include "platform/held_folder.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace corvalin {

// A file that only grows, for records that must outlive the process: each append reaches the
// kernel at once, so a killed process loses nothing it appended, and sync() puts it on the disk.
// It is held under an exclusive lock while open, which the kernel drops when the process dies, so
// that another process can tell a file still being written from one left behind.
class AppendFile {
public:
    // A new file (never an existing one: EEXIST), readable by its owner only.
    static Result<AppendFile> createNew(const std::filesystem::path& file);
    // The same for the entry `name` of a held folder, never through a link.
    static Result<AppendFile> createNew(const HeldFolder& folder, const std::string& name);
    // An existing file to append to; EBUSY while another open file holds its lock.
    static Result<AppendFile> openExisting(const std::filesystem::path& file);

    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();

    const std::filesystem::path& path() const { return m_path; }
    Status append(std::string_view bytes);
    // From now on appends are copied into a shared mapping of space set aside ahead, not written
    // one system call each: the pages are the kernel's, so a kill still loses nothing, and sync()
    // puts them on the disk as before. Until endMapping the file ends in that space's zeros, which
    // a reader takes for a cut tail. Only on local disks that can set the space aside (a full disk
    // then fails the growth with ENOSPC instead of killing the process); elsewhere, and when
    // anything fails, appends stay writes. Returns whether the mapping is in use.
    bool mapAppends();
    bool mapped() const { return m_map != nullptr; }
    // The mapping given up and the file cut to what was appended; appends are writes again.
    Status endMapping();
    // The data on the disk (fdatasync).
    Status sync();
    // The file system that holds the file; 0 when it cannot be told.
    std::uint64_t device() const;
    // The whole content, read through this open file.
    Result<std::string> readAll(std::size_t limit);
    // Cuts the file to `size` bytes (a record cut short by a kill, before appending after it).
    Status truncate(std::size_t size);
    Status close();

private:
    AppendFile(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
    int growMapping(std::size_t needed);
    void releaseMapping();

    int m_fd = -1;
    std::filesystem::path m_path;
    char* m_map = nullptr;      // the shared mapping while appends go there
    std::size_t m_capacity = 0; // bytes mapped (and set aside in the file)
    std::size_t m_length = 0;   // bytes appended, while mapped
};

// True while an open AppendFile, in this process or another, holds the file's lock.
bool isFileInUse(const std::filesystem::path& file);

} // namespace corvalin
