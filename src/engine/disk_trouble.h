#pragma once

#include "platform/disk_kind.h"
#include "platform/held_folder.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>

// Why a destination stopped taking pictures in the middle of a run, told so that the user knows
// what happened to the disk: a stick pulled out or a network mount gone answers EIO or ENOTCONN to
// whatever comes next, and a FUSE driver of a full FAT stick answers a write with EPERM.
namespace corvalin {

enum class DiskFault {
    None,      // the failure says what it is
    Gone,      // the disk no longer answers: pulled out, unmounted, its driver or server gone
    Full,      // no room left for the picture
    FolderFull // room on the disk, but the folder holds as many entries as its file system allows
};

// What the destination's disk says of itself after a failure.
struct DiskAnswer {
    int error = 0; // why it could not be asked; 0 when it answered
    std::uint64_t freeBytes = 0;
    std::uint64_t blockSize = 0;
};

// Asks the disk holding the open folder `folderFd` for its free space.
DiskAnswer askDisk(int folderFd);

// The fault behind `code`, the failure of a picture of `pictureSize` bytes going into a folder
// of the disk `rules` describes, which answered the question after it as `answer` says.
DiskFault diskFaultOf(int code, const DiskAnswer& answer, std::uint64_t pictureSize,
                      const DiskNameRules& rules);

// `failed`, the failure of `file` going into `destination`, told as `fault` is: the reason the
// disk's own state shows, and what to do, with the disk named by its mount point.
Error explainDiskFault(Error failed, DiskFault fault, const DiskProfile& disk,
                       const std::filesystem::path& destination, const std::filesystem::path& file);

// Refuses a source parent folder on a disk mounted read-only, before anything is touched: none of
// its pictures could leave it, and the run would stop at its first file.
Status checkSourceWritable(const HeldFolder& source);

} // namespace corvalin
