#include "work_disk.h"

#include <cstdio>
#include <linux/magic.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace corvalin::bench {

namespace fs = std::filesystem;

// ext4 without its journal skips every inode freed in the last minute when it makes a new one, and
// the bench frees 20,000-file trees between its rounds: the variants that make files (the Trash's)
// then wander by a factor of two. Users' disks have the journal.
void warnOfExt4WithoutJournal(const fs::path& work) {
    struct statfs disk {};
    struct stat folder {};
    if (::statfs(work.c_str(), &disk) != 0 || disk.f_type != EXT4_SUPER_MAGIC ||
        ::stat(work.c_str(), &folder) != 0)
        return;
    std::error_code error;
    const fs::path device = fs::read_symlink("/sys/dev/block/" + std::to_string(major(folder.st_dev)) + ":" +
                                                 std::to_string(minor(folder.st_dev)),
                                             error);
    if (error || fs::exists("/proc/fs/jbd2/" + device.filename().native() + "-8"))
        return;
    std::printf("Warning: %s lies on ext4 without a journal; figures of the variants that make files "
                "wander there. Measure on a disk with one (a loop mount of a fresh mkfs.ext4 will do).\n",
                work.c_str());
}

} // namespace corvalin::bench
