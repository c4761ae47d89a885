#pragma once

#include "processes.h"

#include <filesystem>

// Moves to another file system: the window's run with its batches and with a flush per picture,
// against `mv -n` in a shell loop and the floor `cp -r`, each followed by `sync`.
namespace corvalin::bench {

struct AcrossOptions {
    std::filesystem::path work;         // holds the tree in master/ and the runs' copies of it
    std::filesystem::path destinations; // on another file system
    int pictures = 0;
    int others = 0;
    int repeat = 1;
    bool permanent = false;
    bool keep = false;
    bool dropCaches = true; // before each run, where the system allows it
    FlushModel model;       // every variant runs under it
};

// Each variant moves a fresh copy of the tree in `work`/master to a folder of its own in
// `destinations`, the page cache dropped before each where the system lets it. Prints the figures
// and their ratios; returns 0 when every run did its whole job.
int timeAcrossFileSystems(const AcrossOptions& options);

} // namespace corvalin::bench
