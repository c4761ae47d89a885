#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A screen reader attached to the window's run: a private session bus, the desktop's
// accessibility bus started on it, and a client that listens to every event a screen reader
// listens to and reads each event's source back from the program, as one does.
namespace corvalin::bench {

class ScreenReader {
public:
    // Nothing when a piece is missing (dbus-daemon, the accessibility bus, the Python client
    // library); `why` then says which.
    static std::optional<ScreenReader> start(const std::string& display, std::string& why);

    ScreenReader(ScreenReader&& other) noexcept;
    ScreenReader& operator=(ScreenReader&&) = delete;
    ScreenReader(const ScreenReader&) = delete;
    ~ScreenReader();

    // What a program needs to be reached by it: the bus, and Qt told to speak on it.
    std::vector<std::string> environment() const;
    // Ends the client; the events it heard, or -1.
    long stop();

private:
    ScreenReader() = default;

    pid_t m_bus = -1;
    pid_t m_client = -1;
    int m_clientOutput = -1;
    std::string m_address;
};

} // namespace corvalin::bench
