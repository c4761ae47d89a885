#include "rounds.h"

#include <algorithm>
#include <cstdio>

namespace corvalin::bench {

void Rounds::add(double seconds, long peakKilobytes) {
    if (seconds < 0)
        m_failed = true;
    else
        m_seconds.push_back(seconds);
    m_peakKilobytes = std::max(m_peakKilobytes, peakKilobytes);
}

double Rounds::best() const {
    return failed() ? -1 : *std::min_element(m_seconds.begin(), m_seconds.end());
}

double Rounds::spread() const {
    if (failed())
        return 0;
    const auto [fastest, slowest] = std::minmax_element(m_seconds.begin(), m_seconds.end());
    return *fastest > 0 ? (*slowest - *fastest) / *fastest : 0;
}

std::string describeSpread(const std::vector<std::pair<std::string, const Rounds*>>& variants) {
    std::string text;
    for (const auto& [label, rounds] : variants) {
        if (rounds->failed())
            continue;
        char part[64];
        std::snprintf(part, sizeof part, "%s%s %.0f%%", text.empty() ? "" : ", ", label.c_str(),
                      100 * rounds->spread());
        text += part;
    }
    return text;
}

} // namespace corvalin::bench
