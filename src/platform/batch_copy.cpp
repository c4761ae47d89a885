#include "platform/batch_copy.h"

#include "platform/absent_name.h"
#include "platform/file_ops.h"
#include "platform/move_temp_files.h"
#include "platform/paths.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h> // renameat2
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace corvalin {

namespace {

// A name chosen for a rename can be taken by another program in the instant before the rename.
constexpr int kRenameAttempts = 100;

std::string tempStem() {
    static std::atomic<unsigned> counter{0};
    return std::string(kMoveTempPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Absolute, so that a recovery started from another working folder finds the same file.
std::string absolutePath(const std::string& path) {
    return path.starts_with('/') ? path : joinPath(workingFolder(), path).native();
}

int writeRecord(BatchCopy& copy, const HeldFolder& destination) {
    Result<UniqueFd> fd = destination.createFile(copy.record);
    if (!fd)
        return fd.code();
    copy.recordFd = std::move(fd.value());
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
int fillPart(int sourceFd, BatchCopy& copy, const HeldFolder& destination) {
    Result<UniqueFd> part = destination.createFile(copy.part);
    if (!part)
        return part.code();
    copy.partFd = std::move(part.value());
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

std::string finalName(const BatchCopy& copy) {
    return ownName(copy.final);
}

} // namespace

int makeCopy(BatchCopy& copy, const HeldFolder& destination) {
    Result<UniqueFd> source = copy.sourceFolder->openForReading(copy.sourceName);
    if (!source)
        return source.code() == ELOOP ? EXDEV : source.code(); // a link is no file to copy
    if (::fstat(source.value().get(), &copy.before) != 0)
        return errno;
    if (!S_ISREG(copy.before.st_mode))
        return EXDEV; // only files are copied across
    ::posix_fadvise(source.value().get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::string stem = tempStem();
    copy.record = stem + std::string(kRecordSuffix);
    copy.part = stem + std::string(kPartSuffix);
    if (const int error = writeRecord(copy, destination))
        return error;
    return fillPart(source.value().get(), copy, destination);
}

int removeSource(const BatchCopy& copy) {
    struct stat now {};
    const int folder = copy.sourceFolder->fd();
    if (::fstatat(folder, copy.sourceName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno; // gone meanwhile: the copy is the file now
    const bool same = now.st_dev == copy.before.st_dev && now.st_ino == copy.before.st_ino &&
                      now.st_size == copy.before.st_size &&
                      now.st_mtim.tv_sec == copy.before.st_mtim.tv_sec &&
                      now.st_mtim.tv_nsec == copy.before.st_mtim.tv_nsec;
    if (!same)
        return kChangedSinceCopied;
    return unlinkUnlessGone(folder, copy.sourceName);
}

Error sourceError(const BatchCopy& copy, int error) {
    if (error == kChangedSinceCopied)
        return Error{kMoveText, copy.source, 0, "コピーの後に書き換えられたため、元の場所に残しました。"};
    return errorFromErrno(kMoveText, copy.source, error);
}

FileIdentity identityCopied(const BatchCopy& copy) {
    const struct stat& st = copy.before;
    return {static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

Status chooseFreeName(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming, bool decided) {
    for (bool taken = false;; taken = true) {
        if (!decided) {
            auto final = naming.finalPathFor(copy.source, identityCopied(copy), taken);
            if (!final)
                return final.error();
            copy.final = final.value().native();
        }
        decided = false;
        struct stat existing {};
        if (::fstatat(destination.fd(), finalName(copy).c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
            if (!lookupMeansAbsent(errno))
                return errorFromErrno(kMoveText, copy.source, errno);
            break;
        }
    }
    if (const int error = writeRecordFinal(copy))
        return errorFromErrno(kMoveText, copy.source, error);
    naming.copyNamed(copy.source);
    return {};
}

Status renameIntoPlace(BatchCopy& copy, const HeldFolder& destination, CopyNaming& naming, int linkError) {
    const int folder = destination.fd();
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        const int error =
            ::renameat2(folder, copy.part.c_str(), folder, finalName(copy).c_str(), RENAME_NOREPLACE) == 0
                ? 0
                : errno;
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
        if (Status chosen = chooseFreeName(copy, destination, naming, false); !chosen)
            return chosen;
        if (::fdatasync(copy.recordFd.get()) != 0)
            return errorFromErrno(kMoveText, copy.source, errno);
    }
    return errorFromErrno(kMoveText, copy.source, EEXIST);
}

int unlinkUnlessGone(int folder, const std::string& name) {
    return name.empty() || ::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
}

} // namespace corvalin
