// How a move run tells a failure to put a picture into the destination, and the commits of its
// batches of copies, whose failures are told the same way.
#include "engine/move_run.h"

#include "engine/disk_trouble.h"
#include "platform/file_ops.h"
#include "platform/folder_limits.h"

#include <cerrno>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// A failed move names the folder that refused it: the destination when the fault lies there (gone,
// full, read-only, closed to this user), after the picture it could not take; the picture's own
// folder when that may not be changed; else the picture. Only the move's own failures are retold:
// one of the journal or the counter file says where the fault truly lies.
Error moveError(const Status& moved, const fs::path& destination) {
    const Error& failed = moved.error();
    if (failed.operation != kMoveText)
        return failed;
    const int code = moved.code();
    const auto intoDestination = [&](int reason) {
        Error error = errorFromErrno(kMoveIntoText, destination, reason);
        if (failed.path != destination)
            error.file = failed.path;
        return error;
    };
    if (code == ENOSPC || code == EDQUOT || code == EFBIG || code == EROFS || !isFolder(destination))
        return intoDestination(code);
    if (code == EACCES || code == EPERM) {
        if (const int refusal = folderWriteRefusal(destination))
            return intoDestination(refusal);
        const fs::path folder = failed.path.parent_path();
        if (folderWriteRefusal(folder) != 0)
            return errorFromErrno(kMoveOutOfText, folder, code);
    }
    return failed;
}

} // namespace

// The copies waiting in the batch named and their sources removed; `status` is what stopped the
// folder, if anything did, and is the failure reported before the commit's own.
Status MoveRun::commitCopies(Status status) {
    const fs::path destination = m_crossDeviceMoves.destination();
    Status committed = m_crossDeviceMoves.commit();
    m_copyRecords.clear();
    const auto sizes = std::exchange(m_copySizes, {});
    if (!status)
        return status;
    if (committed)
        return committed;
    const auto size = sizes.find(committed.error().path.native());
    return moveFailure(committed, destination, size == sizes.end() ? 0 : size->second);
}

// A failure to put a picture into the destination, told as the destination's disk explains it: gone,
// full, or a folder that can take no more entries.
Error MoveRun::moveFailure(const Status& moved, const fs::path& destination,
                           std::uint64_t pictureSize) const {
    Error error = moveError(moved, destination);
    // The picture's own folder refused it: the destination's disk has nothing to explain.
    if (moved.error().operation != kMoveText || error.operation == kMoveOutOfText || !m_destination ||
        !m_destinationDisk)
        return error;
    const DiskAnswer answer = askDisk(m_destination->fd());
    const DiskFault fault = diskFaultOf(moved.code(), answer, pictureSize, m_destinationDisk->rules);
    return explainDiskFault(std::move(error), fault, *m_destinationDisk, destination, moved.error().path);
}

// Copies of finished folders still waiting in a batch, named and their records flushed as at the
// end of a folder.
Status MoveRun::commitCarriedCopies() {
    if (m_crossDeviceMoves.pending() == 0)
        return {};
    if (Status committed = commitCopies({}); !committed)
        return committed;
    return m_layer->keepPace();
}

} // namespace corvalin
