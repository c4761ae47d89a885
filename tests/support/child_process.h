#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Helpers for tests that need a process of their own: to drop privileges, to be killed, or to
// change resource limits or mounts without touching the test runner.
namespace corvalin::test {

constexpr int skipExit = 77; // the child could not set itself up; the test skips

// Runs `body` in a forked child and returns its exit code, or 128 + the signal that ended it.
inline int runInChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In a child: becomes the unprivileged user "nobody" when running as root, so that permission
// checks apply. Returns false when that is not possible.
inline bool dropPrivileges() {
    if (::geteuid() != 0)
        return true;
    return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

// In a child of an unprivileged user: becomes root of a user namespace of its own, where mounting
// is allowed. Nothing to do for root.
inline bool enterOwnUserNamespace() {
    if (::geteuid() == 0)
        return true;
    const std::string uidMap = "0 " + std::to_string(::geteuid()) + " 1";
    const std::string gidMap = "0 " + std::to_string(::getegid()) + " 1";
    const auto writeTo = [](const char* file, const std::string& text) {
        const int fd = ::open(file, O_WRONLY);
        const bool written =
            fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        return written;
    };
    return ::unshare(CLONE_NEWUSER) == 0 && writeTo("/proc/self/setgroups", "deny") &&
           writeTo("/proc/self/uid_map", uidMap) && writeTo("/proc/self/gid_map", gidMap);
}

// In a child: mounts a fresh tmpfs of `size` on `folder`, in a mount namespace of the child's own
// so that nothing outside sees it. Returns false where mounting is not allowed.
inline bool mountPrivateTmpfs(const std::string& folder, const char* size = "1m") {
    const std::string options = std::string("size=") + size;
    return enterOwnUserNamespace() && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

// In a child: the calls that name a file without replacing another fail from now on as on exFAT
// and FAT through FUSE: with `links`, every hard link with EPERM; with `renames`, every renameat2
// (a rename that refuses to replace) with EINVAL. False where a seccomp filter cannot be set.
inline bool refuseNamingCalls(bool links, bool renames) {
    const unsigned noSuchCall = ~0u;
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, links ? unsigned(SYS_link) : noSuchCall, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, links ? unsigned(SYS_linkat) : noSuchCall, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, renames ? unsigned(SYS_renameat2) : noSuchCall, 2, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
    };
    const sock_fprog program{sizeof filter / sizeof filter[0], filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// In a child: every hard link fails with EPERM from now on, as on FAT and exFAT, which have none.
// With `renamesReplace` a rename that refuses to replace fails with EINVAL too, as where the file
// system cannot refuse.
inline bool refuseHardLinks(bool renamesReplace = false) {
    return refuseNamingCalls(true, renamesReplace);
}

} // namespace corvalin::test
