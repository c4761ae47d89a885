#pragma once

#include "platform/disk_kind.h"
#include "platform/held_folder.h"
#include "platform/result.h"

#include <string>

// The disk a destination lies on, tried once when the run (or its plan) first meets the
// destination: a stick or a network mount may have no way to name a picture that never replaces
// another file, and a run that found that out at its first picture would already have removed the
// files before it.
namespace corvalin {

// The way the run puts a picture under its new name there: within one file system a rename that
// refuses to replace (a link where there is none), across file systems a copy linked to its name
// (renamed where there are no links). None where the disk has neither.
NamingWay runNamingWay(const NamingProbe& probe, bool acrossFileSystems);

// Probes the held destination (a hidden file created and removed at once) and refuses it, before
// anything is touched, when pictures could never be named there without risk of replacing one.
Result<DiskProfile> checkDestinationDisk(const HeldFolder& destination);

// Why such a destination is refused, for the user.
std::string noNamingWayText(const DiskNameRules& rules);

} // namespace corvalin
