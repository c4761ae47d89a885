#pragma once

#include "platform/result.h"

#include <filesystem>
#include <optional>

namespace corvalin {

// One Corvalin at a time per settings folder: an exclusive flock() on a lock file there, held by the
// window for its whole life and by a command for its run. The kernel releases it when its holder
// ends, however it ends, so a killed copy never blocks the next start.
class InstanceLock {
public:
    // Takes the lock without waiting: nothing when another process holds it, an Error when the
    // lock file cannot be opened (a settings folder that is missing or closed to this user).
    static Result<std::optional<InstanceLock>> tryAcquire(const std::filesystem::path& settingsFolder);

    // The lock file of a settings folder; hidden, so that no file list shows it.
    static std::filesystem::path lockFile(const std::filesystem::path& settingsFolder);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace corvalin
