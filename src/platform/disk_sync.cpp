#include "platform/disk_sync.h"

#include <linux/magic.h>

namespace corvalin {

bool syncfsReachesDisk(unsigned long type) {
    switch (type) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    default:
        return false;
    }
}

} // namespace corvalin
