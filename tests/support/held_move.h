#pragma once

#include "syscall_listener.h"

#include <QProcess>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <sys/syscall.h>

// Holds a program of its own at its first rename into a folder, before that rename is made, so
// that a test can cancel, close or signal it at a known point whatever the build's speed. The
// program's renames are put before the test (syscall_listener.h); every other one goes on at once,
// and after release() all of them do. A rename by a name in a folder held open counts by that
// folder's path.
namespace corvalin::test {

class HeldMove {
public:
    explicit HeldMove(std::filesystem::path folder) : m_prefix(folder.native() + "/") {}

    // Runs in the child between fork and exec, after `before`: only calls that are safe there.
    void prepare(QProcess& process, std::function<void()> before = {}) {
        m_listener.prepare(process, std::move(before));
    }

    // After the start: takes the listener and serves it. False where the system has none to give
    // (the test skips).
    bool attach(int timeoutMs = 20000) {
        return m_listener.attach(
            [this](const seccomp_notif& call) {
                const pid_t pid = static_cast<pid_t>(call.pid);
                if (!isMove(namedPath(pid, call.data.args[2], call.data.args[3])))
                    return SyscallListener::Verdict::GoOn;
                std::lock_guard lock(m_mutex);
                m_wasHeld = true;
                m_changed.notify_all();
                return SyscallListener::Verdict::Hold;
            },
            timeoutMs);
    }

    bool attached() const { return m_listener.attached(); }

    // Until the program waits at its first rename into the folder.
    bool waitUntilHeld(int timeoutMs = 60000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_wasHeld; });
    }

    // Lets the held rename and every later one go on.
    void release() { m_listener.release(); }

private:
    // Into the folder, and no probe of how names can be made there (a hidden file renamed once
    // when a run or a plan first meets a destination).
    bool isMove(const std::string& path) const {
        const std::string name = path.substr(path.rfind('/') + 1);
        const bool probe = name.starts_with(".corvalin-") && name.find(".probe") != std::string::npos;
        return path.starts_with(m_prefix) && !probe;
    }

    std::string m_prefix;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_wasHeld = false; // under m_mutex
    // Last, so that its thread has ended before what its handler uses goes.
    SyscallListener m_listener{{SYS_renameat2}};
};

} // namespace corvalin::test
