// The batch's side of copies written under their final names; exclusive_copy.h gives the steps and
// what a cut between any two of them leaves.
#include "platform/exclusive_copy.h"

#include "platform/move_temp_files.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace {

// A name chosen for a copy can be taken by another program in the instant before its create.
constexpr int kCreateAttempts = 100;

int writeAt(int fd, std::size_t offset, const std::string& bytes) {
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        return errno;
    return writeAll(fd, bytes);
}

// The record's third field: what the source was, so that the next start knows a source changed
// since from a copy cut short.
std::string sourceStampField(const BatchCopy& copy) {
    const struct stat& st = copy.before;
    return std::string(1, '\0') + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + " " +
           std::to_string(st.st_mtim.tv_nsec);
}

// A free final name in the record after the source: its final path and what the source was. A
// shorter record than before is padded with NULs, never cut: some FUSE disks refuse a truncation.
Status recordFreeName(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming) {
    if (Status picked = pickFreeName(copy, destination, naming); !picked)
        return picked;
    std::string fields = '\0' + copy.final + sourceStampField(copy);
    const std::size_t length = copy.sourceLength + fields.size();
    if (length < copy.recordLength)
        fields.resize(copy.recordLength - copy.sourceLength, '\0');
    if (const int error = writeAt(copy.recordFd.get(), copy.sourceLength, fields))
        return errorFromErrno(kMoveText, copy.source, error);
    copy.recordLength = std::max(length, copy.recordLength);
    naming.copyNamed(copy.source);
    return {};
}

// Step 2 for as many copies as `naming` lets go: `end` receives how many have their record.
Status recordNames(std::vector<BatchCopy>& copies, const HeldFolder& destination, CopyNaming& naming,
                   std::size_t& end) {
    for (end = 0; end < copies.size(); ++end) {
        if (naming.namingStopped())
            return {};
        if (Status paced = naming.keepPace(); !paced)
            return paced;
        BatchCopy& copy = copies[end];
        if (const int error = writeSourceRecord(copy, destination))
            return errorFromErrno(kMoveText, copy.source, error);
        if (Status recorded = recordFreeName(copy, destination, naming); !recorded)
            return recorded;
    }
    return {};
}

// Step 3: the records and their names on the disk before any final name is created.
Status flushRecords(const std::vector<BatchCopy>& copies, std::size_t end, const HeldFolder& destination,
                    bool flushEach) {
    if (!flushEach && ::syncfs(destination.fd()) == 0)
        return {};
    for (std::size_t i = 0; i < end; ++i) {
        if (::fdatasync(copies[i].recordFd.get()) != 0)
            return errorFromErrno(kMoveText, copies[i].source, errno);
    }
    if (Status flushed = destination.flush(); !flushed)
        return errorFromErrno(kMoveText, destination.path(), flushed.code());
    return {};
}

// Step 4's create: the final name made exclusively, a taken one replaced by a fresh one that is on
// the disk in the record before it is tried; then the record's durable mark that this program made
// it.
Status createFinalName(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming) {
    for (int attempt = 0; attempt < kCreateAttempts && !copy.created; ++attempt) {
        Result<UniqueFd> made = destination.createFile(ownName(copy.final));
        if (made) {
            copy.partFd = std::move(made.value());
            copy.created = true;
            break;
        }
        if (made.code() != EEXIST)
            return errorFromErrno(kMoveText, copy.source, made.code());
        if (Status chosen = recordFreeName(copy, destination, naming); !chosen)
            return chosen;
        if (::fdatasync(copy.recordFd.get()) != 0)
            return errorFromErrno(kMoveText, copy.source, errno);
    }
    if (!copy.created)
        return errorFromErrno(kMoveText, copy.source, EEXIST);
    const std::string mark = '\0' + std::string(kMadeMark);
    if (const int error = writeAt(copy.recordFd.get(), copy.recordLength, mark))
        return errorFromErrno(kMoveText, copy.source, error);
    if (::fdatasync(copy.recordFd.get()) != 0)
        return errorFromErrno(kMoveText, copy.source, errno);
    return {};
}

// Step 4 for one copy.
Status writeCopy(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming) {
    if (Status paced = naming.keepPace(); !paced)
        return paced;
    if (Status created = createFinalName(copy, destination, naming); !created)
        return created;
    if (const int error = fillCopy(copy.sourceFd.get(), copy))
        return errorFromErrno(kMoveText, copy.source, error);
    return {};
}

// Step 5 for copies [0, end).
Status flushFinalNames(std::vector<BatchCopy>& copies, std::size_t end, const HeldFolder& destination,
                       bool flushEach) {
    if (!flushEach && end > 0 && ::syncfs(destination.fd()) == 0)
        return {};
    for (std::size_t i = 0; i < end; ++i) {
        if (::fdatasync(copies[i].partFd.get()) != 0)
            return errorFromErrno(kMoveText, copies[i].source, errno);
    }
    return {};
}

} // namespace

int openExclusiveSource(BatchCopy& copy) {
    if (const int error = openSource(copy))
        return error;
    copy.underFinalName = true;
    copy.record = freshTempStem() + std::string(kIntoSuffix);
    return 0;
}

Status writeUnderFinalNames(std::vector<BatchCopy>& copies, const HeldFolder& destination, CopyNaming& naming,
                            bool flushEach) {
    std::size_t end = 0;
    Status status = recordNames(copies, destination, naming, end);
    if (end == 0)
        return status;
    if (Status durable = flushRecords(copies, end, destination, flushEach); !durable)
        return durable;
    // A stop while the names were chosen still lets the copies recorded by then arrive.
    std::size_t written = 0;
    for (; written < end; ++written) {
        if (Status step = writeCopy(copies[written], destination, naming); !step) {
            status = status ? step : status;
            break;
        }
    }
    if (Status flushed = flushFinalNames(copies, written, destination, flushEach); !flushed)
        return flushed;
    for (std::size_t i = 0; i < written; ++i) {
        copies[i].named = true;
        copies[i].sourceFd.close();
    }
    return status;
}

} // namespace corvalin
