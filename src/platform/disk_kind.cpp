#include "platform/disk_kind.h"

#include <array>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvalin {

namespace {

enum class Family { Other, Fat, ExFat, Ntfs, WindowsBlock, Smb };

struct KnownType {
    std::string_view type;
    Family family;
};

// The kernel's own drivers and the FUSE ones under the names their mounts carry. "fuseblk" is a
// FUSE driver on a block device: exfat-fuse and ntfs-3g mount as that.
constexpr std::array kKnownTypes = {
    KnownType{"vfat", Family::Fat},          KnownType{"msdos", Family::Fat},
    KnownType{"fat", Family::Fat},           KnownType{"fuse.fusefat", Family::Fat},
    KnownType{"exfat", Family::ExFat},       KnownType{"fuse.exfat", Family::ExFat},
    KnownType{"ntfs", Family::Ntfs},         KnownType{"ntfs3", Family::Ntfs},
    KnownType{"fuse.ntfs-3g", Family::Ntfs}, KnownType{"fuseblk", Family::WindowsBlock},
    KnownType{"cifs", Family::Smb},          KnownType{"smb3", Family::Smb},
    KnownType{"smbfs", Family::Smb}};

Family familyOf(std::string_view type) {
    for (const KnownType& known : kKnownTypes) {
        if (known.type == type)
            return known.family;
    }
    return Family::Other;
}

} // namespace

DiskNameRules rulesForFileSystemType(std::string_view type) {
    DiskNameRules rules;
    rules.fileSystemType = type;
    rules.kindName = type;
    const Family family = familyOf(type);
    if (family == Family::Other)
        return rules;
    // Every one of them is a disk made for Windows or served by it: its names must work there.
    rules.windowsNames = true;
    rules.utf16Names = true;
    switch (family) {
    case Family::Fat:
        rules.kindName = "FAT";
        rules.caseInsensitive = true;
        rules.largestFile = kFatLargestFile;
        break;
    case Family::ExFat:
        rules.kindName = "exFAT";
        rules.caseInsensitive = true;
        break;
    case Family::Ntfs:
        rules.kindName = "NTFS";
        break;
    case Family::Smb:
        rules.kindName = "SMB";
        break;
    default:
        break;
    }
    return rules;
}

DiskNameRules rulesForDisk(std::string_view type, const NamingProbe& probe) {
    DiskNameRules rules = rulesForFileSystemType(type);
    // exfat-fuse folds letter case, ntfs-3g keeps it: the one name the user can tell them by.
    if (familyOf(type) == Family::WindowsBlock)
        rules.kindName = probe.caseInsensitive ? "exFAT" : "NTFS";
    rules.windowsNames = rules.windowsNames || probe.refusesWindowsCharacters;
    rules.utf16Names = rules.utf16Names || probe.refusesNonUtf8;
    rules.asciiNames = rules.asciiNames || probe.refusesNonAscii;
    rules.caseInsensitive = rules.caseInsensitive || probe.caseInsensitive;
    return rules;
}

Result<DiskProfile> profileDisk(int folderFd, const std::filesystem::path& shown) {
    Result<NamingProbe> probe = probeNaming(folderFd, shown);
    if (!probe)
        return probe.error();
    DiskProfile profile;
    profile.probe = probe.value();
    const MountEntry mount = mountEntryOf(folderFd);
    profile.rules = rulesForDisk(mount.fileSystemType, profile.probe);
    profile.mountPoint = mount.mountPoint;
    const long longest = ::fpathconf(folderFd, _PC_NAME_MAX);
    profile.longestName = longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX;
    profile.copyWay = copyNamingWay(profile.probe);
    return profile;
}

MountEntry mountEntryIn(const std::vector<MountEntry>& entries, int mountId, dev_t device) {
    MountEntry byDevice;
    for (const MountEntry& entry : entries) {
        if (mountId != 0 && entry.id == mountId)
            return entry;
        // Later lines win: a file system mounted over another hides it.
        if (::makedev(entry.major, entry.minor) == device)
            byDevice = entry;
    }
    return byDevice;
}

std::string fileSystemTypeIn(const std::vector<MountEntry>& entries, int mountId, dev_t device) {
    return mountEntryIn(entries, mountId, device).fileSystemType;
}

MountEntry mountEntryOf(int folderFd) {
    struct statx info {};
    if (::statx(folderFd, "", AT_EMPTY_PATH, STATX_MNT_ID, &info) != 0)
        return {};
    std::string text;
    if (!readMountInfo(text))
        return {};
    const int mountId = (info.stx_mask & STATX_MNT_ID) ? static_cast<int>(info.stx_mnt_id) : 0;
    return mountEntryIn(parseMountEntries(text), mountId, ::makedev(info.stx_dev_major, info.stx_dev_minor));
}

std::string fileSystemTypeOf(int folderFd) {
    return mountEntryOf(folderFd).fileSystemType;
}

} // namespace corvalin
