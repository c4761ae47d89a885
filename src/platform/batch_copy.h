#pragma once

#include "platform/cross_device_batch.h"
#include "platform/posix_io.h"

#include <cstddef>
#include <string>
#include <sys/stat.h>

// One file of a CrossDeviceBatch and the steps it goes through (not a public API).
namespace corvalin {

struct BatchCopy {
    std::string source;
    struct stat before {}; // the source as it was copied
    std::string record;
    std::string part;
    UniqueFd recordFd;
    UniqueFd partFd;
    std::size_t sourceLength = 0; // of the record's first field
    std::string final;
    bool named = false; // the final name holds the copy
};

// What removeSource returns for a source that no longer holds what was copied.
inline constexpr int kChangedSinceCopied = -1;

// Copies `copy.source` to fresh temporary names in `folder`: the record, then the part with the
// source's bytes, mode plus owner write and times, its writeback started. Returns 0 or errno; the
// caller removes what a failure left.
int makeCopy(BatchCopy& copy, const std::string& folder);

// A final name for a copy that is to be renamed into place: one that is free now, asked of `naming`
// unless `decided`, and written to the record.
Status chooseFreeName(BatchCopy& copy, CopyNaming& naming, bool decided);

// Renames the part to the name its record holds, never replacing a file; a name taken meanwhile
// gets a fresh one. `linkError` is what a failed rename reports where the file system cannot
// refuse to replace.
Status renameIntoPlace(BatchCopy& copy, CopyNaming& naming, int linkError);

// Removes the source when it still is the file that was copied. Returns 0 (also when it is gone
// already), errno, or kChangedSinceCopied.
int removeSource(const BatchCopy& copy);

// The failure of `copy`'s source, `error` as removeSource returns it.
Error sourceError(const BatchCopy& copy, int error);

int unlinkUnlessGone(const std::string& path);

} // namespace corvalin
