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
};

// Runs a program with `environment` added and returns its peak memory and its time: the whole
// process's with `timeWholeProcess`, else the seconds it printed.
Measured spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               bool timeWholeProcess);

// Regular files directly in `folder`.
std::size_t countFiles(const std::filesystem::path& folder);

void printLine(const char* label, const Measured& measured, int pictures);

double ratio(const Measured& a, const Measured& b);

} // namespace corvalin::bench
