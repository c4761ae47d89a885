#include "platform/append_file.h"

#include "platform/posix_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    if (this != &other) {
        (void)close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

AppendFile::~AppendFile() {
    (void)close();
}

Status AppendFile::append(std::string_view bytes) {
    if (const int error = m_fd < 0 ? EBADF : writeAll(m_fd, bytes))
        return errorFromErrno(kWriteText, m_path, error);
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
    std::string bytes;
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        return errorFromErrno("記録の読み取り", m_path, m_fd < 0 ? EBADF : errno);
    if (const int error = corvalin::readAll(m_fd, bytes, limit))
        return errorFromErrno("記録の読み取り", m_path, error);
    return bytes;
}

Status AppendFile::truncate(std::size_t size) {
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        return errorFromErrno(kWriteText, m_path, m_fd < 0 ? EBADF : errno);
    return {};
}

Status AppendFile::close() {
    if (m_fd < 0)
        return {};
    // Linux frees the descriptor even when close() fails, so it is never retried.
    const int result = ::close(std::exchange(m_fd, -1));
    if (result != 0 && errno != EINTR)
        return errorFromErrno(kWriteText, m_path, errno);
    return {};
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
