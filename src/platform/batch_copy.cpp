#include "platform/batch_copy.h"

#include "platform/file_ops.h"
#include "platform/move_temp_files.h"
#include "platform/paths.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace corvalin {

namespace {

// A name chosen for a rename can be taken by another program in the instant before the rename.
constexpr int kRenameAttempts = 100;

std::string tempStem(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    return (folder == "/" ? "" : folder) + "/" + std::string(kMoveTempPrefix) + std::to_string(::getpid()) +
           "-" + std::to_string(counter++);
}

// Absolute, so that a recovery started from another working folder finds the same file.
std::string absolutePath(const std::string& path) {
    return path.starts_with('/') ? path : joinPath(workingFolder(), path).native();
}

int writeRecord(BatchCopy& copy) {
    copy.recordFd = UniqueFd(::open(copy.record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!copy.recordFd.valid())
        return errno;
    const std::string source = absolutePath(copy.source);
    copy.sourceLength = source.size();
    const int error = writeAll(copy.recordFd.get(), source);
    ::sync_file_range(copy.recordFd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return error;
}

// The record's second field: where the copy is renamed to.
int writeRecordFinal(BatchCopy& copy) {
    const auto length = static_cast<off_t>(copy.sourceLength);
    if (::ftruncate(copy.recordFd.get(), length) != 0 || ::lseek(copy.recordFd.get(), length, SEEK_SET) < 0)
        return errno;
    return writeAll(copy.recordFd.get(), '\0' + absolutePath(copy.final));
}

// Fills the part with the source's bytes, its mode plus owner write, and its times.
int fillPart(int sourceFd, BatchCopy& copy) {
    copy.partFd = UniqueFd(::open(copy.part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!copy.partFd.valid())
        return errno;
    const int fd = copy.partFd.get();
    if (const int error = copyAll(sourceFd, fd))
        return error;
    struct stat copied {};
    if (::fstat(fd, &copied) != 0)
        return errno;
    if (copied.st_size != copy.before.st_size)
        return EIO; // the source changed while it was copied, or the copy came up short
    if (::fchmod(fd, (copy.before.st_mode & 0777) | S_IWUSR) != 0)
        return errno;
    const struct timespec times[2] = {copy.before.st_atim, copy.before.st_mtim};
    if (::futimens(fd, times) != 0)
        return errno;
    // Only a hint: writeback starts while the next file is read, so the wait at the end finds
    // little left to write.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
}

} // namespace

int makeCopy(BatchCopy& copy, const std::string& folder) {
    UniqueFd source(::open(copy.source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.valid())
        return errno;
    if (::fstat(source.get(), &copy.before) != 0)
        return errno;
    if (!S_ISREG(copy.before.st_mode))
        return EXDEV; // only files are copied across
    ::posix_fadvise(source.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::string stem = tempStem(folder);
    copy.record = stem + std::string(kRecordSuffix);
    copy.part = stem + std::string(kPartSuffix);
    if (const int error = writeRecord(copy))
        return error;
    return fillPart(source.get(), copy);
}

int removeSource(const BatchCopy& copy) {
    struct stat now {};
    if (::lstat(copy.source.c_str(), &now) != 0)
        return errno == ENOENT ? 0 : errno; // gone meanwhile: the copy is the file now
    const bool same = now.st_dev == copy.before.st_dev && now.st_ino == copy.before.st_ino &&
                      now.st_size == copy.before.st_size &&
                      now.st_mtim.tv_sec == copy.before.st_mtim.tv_sec &&
                      now.st_mtim.tv_nsec == copy.before.st_mtim.tv_nsec;
    if (!same)
        return kChangedSinceCopied;
    return unlinkUnlessGone(copy.source);
}

Error sourceError(const BatchCopy& copy, int error) {
    if (error == kChangedSinceCopied)
        return Error{kMoveText, copy.source, 0, "コピーの後に書き換えられたため、元の場所に残しました。"};
    return errorFromErrno(kMoveText, copy.source, error);
}

Status chooseFreeName(BatchCopy& copy, CopyNaming& naming, bool decided) {
    for (bool taken = false;; taken = true) {
        if (!decided) {
            auto final = naming.finalPathFor(copy.source, taken);
            if (!final)
                return final.error();
            copy.final = final.value().native();
        }
        decided = false;
        struct stat existing {};
        if (::lstat(copy.final.c_str(), &existing) != 0) {
            if (errno != ENOENT)
                return errorFromErrno(kMoveText, copy.source, errno);
            break;
        }
    }
    if (const int error = writeRecordFinal(copy))
        return errorFromErrno(kMoveText, copy.source, error);
    naming.copyNamed(copy.source);
    return {};
}

Status renameIntoPlace(BatchCopy& copy, CopyNaming& naming, int linkError) {
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        const int error = renameNoReplace(copy.part, copy.final);
        if (error == 0) {
            copy.named = true;
            return {};
        }
        // Neither hard links nor a rename that refuses to replace: nothing can be put here safely.
        if (error == EINVAL || error == ENOSYS)
            return errorFromErrno(kMoveText, copy.source, linkError);
        if (error != EEXIST)
            return errorFromErrno(kMoveText, copy.source, error);
        // Taken since it was chosen: a fresh name, on the disk in the record before the rename.
        if (Status chosen = chooseFreeName(copy, naming, false); !chosen)
            return chosen;
        if (::fdatasync(copy.recordFd.get()) != 0)
            return errorFromErrno(kMoveText, copy.source, errno);
    }
    return errorFromErrno(kMoveText, copy.source, EEXIST);
}

int unlinkUnlessGone(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

} // namespace corvalin
