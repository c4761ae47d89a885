#include "cli/run_pace.h"

#include <cmath>
#include <cstdio>

namespace corvalin {

namespace {

// Too early to tell a pace from a pause.
constexpr double kShortestMeasure = 1.0;

std::string durationText(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string rateText(double perSecond) {
    char text[32];
    std::snprintf(text, sizeof text, perSecond < 10 ? "%.1f" : "%.0f", perSecond);
    return text;
}

} // namespace

std::string paceText(double seconds, long counted, const char* unit, long done, long total) {
    if (seconds < kShortestMeasure || done <= 0)
        return std::string("-- ") + unit + "/秒  残り --:--";
    const double timeLeft = seconds / static_cast<double>(done) * static_cast<double>(total - done);
    return rateText(static_cast<double>(counted) / seconds) + " " + unit + "/秒  残り " +
           durationText(timeLeft);
}

std::string RunPace::text(long counted, const char* unit, long done, long total) const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    return paceText(elapsed.count(), counted, unit, done, total);
}

} // namespace corvalin
