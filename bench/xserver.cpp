#include "xserver.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace corvalin::bench {

namespace {

constexpr int kStartTimeoutMs = 10000;

// Xvfb writes the display number it chose, then a newline, once it accepts clients.
std::string readDisplay(int fd) {
    const std::string number = readLineFrom(fd, kStartTimeoutMs);
    return number.empty() ? std::string() : ":" + number;
}

} // namespace

pid_t launchQuietly(std::vector<const char*> args, const std::vector<std::string>& environment, int keepOpen,
                    int output) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    for (const std::string& variable : environment)
        ::putenv(const_cast<char*>(variable.c_str()));
    if (const int null = ::open("/dev/null", O_RDWR); null >= 0) {
        ::dup2(null, 0);
        ::dup2(output >= 0 ? output : null, 1);
        ::dup2(null, 2);
    }
    for (int fd = 3; fd < 256; ++fd) {
        if (fd != keepOpen)
            ::close(fd);
    }
    args.push_back(nullptr);
    ::execvp(args[0], const_cast<char* const*>(args.data()));
    ::_exit(127);
}

std::string readLineFrom(int fd, int timeoutMs) {
    std::string line;
    pollfd waiting{fd, POLLIN, 0};
    while (::poll(&waiting, 1, timeoutMs) > 0) {
        char c = 0;
        if (::read(fd, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    return line;
}

void endLaunched(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

std::optional<XServer> XServer::start(std::string& why) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        why = "no pipe for Xvfb";
        return std::nullopt;
    }
    const std::string fdText = std::to_string(pipeFds[1]);
    const pid_t server = launchQuietly(
        {"Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, {},
        pipeFds[1]);
    ::close(pipeFds[1]);
    const std::string display = server > 0 ? readDisplay(pipeFds[0]) : std::string();
    ::close(pipeFds[0]);
    if (display.empty()) {
        endLaunched(server);
        why = "Xvfb is not installed or did not start";
        return std::nullopt;
    }
    XServer started(server, display);
    started.m_windowManager = launchQuietly({"openbox"}, {"DISPLAY=" + display});
    // A window manager that takes a moment to come up would see the window mapped without it.
    ::usleep(500 * 1000);
    int status = 0;
    if (::waitpid(started.m_windowManager, &status, WNOHANG) != 0) {
        started.m_windowManager = -1;
        why = "openbox is not installed or did not start";
        return std::nullopt;
    }
    return started;
}

XServer::XServer(XServer&& other) noexcept
    : m_server(other.m_server), m_windowManager(other.m_windowManager),
      m_display(std::move(other.m_display)) {
    other.m_server = -1;
    other.m_windowManager = -1;
}

XServer::~XServer() {
    endLaunched(m_windowManager);
    endLaunched(m_server);
}

} // namespace corvalin::bench
