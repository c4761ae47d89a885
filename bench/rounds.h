#pragma once

#include "processes.h"

#include <string>
#include <vector>

// The rounds one variant ran. Its figure is its best round, which least reflects the load of
// anything else on the machine; the spread says how far the rounds lay apart, so that a loaded
// machine shows beside the figures instead of hiding in them.
namespace corvalin::bench {

class Rounds {
public:
    // Negative seconds: the round failed, and with it the variant.
    void add(const Measured& round);
    bool failed() const { return m_failed || m_seconds.empty(); }
    // The fastest round's seconds and flushes (negative seconds when failed), the least processor
    // time of any round and the highest peak memory of all.
    Measured best() const;
    // (slowest - fastest) / fastest over the rounds; 0 for a single round.
    double spread() const;
    const std::vector<double>& seconds() const { return m_seconds; }

private:
    std::vector<double> m_seconds;
    std::vector<long> m_flushes;
    double m_cpuSeconds = -1;
    long m_peakKilobytes = 0;
    bool m_failed = false;
};

// The median over the rounds of a's time over b's in the same round; negative unless both ran
// every round. Variants that take turns meet the same state of the machine in a round, so this
// ratio moves less than the ratio of two best rounds when the disk's pace drifts.
double medianRoundRatio(const Rounds& a, const Rounds& b);

// "a 3%, b 1%, ...": each variant that did not fail, with its spread.
std::string describeSpread(const std::vector<std::pair<std::string, const Rounds*>>& variants);

} // namespace corvalin::bench
