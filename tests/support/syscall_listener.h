#pragma once

#include <QProcess>

#include <algorithm>
#include <atomic>
#include <cerrno>
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

// Puts chosen system calls of a process of its own before a test, one at a time, before the kernel
// makes them (a seccomp listener handed over by the process when it starts): the test may look at
// what the call names, change the disk meanwhile, and let it go on, or hold it until release().
// Every other call goes on at once.
namespace corvalin::test {

class SyscallListener {
public:
    enum class Verdict { GoOn, Hold };
    // Runs on the listener's own thread while the call waits.
    using Handler = std::function<Verdict(const seccomp_notif& call)>;

    explicit SyscallListener(std::vector<int> calls) : m_filter(filterFor(calls)) {
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_socket);
        m_wake = ::eventfd(0, EFD_CLOEXEC);
    }
    SyscallListener(const SyscallListener&) = delete;
    SyscallListener& operator=(const SyscallListener&) = delete;
    ~SyscallListener() {
        m_stopping = true;
        wake();
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : {m_socket[0], m_socket[1], m_wake, m_listener})
            if (fd >= 0)
                ::close(fd);
    }

    // In the watched process, before the work a test watches (after fork, or between fork and exec):
    // only calls that are safe there. False where the filter cannot be set (the test then skips).
    bool installHere() const {
        const int listener = installFilter(m_filter);
        sendListener(m_socket[1], listener);
        return listener >= 0;
    }

    // The same for a program started by `process`, after `before`.
    void prepare(QProcess& process, std::function<void()> before = {}) {
        process.setChildProcessModifier([this, before] {
            if (before)
                before();
            (void)installHere();
        });
    }

    // After the start: takes the listener and serves it with `handler`. False where the system has
    // none to give (the test skips).
    bool attach(Handler handler, int timeoutMs = 20000) {
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
        m_handler = std::move(handler);
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    bool attached() const { return m_listener >= 0; }

    // Lets the held call and every later one go on.
    void release() {
        m_released = true;
        wake();
    }

private:
    static std::vector<sock_filter> filterFor(const std::vector<int>& calls) {
        std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        for (std::size_t i = 0; i < calls.size(); ++i)
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(calls[i]),
                                      static_cast<unsigned char>(calls.size() - i), 0));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
        return filter;
    }

    static int installFilter(const std::vector<sock_filter>& filter) {
        sock_fprog program{static_cast<unsigned short>(filter.size()),
                           const_cast<sock_filter*>(filter.data())};
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
                return; // the process has ended
            if (!(waits[0].revents & POLLIN))
                continue;
            std::fill(request.begin(), request.end(), 0);
            auto* call = reinterpret_cast<seccomp_notif*>(request.data());
            if (::ioctl(m_listener, SECCOMP_IOCTL_NOTIF_RECV, call) != 0)
                continue; // gone meanwhile (a signal interrupted the call, which starts again)
            if (!m_released && m_held == 0 && m_handler(*call) == Verdict::Hold) {
                m_held = call->id;
                continue;
            }
            goOn(response, call->id);
        }
    }

    void goOn(std::vector<char>& buffer, std::uint64_t id) const {
        std::fill(buffer.begin(), buffer.end(), 0);
        auto* response = reinterpret_cast<seccomp_notif_resp*>(buffer.data());
        response->id = id;
        response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        (void)::ioctl(m_listener, SECCOMP_IOCTL_NOTIF_SEND, response);
    }

    std::vector<sock_filter> m_filter;
    int m_socket[2] = {-1, -1};
    int m_wake = -1;
    int m_listener = -1;
    Handler m_handler;
    std::thread m_thread;
    std::uint64_t m_held = 0; // the id of the call held, 0 for none (the serving thread's own)
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_stopping{false};
};

// The text at `address` in the memory of the process `pid`.
inline std::string stringIn(pid_t pid, std::uint64_t address) {
    const std::string memory = "/proc/" + std::to_string(pid) + "/mem";
    const int fd = ::open(memory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text(4096, '\0');
    const ssize_t got = ::pread(fd, text.data(), text.size(), off_t(address));
    ::close(fd);
    text.resize(got > 0 ? std::min(text.find('\0'), std::size_t(got)) : 0);
    return text;
}

// Where a descriptor of the process `pid` points now (its working folder for AT_FDCWD).
inline std::string descriptorPath(pid_t pid, int fd) {
    const std::string link =
        "/proc/" + std::to_string(pid) + (fd == AT_FDCWD ? "/cwd" : "/fd/" + std::to_string(fd));
    std::error_code error;
    return std::filesystem::read_symlink(link, error).native();
}

// The path a call names by a folder descriptor and the path at `pathAddress`, as the calling
// process would resolve it now (a path through its own descriptors included).
inline std::string namedPath(pid_t pid, std::uint64_t folderFd, std::uint64_t pathAddress) {
    const std::string path = stringIn(pid, pathAddress);
    const std::string own = "/proc/self/fd/";
    if (path.starts_with(own))
        return descriptorPath(pid, std::atoi(path.c_str() + own.size()));
    if (path.starts_with("/"))
        return path;
    const std::string folder = descriptorPath(pid, int(folderFd));
    return path.empty() ? folder : folder + "/" + path;
}

} // namespace corvalin::test
