#pragma once

#include "flush_kinds.h"

#include <filesystem>

// The counts of the slow-disk model (flush_model.c): one file of counters that every process of a
// variant maps and adds to, so that the bench reads what all of them waited for.
namespace corvalin::bench {

// Every flush counted in `file` so far; 0 when it cannot be read.
long totalFlushes(const std::filesystem::path& file);

// Makes `file` a fresh set of zero counts; false when it cannot.
bool resetFlushCounts(const std::filesystem::path& file);

} // namespace corvalin::bench
