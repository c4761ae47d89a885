#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Mounted volumes stand where a desktop with drive letters has drives.
namespace corvalin {

struct Volume {
    std::filesystem::path mountPoint;
    std::string fileSystemType;
};

// One line of the mount table.
struct MountEntry {
    int id = 0; // as statx's STATX_MNT_ID gives it
    unsigned major = 0;
    unsigned minor = 0;
    std::filesystem::path mountPoint;
    std::string fileSystemType; // "ext4", "vfat", "fuseblk", "fuse.sshfs", ...
};

// Every line of a mountinfo file's text that parses, in its order.
std::vector<MountEntry> parseMountEntries(const std::string& text);

// Reads /proc/self/mountinfo whole. False when it cannot be read.
bool readMountInfo(std::string& text);

// Real file systems, by mount point, sorted by it; pseudo file systems (proc, sysfs, cgroup, ...)
// and system tmpfs mounts are left out. "/" is always the first, with an empty type when no mount
// entry names it (a chroot). Read from /proc/self/mountinfo.
std::vector<Volume> listVolumes();

// Parses the text of a mountinfo file (for tests).
std::vector<Volume> parseMountInfo(const std::string& text);

// Every mount point this process sees, none left out (for "is anything mounted below here?"),
// from /proc/self/mountinfo, read again only when the table changed since the last call; from the
// text of such a file with the second form.
std::vector<std::filesystem::path> listMountPoints();
std::vector<std::filesystem::path> parseMountPoints(const std::string& text);

// The first of those mount points that is `folder` or lies below it; `folder` absolute and free
// of ".", ".." and doubled slashes, as the kernel names a folder.
std::optional<std::filesystem::path> mountPointInOrBelow(const std::string& folder);

// The mount point of the volume that holds `path`: the longest mount point containing it
// ("/" when none does).
std::filesystem::path volumeOf(const std::filesystem::path& path, const std::vector<Volume>& volumes);

} // namespace corvalin
