#pragma once

#include <chrono>
#include <string>

namespace corvalin {

// How fast a run goes and how long it has left, for the progress line: "85 枚/秒  残り 0:26".
// `counted` things (pictures moved, files renamed) in `seconds`, in `unit`s a second; the time left
// follows from the files done of the total.
std::string paceText(double seconds, long counted, const char* unit, long done, long total);

// The clock of one run.
class RunPace {
public:
    RunPace() : m_start(std::chrono::steady_clock::now()) {}
    void restart() { m_start = std::chrono::steady_clock::now(); }
    std::string text(long counted, const char* unit, long done, long total) const;

private:
    std::chrono::steady_clock::time_point m_start;
};

} // namespace corvalin
