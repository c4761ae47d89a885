#include "rounds.h"

#include <algorithm>
#include <cstdio>

namespace corvalin::bench {

void Rounds::add(const Measured& round) {
    if (round.seconds < 0) {
        m_failed = true;
    } else {
        m_seconds.push_back(round.seconds);
        m_flushes.push_back(round.flushes);
        m_cpuSeconds = m_cpuSeconds < 0 ? round.cpuSeconds : std::min(m_cpuSeconds, round.cpuSeconds);
    }
    m_peakKilobytes = std::max(m_peakKilobytes, round.peakKilobytes);
}

Measured Rounds::best() const {
    if (failed())
        return {-1, m_peakKilobytes, 0, 0};
    const auto fastest = std::min_element(m_seconds.begin(), m_seconds.end()) - m_seconds.begin();
    return {m_seconds[fastest], m_peakKilobytes, m_flushes[fastest], m_cpuSeconds};
}

double Rounds::spread() const {
    if (failed())
        return 0;
    const auto [fastest, slowest] = std::minmax_element(m_seconds.begin(), m_seconds.end());
    return *fastest > 0 ? (*slowest - *fastest) / *fastest : 0;
}

double medianRoundRatio(const Rounds& a, const Rounds& b) {
    if (a.failed() || b.failed() || a.seconds().size() != b.seconds().size())
        return -1;
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.seconds().size(); ++i) {
        if (b.seconds()[i] <= 0)
            return -1;
        ratios.push_back(a.seconds()[i] / b.seconds()[i]);
    }
    std::sort(ratios.begin(), ratios.end());
    const std::size_t middle = ratios.size() / 2;
    return ratios.size() % 2 ? ratios[middle] : (ratios[middle - 1] + ratios[middle]) / 2;
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
