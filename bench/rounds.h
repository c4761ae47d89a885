#pragma once

#include <string>
#include <vector>

// The rounds one variant ran. Its figure is its best round, which least reflects the load of
// anything else on the machine; the spread says how far the rounds lay apart, so that a loaded
// machine shows beside the figures instead of hiding in them.
namespace corvalin::bench {

class Rounds {
public:
    // Negative seconds: the round failed, and with it the variant.
    void add(double seconds, long peakKilobytes);
    bool failed() const { return m_failed || m_seconds.empty(); }
    // Negative when failed.
    double best() const;
    // (slowest - fastest) / fastest over the rounds; 0 for a single round.
    double spread() const;
    long peakKilobytes() const { return m_peakKilobytes; }

private:
    std::vector<double> m_seconds;
    long m_peakKilobytes = 0;
    bool m_failed = false;
};

// "a 3%, b 1%, ...": each variant that did not fail, with its spread.
std::string describeSpread(const std::vector<std::pair<std::string, const Rounds*>>& variants);

} // namespace corvalin::bench
