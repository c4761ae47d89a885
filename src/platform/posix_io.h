#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Small helpers over raw file descriptors, shared by the platform's own files (not a public API).
namespace corvalin {

// Owns one file descriptor and closes it once.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    // Closes now and returns 0 or the errno of close() (which can report a failed delayed write).
    int close();

private:
    int m_fd = -1;
};

// Writes all bytes, retrying short writes and EINTR. Returns 0 or errno.
int writeAll(int fd, std::string_view bytes);

// Reads `size` bytes, fewer only at the end of the file, retrying EINTR. Returns the count read,
// or -1 with errno set.
ssize_t readFull(int fd, char* data, std::size_t size);

// Reads until end of file, failing with EFBIG beyond `limit` bytes. Returns 0 or errno.
int readAll(int fd, std::string& out, std::size_t limit);

// Copies all of `from` into the empty `to`, in the kernel where it can, keeping the holes of a
// sparse file. Returns 0 or errno.
int copyAll(int from, int to);

// Renames without ever replacing what `to` names (EEXIST when taken). Fails with EINVAL or ENOSYS
// where the file system or kernel cannot refuse to replace. Returns 0 or errno.
int renameNoReplace(const std::string& from, const std::string& to);

// The way for files where renameNoReplace is not served: link() never replaces. Returns 0 or errno.
int linkThenUnlink(const std::string& from, const std::string& to);

// The names in an open folder as it is now (read through a fresh opening of it, whatever was read
// through `folderFd` before), without "." and "..", in the order the file system gives them,
// and in `types` (when given) each one's DT_ type as the folder tells it (DT_UNKNOWN where it does
// not). Returns 0 or errno.
int readFolderNames(int folderFd, std::vector<std::string>& names,
                    std::vector<unsigned char>* types = nullptr);

// Flushes a folder's entries to disk. Returns 0 or errno (file systems that cannot sync a folder
// count as success).
int syncFolder(const std::string& folder);

// The folder part of a path for opening: "." when it has none.
std::string folderOf(const std::string& path);

// Temporary files carry the id of the process that made them ("<prefix><pid>-<n>..."), so that a
// later start tells the leftovers of a killed process from the files of one still running.
// The id in `name` after its first `start` characters, or 0 when there is none.
pid_t pidInTempName(std::string_view name, std::size_t start);

// True while `pid` may still be writing its temporary files: a live process running this same
// program, or one that cannot be told apart. False for this process itself.
bool ownerStillRunning(pid_t pid);

} // namespace corvalin
