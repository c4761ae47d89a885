#pragma once

#include "flush_counts.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace corvalin::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The flushes the slow-disk model has counted in this variant's processes so far.
inline long flushesSoFar() {
    const char* counts = std::getenv("CORVALIN_FLUSH_COUNTER");
    return counts ? totalFlushes(counts) : 0;
}

// The processor time of the whole process, all its threads.
inline double cpuSecondsSoFar() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timed {
    double seconds = -1; // negative: an exit code
    long flushes = 0;
    double cpuSeconds = 0;
};

// A timed part of a variant: its seconds, the flushes it made and its processor time.
class Timing {
public:
    Timing() : m_flushes(flushesSoFar()), m_cpu(cpuSecondsSoFar()), m_start(Clock::now()) {}
    Timed taken() const {
        const double seconds = secondsSince(m_start);
        const double cpu = cpuSecondsSoFar() - m_cpu;
        return {seconds, flushesSoFar() - m_flushes, cpu};
    }
    // What the bench reads of a variant: "seconds flushes cpu".
    void print() const { printTimed(taken()); }
    static void printTimed(const Timed& timed) {
        std::printf("%.6f %ld %.6f\n", timed.seconds, timed.flushes, timed.cpuSeconds);
    }

private:
    long m_flushes;
    double m_cpu;
    Clock::time_point m_start;
};

} // namespace corvalin::bench
