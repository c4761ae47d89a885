#pragma once

#include "syscall_listener.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

// Another program swaps a folder of a tree for a symbolic link to a victim folder outside the tree,
// atomically, while a run works in the tree: at the run's first change inside that folder
// (WatchFirstChange), or at random instants (RandomSwapper). Whatever the run does, the victim
// must stay as it was and every picture exist exactly once.
namespace corvalin::test {

// The chosen folder and a link to the victim, whose names one exchange swaps.
class FolderSwap {
public:
    FolderSwap(std::filesystem::path chosen, const std::filesystem::path& victim, std::filesystem::path link)
        : m_chosen(std::move(chosen)), m_link(std::move(link)) {
        ::symlink(victim.c_str(), m_link.c_str());
    }
    const std::filesystem::path& chosen() const { return m_chosen; }
    bool exchange() const {
        return ::syscall(SYS_renameat2, AT_FDCWD, m_link.c_str(), AT_FDCWD, m_chosen.c_str(),
                         RENAME_EXCHANGE) == 0;
    }

private:
    std::filesystem::path m_chosen;
    std::filesystem::path m_link;
};

// The paths of the entries a call makes, renames, links, removes or changes the mode of, as the
// calling process names them now; empty for any other call.
inline std::vector<std::string> entriesChangedBy(const seccomp_notif& call) {
    const pid_t pid = static_cast<pid_t>(call.pid);
    const auto* a = call.data.args;
    const std::uint64_t here = std::uint64_t(std::int64_t(AT_FDCWD));
    switch (call.data.nr) {
    case SYS_renameat2:
    case SYS_renameat:
    case SYS_linkat:
        return {namedPath(pid, a[0], a[1]), namedPath(pid, a[2], a[3])};
    case SYS_rename:
    case SYS_link:
        return {namedPath(pid, here, a[0]), namedPath(pid, here, a[1])};
    case SYS_unlinkat:
    case SYS_mkdirat:
    case SYS_fchmodat:
        return {namedPath(pid, a[0], a[1])};
    case SYS_unlink:
    case SYS_rmdir:
    case SYS_mkdir:
    case SYS_chmod:
        return {namedPath(pid, here, a[0])};
    case SYS_fchmod:
        return {descriptorPath(pid, int(a[0]))};
    case SYS_symlinkat:
        return {namedPath(pid, a[1], a[2])};
    default:
        return {};
    }
}

inline const std::vector<int> kChangingCalls = {
    SYS_renameat2, SYS_renameat, SYS_rename, SYS_linkat,   SYS_link,  SYS_unlinkat, SYS_unlink,
    SYS_rmdir,     SYS_mkdirat,  SYS_mkdir,  SYS_fchmodat, SYS_chmod, SYS_fchmod,   SYS_symlinkat};

// The paths of the entries a call opens or looks up, as the calling process names them now; empty
// for any other call. What a plan, which changes nothing, does first inside a folder.
inline std::vector<std::string> entriesReadBy(const seccomp_notif& call) {
    const pid_t pid = static_cast<pid_t>(call.pid);
    const auto* a = call.data.args;
    switch (call.data.nr) {
    case SYS_openat:
    case SYS_newfstatat:
    case SYS_statx:
    case SYS_faccessat:
    case SYS_faccessat2:
        return {namedPath(pid, a[0], a[1])};
    case SYS_open:
    case SYS_stat:
    case SYS_lstat:
    case SYS_access:
        return {namedPath(pid, std::uint64_t(std::int64_t(AT_FDCWD)), a[0])};
    default:
        return {};
    }
}

inline const std::vector<int> kReadingCalls = {SYS_openat,    SYS_newfstatat, SYS_statx,
                                               SYS_faccessat, SYS_faccessat2, SYS_open,
                                               SYS_stat,      SYS_lstat,      SYS_access};

// Runs a piece of work in a child process of its own, watched: before its first change to an entry
// inside the chosen folder (at any depth) is made, or with `reads` before its first look at one,
// `atFirstChange` runs (it swaps the folder, or lets a racer loose).
class WatchFirstChange {
public:
    WatchFirstChange(std::filesystem::path folder, std::function<void()> atFirstChange, bool reads = false)
        : m_inside(folder.native() + "/"), m_atFirstChange(std::move(atFirstChange)),
          m_reads(reads), m_listener{reads ? kReadingCalls : kChangingCalls} {}

    // The work's exit code, 128 + the signal that ended it, or skipExit (77) where this system
    // cannot watch a process so. `forked` runs in this process once the child is on its way: a
    // thread started before the fork could hold a lock the child would wait for forever.
    int run(const std::function<int()>& work, const std::function<void()>& forked = {}) {
        const pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(m_listener.installHere() ? work() : 77);
        if (forked)
            forked();
        const bool watched = m_listener.attach([this](const seccomp_notif& call) {
            if (!m_changed && changesInside(call)) {
                m_changed = true;
                m_atFirstChange();
            }
            return SyscallListener::Verdict::GoOn;
        });
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
        }
        if (!watched)
            return 77;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // The work changed something inside the folder.
    bool changed() const { return m_changed; }

private:
    bool changesInside(const seccomp_notif& call) const {
        for (const std::string& entry : m_reads ? entriesReadBy(call) : entriesChangedBy(call)) {
            if (entry.starts_with(m_inside))
                return true;
        }
        return false;
    }

    std::string m_inside;
    std::function<void()> m_atFirstChange;
    std::atomic<bool> m_changed{false};
    bool m_reads = false;
    // Last, so that its thread has ended before what its handler uses goes.
    SyscallListener m_listener;
};

// Swaps the folder and the link back and forth at random instants while racing.
class RandomSwapper {
public:
    RandomSwapper(const FolderSwap& swap, std::uint64_t seed) : m_swap(swap), m_random(seed) {
        m_thread = std::thread([this] { swapUntilStopped(); });
    }
    RandomSwapper(const RandomSwapper&) = delete;
    RandomSwapper& operator=(const RandomSwapper&) = delete;
    ~RandomSwapper() {
        m_stop = true;
        setRacing(true);
        m_thread.join();
    }

    // While true, the swaps go on; the swapper sleeps otherwise, so that building trees is not slowed.
    void setRacing(bool racing) {
        m_racing = racing;
        m_racing.notify_one();
    }
    long swaps() const { return m_swaps; }

private:
    void swapUntilStopped() {
        while (!m_stop) {
            m_racing.wait(false);
            if (m_swap.exchange())
                ++m_swaps;
            // From at once to a fifth of a millisecond: many swaps fall between two calls of a run.
            std::this_thread::sleep_for(std::chrono::microseconds(m_random() % 200));
        }
    }

    const FolderSwap& m_swap;
    std::mt19937_64 m_random;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_racing{false};
    std::atomic<long> m_swaps{0};
    std::thread m_thread;
};

// Every entry below `folder` (links not followed) with its kind, mode and content: what "byte for
// byte as it was" compares.
inline std::map<std::string, std::string> folderSnapshot(const std::filesystem::path& folder) {
    std::map<std::string, std::string> snapshot;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; it != end;
         it.increment(error)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0)
            continue;
        std::string what = std::to_string(st.st_mode) + ":" + std::to_string(st.st_ino);
        if (S_ISREG(st.st_mode)) {
            const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            char buffer[4096];
            for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                what.append(buffer, std::size_t(got));
            ::close(fd);
        }
        snapshot[it->path().lexically_relative(folder).native()] = what;
    }
    return snapshot;
}

} // namespace corvalin::test
