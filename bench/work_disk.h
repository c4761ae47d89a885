#pragma once

#include <filesystem>

namespace corvalin::bench {

// Says so when `work` lies on a disk whose figures cannot be trusted.
void warnOfExt4WithoutJournal(const std::filesystem::path& work);

} // namespace corvalin::bench
