#pragma once

#include "platform/cross_device_batch.h"
#include "platform/held_folder.h"
#include "platform/posix_io.h"

#include <cstddef>
#include <memory>
#include <string>
#include <sys/stat.h>

// One file of a CrossDeviceBatch and the steps it goes through (not a public API). The source is
// reached by its name in its folder, held; the hidden files and the final name by their names in
// the destination, held.
namespace corvalin {

struct BatchCopy {
    std::shared_ptr<const HeldFolder> sourceFolder;
    std::string sourceName;
    std::string source;    // its path, for the record and for people
    struct stat before {}; // the source as it was copied
    std::string record;    // the hidden files' names in the destination
    std::string part;
    UniqueFd recordFd;
    UniqueFd partFd;
    std::size_t sourceLength = 0; // of the record's first field
    std::string final;            // the path of its final name
    bool named = false;           // the final name holds the copy
};

// What removeSource returns for a source that no longer holds what was copied.
inline constexpr int kChangedSinceCopied = -1;

// Copies the source to fresh temporary names in `destination`: the record, then the part with the
// source's bytes, mode plus owner write and times, its writeback started. Returns 0 or errno; the
// caller removes what a failure left.
int makeCopy(BatchCopy& copy, const HeldFolder& destination);

// A final name for a copy that is to be renamed into place: one that is free now, asked of `naming`
// unless `decided`, and written to the record.
Status chooseFreeName(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming, bool decided);

// Renames the part to the name its record holds, never replacing a file; a name taken meanwhile
// gets a fresh one. `linkError` is what a failed rename reports where the file system cannot
// refuse to replace.
Status renameIntoPlace(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming, int linkError);

// Removes the source when it still is the file that was copied. Returns 0 (also when it is gone
// already), errno, or kChangedSinceCopied.
int removeSource(const BatchCopy& copy);

// The failure of `copy`'s source, `error` as removeSource returns it.
Error sourceError(const BatchCopy& copy, int error);

// What was copied, as a journal records it.
FileIdentity identityCopied(const BatchCopy& copy);

// Removes the entry `name` of the open folder `folder`, which may be gone already: 0 or errno.
int unlinkUnlessGone(int folder, const std::string& name);

} // namespace corvalin
