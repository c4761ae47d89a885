// Moving a file without ever replacing one, and finishing moves that were cut off.
//
// Across file systems a move is a copy, and a copy can be cut off at any instant. The protocol
// below keeps one promise through a kill or a power loss at any step: once the leftovers have
// been recovered, the picture exists exactly once with its bytes unchanged, and nothing cut short
// sits under a final name.
//
//   1. <dest>/.corvalin-<pid>-<n>.from records the source path (flushed).
//   2. <dest>/.corvalin-<pid>-<n>.part receives the bytes, mode and times (flushed).
//   3. The part is hard-linked to the final name, which fails rather than replace; the folder is
//      flushed so that the name survives a power loss before the source goes. A file system
//      without hard links (FAT, exFAT: most memory cards) gets a rename that refuses to replace
//      instead; the record names the final file too, so a recovery still knows the copy was whole.
//   4. The source is removed, then the part, then the record.
#include "platform/file_ops.h"

#include "platform/paths.h"
#include "platform/posix_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const moveText = "ファイルの移動";
const char* const recoverText = "中断された移動の後始末";
const std::string tempPrefix = ".corvalin-";

struct TempNames {
    std::string folder;
    std::string record;
    std::string part;
};

TempNames tempNamesFor(const std::string& to) {
    static std::atomic<unsigned> counter{0};
    TempNames names;
    names.folder = folderOf(to);
    const std::string stem = (names.folder == "/" ? "" : names.folder) + "/" + tempPrefix +
                             std::to_string(::getpid()) + "-" + std::to_string(counter++);
    names.record = stem + ".from";
    names.part = stem + ".part";
    return names;
}

// Absolute, so that a recovery started from another working folder finds the same file.
std::string absolute(const std::string& path) {
    return path.starts_with('/') ? path : joinPath(workingFolder(), path).native();
}

// The record: the source path, a NUL (no path holds one), the final path.
int writeRecord(const std::string& record, const std::string& source, const std::string& final) {
    UniqueFd fd(::open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid())
        return errno;
    int error = writeAll(fd.get(), absolute(source) + '\0' + absolute(final));
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = errno;
    if (error == 0)
        error = fd.close();
    return error;
}

// Fills the part with the source's bytes, its mode plus owner write, and its times, on disk.
int fillPart(int sourceFd, const struct stat& source, const std::string& part) {
    UniqueFd fd(::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid())
        return errno;
    if (const int error = copyAll(sourceFd, fd.get()))
        return error;
    struct stat copied {};
    if (::fstat(fd.get(), &copied) != 0)
        return errno;
    if (copied.st_size != source.st_size)
        return EIO; // the source changed while it was copied, or the copy came up short
    if (::fchmod(fd.get(), (source.st_mode & 0777) | S_IWUSR) != 0)
        return errno;
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::futimens(fd.get(), times) != 0)
        return errno;
    if (::fsync(fd.get()) != 0)
        return errno;
    return fd.close();
}

// Step 3: the part under its final name, never replacing a file.
int placePart(const std::string& part, const std::string& to) {
    if (::link(part.c_str(), to.c_str()) == 0)
        return 0;
    const int linkError = errno;
    if (linkError != EPERM && linkError != EOPNOTSUPP && linkError != ENOSYS)
        return linkError;
    // No hard links here; a rename that cannot refuse to replace is no way out either.
    const int renameError = renameNoReplace(part, to);
    return renameError == EINVAL || renameError == ENOSYS ? linkError : renameError;
}

// Steps 3 and 4 once the part is complete. On failure the final name is gone again.
int publishPart(const TempNames& names, const std::string& from, const std::string& to) {
    if (const int error = placePart(names.part, to))
        return error;
    int error = syncFolder(names.folder);
    if (error == 0 && ::unlink(from.c_str()) != 0 && errno != ENOENT)
        error = errno;
    if (error != 0)
        ::unlink(to.c_str()); // the source is still there: the picture must not exist twice
    return error;
}

