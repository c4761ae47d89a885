#include "platform/append_file.h"

#include "platform/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kWriteText = "記録の書き込み";

// Opens (relative to `folder`, or the working folder) and locks; the lock fails at once (EBUSY)
// when someone else holds it.
int openLocked(const fs::path& file, int flags, mode_t mode, int folder = AT_FDCWD) {
    const int fd = ::openat(folder, file.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return -errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

// The space a mapping grows by: a few hundred records at a time.
constexpr std::size_t kMappingStep = std::size_t(1) << 20;

// Local disks whose shared mappings reach the disk with fdatasync and that set space aside with
// fallocate. FUSE and network file systems may not keep a shared mapping coherent with the file.
bool mapsSafely(int folderFd) {
    struct statfs disk {};
    if (::fstatfs(folderFd, &disk) != 0)
        return false;
    switch (static_cast<unsigned long>(disk.f_type)) {
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

} // namespace

Result<AppendFile> AppendFile::createNew(const fs::path& file) {
    const int fd = openLocked(file, O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return errorFromErrno("記録ファイルの作成", file, -fd);
    return AppendFile(fd, file);
}

Result<AppendFile> AppendFile::createNew(const HeldFolder& folder, const std::string& name) {
    const fs::path file = folder.pathOf(name);
    if (!isPlainName(name))
        return errorFromErrno("記録ファイルの作成", file, EINVAL);
    const int fd = openLocked(name, O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0600, folder.fd());
    if (fd < 0)
        return errorFromErrno("記録ファイルの作成", file, -fd);
    return AppendFile(fd, file);
}

Result<AppendFile> AppendFile::openExisting(const fs::path& file) {
    const int fd = openLocked(file, O_RDWR | O_APPEND, 0);
    if (fd < 0)
        return errorFromErrno("記録ファイルを開くこと", file, -fd);
    return AppendFile(fd, file);
}

AppendFile::AppendFile(AppendFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)),
      m_map(std::exchange(other.m_map, nullptr)), m_capacity(std::exchange(other.m_capacity, 0)),
      m_length(std::exchange(other.m_length, 0)) {}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    if (this != &other) {
        (void)close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_map = std::exchange(other.m_map, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

AppendFile::~AppendFile() {
    (void)close();
}

Status AppendFile::append(std::string_view bytes) {
    if (m_map) {
        if (const int error = m_length + bytes.size() > m_capacity ? growMapping(m_length + bytes.size()) : 0)
            return errorFromErrno(kWriteText, m_path, error);
        std::memcpy(m_map + m_length, bytes.data(), bytes.size());
        m_length += bytes.size();
        return {};
    }
    if (const int error = m_fd < 0 ? EBADF : writeAll(m_fd, bytes))
        return errorFromErrno(kWriteText, m_path, error);
    return {};
}

bool AppendFile::mapAppends() {
    struct stat st {};
    if (m_map || m_fd < 0 || !mapsSafely(m_fd) || ::fstat(m_fd, &st) != 0)
        return m_map != nullptr;
    m_length = static_cast<std::size_t>(st.st_size);
    if (growMapping(m_length + 1) != 0) {
        // The file as it was: nothing was appended to the space set aside.
        (void)::ftruncate(m_fd, static_cast<off_t>(m_length));
        return false;
    }
    return true;
}

// Sets aside space for at least `needed` bytes (the file's length grows to it, in zeros) and maps
// it all. An errno when that fails; the mapping so far stays.
int AppendFile::growMapping(std::size_t needed) {
    const std::size_t capacity = (needed + kMappingStep - 1) / kMappingStep * kMappingStep;
    if (::fallocate(m_fd, 0, 0, static_cast<off_t>(capacity)) != 0)
        return errno;
    void* map = m_map ? ::mremap(m_map, m_capacity, capacity, MREMAP_MAYMOVE)
                      : ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (map == MAP_FAILED)
        return errno;
    m_map = static_cast<char*>(map);
    m_capacity = capacity;
    return 0;
}

void AppendFile::releaseMapping() {
    if (m_map)
        ::munmap(m_map, m_capacity);
    m_map = nullptr;
    m_capacity = 0;
}

Status AppendFile::endMapping() {
    if (!m_map)
        return {};
    releaseMapping();
    if (::ftruncate(m_fd, static_cast<off_t>(m_length)) != 0)
        return errorFromErrno(kWriteText, m_path, errno);
    return {};
}

Status AppendFile::sync() {
    if (m_fd < 0 || ::fdatasync(m_fd) != 0)
        return errorFromErrno(kWriteText, m_path, m_fd < 0 ? EBADF : errno);
    return {};
}

std::uint64_t AppendFile::device() const {
    struct stat st {};
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 ? st.st_dev : 0;
}

Result<std::string> AppendFile::readAll(std::size_t limit) {
    if (m_map)
        return std::string(m_map, std::min(m_length, limit));
    std::string bytes;
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        return errorFromErrno("記録の読み取り", m_path, m_fd < 0 ? EBADF : errno);
    if (const int error = corvalin::readAll(m_fd, bytes, limit))
        return errorFromErrno("記録の読み取り", m_path, error);
    return bytes;
}

Status AppendFile::truncate(std::size_t size) {
    if (m_map) {
        // Zeros, as the space set aside holds: a reader stops there as at the file's end.
        if (size < m_length)
            std::memset(m_map + size, 0, m_length - size);
        m_length = std::min(size, m_length);
        return {};
    }
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        return errorFromErrno(kWriteText, m_path, m_fd < 0 ? EBADF : errno);
    return {};
}

Status AppendFile::close() {
    if (m_fd < 0)
        return {};
    const Status unmapped = endMapping();
    // Linux frees the descriptor even when close() fails, so it is never retried.
    const int result = ::close(std::exchange(m_fd, -1));
    if (result != 0 && errno != EINTR)
        return errorFromErrno(kWriteText, m_path, errno);
    return unmapped;
}

bool isFileInUse(const fs::path& file) {
    const int fd = openLocked(file, O_RDONLY, 0);
    if (fd == -EBUSY)
        return true;
    if (fd >= 0)
        ::close(fd);
    return false;
}

} // namespace corvalin
