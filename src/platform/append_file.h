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
    int m_fd = -1;
    std::filesystem::path m_path;
};

// True while an open AppendFile, in this process or another, holds the file's lock.
bool isFileInUse(const std::filesystem::path& file);

} // namespace corvalin
