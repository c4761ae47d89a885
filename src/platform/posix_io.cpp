#include "platform/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace corvalin {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    close();
}

int UniqueFd::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

int UniqueFd::close() {
    if (m_fd < 0)
        return 0;
    // Linux frees the descriptor even when close() fails, so it is never retried.
    const int result = ::close(release());
    return result == 0 || errno == EINTR ? 0 : errno;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

ssize_t readFull(int fd, char* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(fd, data + total, size - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

int readAll(int fd, std::string& out, std::size_t limit) {
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = readFull(fd, buffer, sizeof buffer);
        if (got <= 0)
            return got < 0 ? errno : 0;
        if (out.size() + static_cast<std::size_t>(got) > limit)
            return EFBIG;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

namespace {

bool kernelCopyUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

// The portable way, for kernels or file system pairs that copy_file_range does not serve.
int copyByReadWrite(int from, int to, off_t at, off_t length) {
    static constexpr std::size_t chunk = 1 << 20;
    std::string buffer(chunk, '\0');
    while (length > 0) {
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(length, off_t(chunk)));
        const ssize_t got = ::pread(from, buffer.data(), wanted, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got < 0 ? errno : 0; // ended early: the caller's size check tells
        for (ssize_t written = 0; written < got;) {
            const ssize_t put =
                ::pwrite(to, buffer.data() + written, std::size_t(got - written), at + written);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? errno : EIO;
            written += put;
        }
        at += got;
        length -= got;
    }
    return 0;
}

// `length` bytes at `at` of `from` to the same place in `to`: in the kernel while it serves the
// pair (`inKernel` is cleared once it does not), else by read and write.
int copyRange(int from, int to, off_t at, off_t length, bool& inKernel) {
    while (inKernel && length > 0) {
        off_t in = at;
        off_t out = at;
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(length, off_t(1) << 30));
        const ssize_t copied = ::copy_file_range(from, &in, to, &out, wanted, 0);
        if (copied > 0) {
            at += copied;
            length -= copied;
            continue;
        }
        if (copied == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (!kernelCopyUnsupported(errno))
            return errno;
        inKernel = false;
    }
    return copyByReadWrite(from, to, at, length);
}

} // namespace

// Only the data is copied, hole by hole: a sparse file of gigabytes with kilobytes in it stays
// that on the other disk (copy_file_range between file systems fills the holes with zeros).
int copyAll(int from, int to) {
    bool inKernel = true;
    for (off_t at = 0;;) {
        const off_t data = ::lseek(from, at, SEEK_DATA);
        // A hole up to the end, or nothing more.
        if (data < 0 && errno == ENXIO)
            break;
        // Holes not told here: the rest as data.
        if (data < 0)
            return copyRange(from, to, at, std::numeric_limits<off_t>::max(), inKernel);
        const off_t hole = ::lseek(from, data, SEEK_HOLE);
        if (hole < 0)
            return errno;
        if (const int error = copyRange(from, to, data, hole - data, inKernel))
            return error;
        at = hole;
    }
    // A hole at the end is a length without bytes. Only then is the length set: some FUSE disks
    // (FAT through FUSE) refuse every truncation.
    struct stat st {};
    struct stat copied {};
    if (::fstat(from, &st) != 0 || ::fstat(to, &copied) != 0)
        return errno;
    if (copied.st_size != st.st_size && ::ftruncate(to, st.st_size) != 0)
        return errno;
    return 0;
}

int renameNoReplace(const std::string& from, const std::string& to) {
    // Through syscall() so that it builds against a C library that lacks the wrapper.
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno;
}

int linkThenUnlink(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

// Straight from the kernel, through an opening of its own: a folder read before and rewound lists
// nothing on sshfs once an entry has changed, and a stream of the C library would cost a check and
// a rewind besides.
int readFolderNames(int heldFd, std::vector<std::string>& names, std::vector<unsigned char>* types) {
    const UniqueFd folder(::openat(heldFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return errno;
    const int folderFd = folder.get();
    std::vector<char> buffer(32768);
    for (;;) {
        const ssize_t got = ::getdents64(folderFd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + at);
            at += entry->d_reclen;
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            names.emplace_back(name);
            if (types)
                types->push_back(entry->d_type);
        }
    }
}

int syncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return fd.close();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

pid_t pidInTempName(std::string_view name, std::size_t start) {
    const std::size_t dash = name.find('-', start);
    if (dash == std::string_view::npos || dash == start || dash - start > 9)
        return 0;
    pid_t pid = 0;
    for (std::size_t i = start; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return pid;
}

bool ownerStillRunning(pid_t pid) {
    if (pid == ::getpid() || pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    char ownExe[4096];
    char theirExe[4096];
    const ssize_t ownLength = ::readlink("/proc/self/exe", ownExe, sizeof ownExe);
    const std::string theirLink = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t theirLength = ::readlink(theirLink.c_str(), theirExe, sizeof theirExe);
    if (ownLength <= 0 || theirLength <= 0)
        return true; // cannot tell: leave it
    return std::string_view(ownExe, ownLength) == std::string_view(theirExe, theirLength);
}

} // namespace corvalin
