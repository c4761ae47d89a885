#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What the benchmark's runs share: starting a timed process, the shell's way of doing the job, and
// printing the figures.
namespace corvalin::bench {

// The same job as the run, the way one would write it in a shell (SRC, DST and COUNTER name the
// folders and the counter file): every file below the child folders, a counter file rewritten per
// file, pictures renamed with mv -n, the rest removed, then the child folders.
extern const char* const kShellPipeline;

struct Measured {
    double seconds = -1; // negative: the run failed
    long peakKilobytes = 0;
    long flushes = 0;      // the waits for the disk the slow-disk model counted
    double cpuSeconds = 0; // user and system time, which the load of other programs moves less
};

// The slow-disk model every variant runs under: the library preloaded into each of its processes,
// the file of counts they add to, and the wait before each flush (0: counted, not slowed).
struct FlushModel {
    std::filesystem::path library;
    std::filesystem::path counts;
    int delayMs = 0;
};

// Runs a program under `model` with `environment` added and returns its peak memory, its flushes
// and its time: the whole process's with `timeWholeProcess`, else the seconds it printed, followed
// by the flushes and the processor time within them where it printed those.
Measured spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               bool timeWholeProcess, const FlushModel& model);

// Regular files directly in `folder`.
std::size_t countFiles(const std::filesystem::path& folder);

// The label, the time, the time per picture, the processor time and the flushes.
void printLine(const char* label, const Measured& measured, int pictures);

double ratio(const Measured& a, const Measured& b);

} // namespace corvalin::bench
