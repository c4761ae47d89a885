#pragma once

#include "app/startup.h"
#include "platform/posix_io.h"
#include "platform/result.h"

#include <cstddef>
#include <cstdint>

namespace corvalin {

// The counter file as a run rewrites it before every file. Replacing it each time (a new file and a
// rename) frees the old file's block, and on a disk that discards freed blocks at once that alone
// costs more than moving the picture. So the first number of a run replaces the file as
// writeCounterFile does (on the disk, once a run), and each later one is written over it in place,
// the file kept open, not flushed (after a power cut the start-up counts on from the journal): one
// write of a number never shorter than the last, which a killed program either made or did not
// make, so the file always holds a whole number, never less than the last one written. A shorter
// number (the counter wrapping round) and a file replaced or removed meanwhile go back to
// replacing it.
class CounterWriter {
public:
    explicit CounterWriter(SettingsFiles files);

    Status write(std::int32_t serialNo);

private:
    bool canWriteInPlace(std::size_t length) const;
    Status replace(std::int32_t serialNo);

    SettingsFiles m_files;
    UniqueFd m_fd;
    std::size_t m_length = 0; // what the file holds
};

} // namespace corvalin
