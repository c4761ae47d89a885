#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A real X server for the window's run: Xvfb with a window manager, as a user's desktop has, so
// that the run pays for drawing, which the offscreen platform skips.
namespace corvalin::bench {

// Starts a helper with `environment` added, all its output going nowhere but its standard output
// to `output` where given, and no descriptor of ours open but `keepOpen`.
pid_t launchQuietly(std::vector<const char*> args, const std::vector<std::string>& environment,
                    int keepOpen = -1, int output = -1);
// One line from `fd`, without its newline, waiting at most `timeoutMs` for each character.
std::string readLineFrom(int fd, int timeoutMs);
// Ends a helper so started and waits for it.
void endLaunched(pid_t pid);

class XServer {
public:
    // Xvfb on a display it picks itself, with openbox managing its windows; nothing when Xvfb is
    // not installed or does not come up (`why` then says which).
    static std::optional<XServer> start(std::string& why);

    XServer(XServer&& other) noexcept;
    XServer& operator=(XServer&&) = delete;
    XServer(const XServer&) = delete;
    ~XServer();

    // ":N", for DISPLAY.
    const std::string& display() const { return m_display; }

private:
    XServer(pid_t server, std::string display) : m_server(server), m_display(std::move(display)) {}

    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    std::string m_display;
};

} // namespace corvalin::bench
