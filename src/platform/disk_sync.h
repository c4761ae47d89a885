#pragma once

// Which file systems one syncfs puts on the disk.
namespace corvalin {

// True where the file system's own sync commits its journal and flushes the device, so that one
// syncfs covers every file written there. Elsewhere (FAT, exFAT, network and FUSE file systems,
// whose sync may stop short of the disk or do nothing) each file is flushed on its own. `type` is
// what statfs reports in f_type.
bool syncfsReachesDisk(unsigned long type);

} // namespace corvalin
