#pragma once

#include "platform/result.h"

#include <filesystem>

// How names can be made in a folder without ever replacing a file, found out by trying: a hidden
// probe file is created there and removed at once, before anything else is touched. Memory cards
// and sticks (FAT, exFAT), Windows disks and network or FUSE mounts each allow other ways, and the
// mount table does not say which.
namespace corvalin {

struct NamingProbe {
    bool exclusiveCreate = false; // O_CREAT | O_EXCL refuses a name that is taken
    bool hardLinks = false;       // link() gives a file a second name
    // The second name shows as the same file with two links. A recovery tells a finished copy by
    // that; where it does not show (sshfs), links are no way to name copies.
    bool linksShown = false;
    bool renameNoReplace = false; // renameat2 with RENAME_NOREPLACE
    bool caseInsensitive = false; // "a" and "A" are one name
    // Names the disk refused to create: bytes that are not UTF-8 (CP932 names), any character
    // beyond ASCII, the characters Windows keeps out of names (" * : < > ? \ |).
    bool refusesNonUtf8 = false;
    bool refusesNonAscii = false;
    bool refusesWindowsCharacters = false;
};

// The ways a copy from another disk can be put under its final name, best first.
enum class NamingWay {
    None,            // no way that never replaces: the disk is refused
    HardLink,        // the copy, whole under a hidden name, linked to its final name
    RenameNoReplace, // the copy, whole under a hidden name, renamed to its final name
    ExclusiveCreate  // the copy written under its final name, created exclusively
};

// The way a copy from another disk takes.
NamingWay copyNamingWay(const NamingProbe& probe);

// Tries the ways in the open folder `folderFd` (`shown` names it in an error). Fails, with the
// system's reason, only where no file can be created there at all (read-only, no permission, full)
// or a removal of a probe file fails. Every probe file is named ".corvalin-<pid>-<n>.probe...", so
// that a later start removes what a kill left (removeLeftoverProbes).
Result<NamingProbe> probeNaming(int folderFd, const std::filesystem::path& shown);

// Removes the probe files that a killed process left in the open folder; those of an instance still
// running stay.
Status removeLeftoverProbes(int folderFd, const std::filesystem::path& shown);

} // namespace corvalin
