#include "platform/instance_lock.h"

#include "platform/file_ops.h"
#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

Result<std::optional<InstanceLock>> InstanceLock::tryAcquire(const fs::path& settingsFolder) {
    const fs::path file = lockFile(settingsFolder);
    // The first run of an installed program makes its settings folder; opening the file says why
    // when that fails.
    (void)createFolderWithParents(settingsFolder, 0700);
    // Close-on-exec: a program started from the window must not keep the lock after it ends.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errorFromErrno("ロックファイルの作成", file, errno);
    InstanceLock lock(fd);
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return std::optional<InstanceLock>(std::move(lock));
    if (errno == EWOULDBLOCK)
        return std::optional<InstanceLock>();
    return errorFromErrno("設定フォルダのロック", file, errno);
}

fs::path InstanceLock::lockFile(const fs::path& settingsFolder) {
    return joinPath(settingsFolder, ".Corvalin.lock");
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

// Closing the only descriptor of the open file releases the lock; the file stays for the next.
InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace corvalin
