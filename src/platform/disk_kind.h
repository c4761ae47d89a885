#pragma once

#include "platform/naming_probe.h"
#include "platform/volumes.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// What names and files a disk can hold, known from the kind of its file system as the mount table
// names it ("vfat", "exfat", "fuseblk", "fuse.sshfs", ...): statfs says only "FUSE" for every FUSE
// mount, and a stick formatted for Windows takes fewer names than the disk of the home folder.
namespace corvalin {

struct DiskNameRules {
    std::string fileSystemType; // as the mount table names it; empty when unknown
    std::string kindName;       // for the user: "FAT", "exFAT", "NTFS", or the type itself
    // The characters Windows keeps out of names (" * / : < > ? \ | and control characters) are
    // refused, and so is a name ending in a dot or a blank.
    bool windowsNames = false;
    // Names are stored as UTF-16: a name must be UTF-8, and at most 255 UTF-16 units long.
    bool utf16Names = false;
    bool asciiNames = false; // only ASCII names (a driver that writes nothing else)
    bool caseInsensitive = false;
    std::uint64_t largestFile = 0; // bytes one file may hold; 0 when the kind sets no limit
};

// The largest file FAT holds: 4 GiB less one byte.
inline constexpr std::uint64_t kFatLargestFile = (std::uint64_t(1) << 32) - 1;

// The rules the kind of file system sets by itself.
DiskNameRules rulesForFileSystemType(std::string_view type);

// The rules of a kind, with what the probe found on the disk itself added: a FUSE block device
// ("fuseblk") may be exFAT or NTFS, a FUSE or network mount of any kind may refuse more.
DiskNameRules rulesForDisk(std::string_view type, const NamingProbe& probe);

// Everything a run, its plan and its copies need to know of a destination before anything is put
// there.
struct DiskProfile {
    NamingProbe probe;
    DiskNameRules rules;
    std::size_t longestName = 255; // bytes, as the file system says
    NamingWay copyWay = NamingWay::None;
    // Where the disk is mounted, as the mount table gave it then: a stick pulled out later is
    // named by it, when the table no longer lists it.
    std::filesystem::path mountPoint;
};

// Probes the open folder `folderFd` (`shown` names it in an error) and reads its kind from the
// mount table. Fails as probeNaming fails.
Result<DiskProfile> profileDisk(int folderFd, const std::filesystem::path& shown);

// The type of the file system holding the open folder `folderFd`, from the mount table: the entry
// of its mount, else the last one of its device. Empty when neither is found.
std::string fileSystemTypeOf(int folderFd);

// The same, from the entries of a mount table, for a mount id (0 when unknown) and a device.
std::string fileSystemTypeIn(const std::vector<MountEntry>& entries, int mountId, dev_t device);

// The mount-table entry of the file system holding the open folder `folderFd`, found as
// fileSystemTypeOf finds it; an empty entry when none is.
MountEntry mountEntryOf(int folderFd);
MountEntry mountEntryIn(const std::vector<MountEntry>& entries, int mountId, dev_t device);

} // namespace corvalin
