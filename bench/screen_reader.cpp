#include "screen_reader.h"

#include "xserver.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalin::bench {

namespace {

constexpr int kStartTimeoutMs = 30000;

std::string readLine(int fd) {
    return readLineFrom(fd, kStartTimeoutMs);
}

// Debian's own interpreter holds the client library; another one first on the PATH may not.
const char* interpreter() {
    return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

} // namespace

std::optional<ScreenReader> ScreenReader::start(const std::string& display, std::string& why) {
    ScreenReader reader;
    int busPipe[2];
    int clientPipe[2];
    if (::pipe(busPipe) != 0 || ::pipe(clientPipe) != 0) {
        why = "no pipe";
        return std::nullopt;
    }
    reader.m_bus =
        launchQuietly({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}, -1, busPipe[1]);
    ::close(busPipe[1]);
    reader.m_address = readLine(busPipe[0]);
    ::close(busPipe[0]);
    if (reader.m_address.empty()) {
        ::close(clientPipe[0]);
        ::close(clientPipe[1]);
        why = "dbus-daemon is not installed or did not start";
        return std::nullopt;
    }
    std::vector<std::string> environment = reader.environment();
    environment.push_back("DISPLAY=" + display);
    reader.m_client =
        launchQuietly({interpreter(), CORVALIN_ATSPI_CLIENT, "--listen"}, environment, -1, clientPipe[1]);
    ::close(clientPipe[1]);
    reader.m_clientOutput = clientPipe[0];
    if (readLine(reader.m_clientOutput) != "ready") {
        why = "the accessibility bus (at-spi2-core) or its client library (python3-pyatspi) is missing";
        return std::nullopt;
    }
    return reader;
}

ScreenReader::ScreenReader(ScreenReader&& other) noexcept
    : m_bus(other.m_bus), m_client(other.m_client), m_clientOutput(other.m_clientOutput),
      m_address(std::move(other.m_address)) {
    other.m_bus = -1;
    other.m_client = -1;
    other.m_clientOutput = -1;
}

ScreenReader::~ScreenReader() {
    (void)stop();
    endLaunched(m_bus);
}

std::vector<std::string> ScreenReader::environment() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + m_address, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"};
}

long ScreenReader::stop() {
    if (m_client <= 0)
        return -1;
    ::kill(m_client, SIGTERM);
    const std::string heard = readLine(m_clientOutput);
    ::waitpid(m_client, nullptr, 0);
    ::close(m_clientOutput);
    m_client = -1;
    m_clientOutput = -1;
    return heard.empty() ? -1 : std::atol(heard.c_str());
}

} // namespace corvalin::bench