int copyAcross(const std::string& from, const std::string& to) {
    UniqueFd sourceFd(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!sourceFd.valid())
        return errno;
    struct stat source {};
    if (::fstat(sourceFd.get(), &source) != 0)
        return errno;
    if (!S_ISREG(source.st_mode))
        return EXDEV; // only files are copied across
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0)
        return EEXIST; // saves a copy that could never be linked
    const TempNames names = tempNamesFor(to);
    int error = writeRecord(names.record, from, to);
    if (error == 0)
        error = fillPart(sourceFd.get(), source, names.part);
    if (error == 0)
        error = publishPart(names, from, to);
    ::unlink(names.part.c_str());
    ::unlink(names.record.c_str());
    return error;
}

} // namespace

Status moveNoReplace(const fs::path& from, const fs::path& to) {
    int error = renameNoReplace(from.native(), to.native());
    if (error == EINVAL || error == ENOSYS)
        error = linkThenUnlink(from.native(), to.native());
    else if (error == EXDEV)
        error = copyAcross(from.native(), to.native());
    if (error != 0)
        return errorFromErrno(moveText, from, error);
    return {};
}

namespace {

// True when `b` is another file holding the same bytes as `a`.
bool sameContent(const std::string& a, const std::string& b) {
    UniqueFd fa(::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd fb(::open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat sa {};
    struct stat sb {};
    if (!fa.valid() || !fb.valid() || ::fstat(fa.get(), &sa) != 0 || ::fstat(fb.get(), &sb) != 0)
        return false;
    if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size)
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return false; // a second name of the same file is no copy of it
    static constexpr std::size_t chunk = 1 << 16;
    std::string bufferA(chunk, '\0');
    std::string bufferB(chunk, '\0');
    for (;;) {
        const ssize_t gotA = readFull(fa.get(), bufferA.data(), chunk);
        if (gotA < 0 || readFull(fb.get(), bufferB.data(), chunk) != gotA)
            return false;
        if (gotA == 0)
            return true;
        if (bufferA.compare(0, gotA, bufferB, 0, gotA) != 0)
            return false;
    }
}

int unlinkUnlessGone(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

// Finishes or undoes one interrupted move, given its record and part paths.
int recoverOne(const std::string& record, const std::string& part) {
    std::string source;
    if (UniqueFd fd(::open(record.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)); fd.valid()) {
        if (const int error = readAll(fd.get(), source, 1 << 16))
            return error;
    } else if (errno != ENOENT) {
        return errno;
    }
    const std::size_t separator = source.find('\0');
    const std::string final = separator == std::string::npos ? std::string() : source.substr(separator + 1);
    source.resize(std::min(separator, source.size()));
    struct stat st {};
    const bool partExists = ::lstat(part.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    // A part linked into place, or renamed there, is a finished copy: the source is the one to go,
    // but only when it still holds exactly those bytes. An unlinked part is an unfinished copy of a
    // source that is still there.
    const bool finished = partExists ? st.st_nlink >= 2 && sameContent(part, source)
                                     : !final.empty() && sameContent(final, source);
    if (finished && !source.empty()) {
        if (const int error = unlinkUnlessGone(source))
            return error;
    }
    if (const int error = unlinkUnlessGone(part))
        return error;
    return unlinkUnlessGone(record);
}

} // namespace

Status recoverInterruptedMoves(const fs::path& folder) {
    std::vector<std::string> names;
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (const int error = fd.valid() ? readFolderNames(fd.get(), names) : errno)
        return errorFromErrno(recoverText, folder, error);
    std::vector<std::string> stems;
    for (const std::string& name : names) {
        if (name.starts_with(tempPrefix) && (name.ends_with(".from") || name.ends_with(".part")) &&
            !ownerStillRunning(pidInTempName(name, tempPrefix.size())))
            stems.push_back(name.substr(0, name.size() - 5));
    }
    std::sort(stems.begin(), stems.end());
    stems.erase(std::unique(stems.begin(), stems.end()), stems.end());
    // A part without a record (its record was lost with a power cut) is handled like an unlinked
    // part: removing it only removes a second name or an unfinished copy.
    for (const std::string& stem : stems) {
        const std::string path = joinPath(folder, stem).native();
        if (const int error = recoverOne(path + ".from", path + ".part"))
            return errorFromErrno(recoverText, joinPath(folder, stem + ".from"), error);
    }
    return {};
}

} // namespace corvalin
