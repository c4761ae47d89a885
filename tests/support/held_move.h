#pragma once

#include <QProcess>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

// Holds a program of its own at its first rename into a folder, before that rename is made, so
// that a test can cancel, close or signal it at a known point whatever the build's speed. The
// program's renames are put before the test (a seccomp listener handed over at the start); every
// other one goes on at once, and after release() all of them do.
namespace corvalin::test {

class HeldMove {
public:
    explicit HeldMove(std::filesystem::path folder) : m_prefix(folder.native() + "/") {
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_socket);
        m_wake = ::eventfd(0, EFD_CLOEXEC);
    }
    HeldMove(const HeldMove&) = delete;
    HeldMove& operator=(const HeldMove&) = delete;
    ~HeldMove() {
        m_stopping = true;
        wake();
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : {m_socket[0], m_socket[1], m_wake, m_listener})
            if (fd >= 0)
                ::close(fd);
    }

    // Runs in the child between fork and exec, after `before`: only calls that are safe there.
    void prepare(QProcess& process, std::function<void()> before = {}) {
        const int socket = m_socket[1];
        process.setChildProcessModifier([socket, before] {
            if (before)
                before();
            sendListener(socket, installFilter());
        });
    }

    // After the start: takes the listener and serves it. False where the system has none to give
    // (the test skips).
    bool attach(int timeoutMs = 20000) {
        ::close(std::exchange(m_socket[1], -1));
        pollfd wait{m_socket[0], POLLIN, 0};
        if (::poll(&wait, 1, timeoutMs) != 1)
            return false;
        char byte = 0;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        iovec data{&byte, 1};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(m_socket[0], &message, MSG_CMSG_CLOEXEC) != 1 || byte != 'L')
            return false;
        const cmsghdr* header = CMSG_FIRSTHDR(&message);
        if (!header || header->cmsg_type != SCM_RIGHTS)
            return false;
        std::memcpy(&m_listener, CMSG_DATA(header), sizeof(int));
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    bool attached() const { return m_listener >= 0; }

    // Until the program waits at its first rename into the folder.
    bool waitUntilHeld(int timeoutMs = 60000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_wasHeld; });
    }

    // Lets the held rename and every later one go on.
    void release() {
        m_released = true;
        wake();
    }

private:
    static int installFilter() {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            return -1;
        return static_cast<int>(
            ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
    }

    // A byte, with the listener when there is one.
    static void sendListener(int socket, int listener) {
        char byte = listener >= 0 ? 'L' : 'N';
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        iovec data{&byte, 1};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        if (listener >= 0) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(header), &listener, sizeof(int));
        }
        (void)::sendmsg(socket, &message, MSG_NOSIGNAL);
        if (listener >= 0)
            ::close(listener);
        ::close(socket);
    }

    void wake() {
        const std::uint64_t one = 1;
        if (m_wake >= 0)
            (void)::write(m_wake, &one, sizeof one);
    }

    void serve() {
        seccomp_notif_sizes sizes{};
        if (::syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) != 0)
            return;
        std::vector<char> request(std::max<std::size_t>(sizes.seccomp_notif, sizeof(seccomp_notif)));
        std::vector<char> response(
            std::max<std::size_t>(sizes.seccomp_notif_resp, sizeof(seccomp_notif_resp)));
        while (!m_stopping) {
            pollfd waits[] = {{m_listener, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (waits[1].revents & POLLIN) {
                std::uint64_t count = 0;
                (void)::read(m_wake, &count, sizeof count);
            }
            if (m_released && m_held != 0)
                goOn(response, std::exchange(m_held, 0));
            if (waits[0].revents & (POLLHUP | POLLERR | POLLNVAL))
                return; // the program has ended
            if (!(waits[0].revents & POLLIN))
                continue;
            std::fill(request.begin(), request.end(), 0);
            auto* notification = reinterpret_cast<seccomp_notif*>(request.data());
            if (::ioctl(m_listener, SECCOMP_IOCTL_NOTIF_RECV, notification) != 0)
                continue; // gone meanwhile (a signal interrupted the rename, which starts again)
            if (!m_released && intoFolder(*notification)) {
                m_held = notification->id;
                std::lock_guard lock(m_mutex);
                m_wasHeld = true;
                m_changed.notify_all();
                continue;
            }
            goOn(response, notification->id);
        }
    }

    bool intoFolder(const seccomp_notif& notification) const {
        const std::string memory = "/proc/" + std::to_string(notification.pid) + "/mem";
        const int fd = ::open(memory.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        std::string target(4096, '\0');
        const ssize_t got = ::pread(fd, target.data(), target.size(), off_t(notification.data.args[3]));
        ::close(fd);
        if (got <= 0)
            return false;
        target.resize(std::min(target.find('\0'), std::size_t(got)));
        return target.starts_with(m_prefix);
    }

    void goOn(std::vector<char>& buffer, std::uint64_t id) const {
        std::fill(buffer.begin(), buffer.end(), 0);
        auto* response = reinterpret_cast<seccomp_notif_resp*>(buffer.data());
        response->id = id;
        response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        (void)::ioctl(m_listener, SECCOMP_IOCTL_NOTIF_SEND, response);
    }

    std::string m_prefix;
    int m_socket[2] = {-1, -1};
    int m_wake = -1;
    int m_listener = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_held = 0; // the id of the rename held, 0 for none (the serving thread's own)
    bool m_wasHeld = false;   // under m_mutex
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_stopping{false};
};

} // namespace corvalin::test
