#include "flush_counts.h"

#include <cstdint>
#include <fcntl.h>
#include <numeric>
#include <unistd.h>

namespace corvalin::bench {

namespace {

using Counts = std::uint64_t[kFlushKinds];

} // namespace

long totalFlushes(const std::filesystem::path& file) {
    Counts counts{};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool read = fd >= 0 && ::pread(fd, &counts, sizeof counts, 0) == ssize_t(sizeof counts);
    if (fd >= 0)
        ::close(fd);
    return read ? long(std::accumulate(std::begin(counts), std::end(counts), std::uint64_t(0))) : 0;
}

bool resetFlushCounts(const std::filesystem::path& file) {
    const Counts zero{};
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && ::write(fd, &zero, sizeof zero) == ssize_t(sizeof zero);
    if (fd >= 0)
        ::close(fd);
    return written;
}

} // namespace corvalin::bench
