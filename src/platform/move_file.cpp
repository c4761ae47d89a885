// Moving a file without ever replacing one, and finishing moves that were cut off.
//
// Across file systems a move is a copy, made in a batch of one (cross_device_batch.cpp describes
// the steps and the hidden files they leave at each instant). The recovery below keeps the promise
// that a kill or a power loss at any step cannot break: once the leftovers have been recovered, the
// file exists exactly once with its bytes unchanged, and nothing cut short sits under a final name.
#include "platform/file_ops.h"

#include "platform/cross_device_batch.h"
#include "platform/interrupted_moves.h"
#include "platform/move_temp_files.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const recoverText = "中断された移動の後始末";

// The one name a single move may take; a taken name fails it.
class FixedName : public CopyNaming {
public:
    FixedName(fs::path from, fs::path to) : m_from(std::move(from)), m_to(std::move(to)) {}
    Result<fs::path> finalPathFor(const fs::path&, bool taken) override {
        if (taken)
            return errorFromErrno(kMoveText, m_from, EEXIST);
        return m_to;
    }
    void copyNamed(const fs::path&) override {}

private:
    fs::path m_from;
    fs::path m_to;
};

Status moveAcross(const fs::path& from, const fs::path& to) {
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0)
        return errorFromErrno(kMoveText, from, EEXIST); // saves a copy that could never be named
    // For one file its own flushes wait for less than a whole file system's.
    CrossDeviceBatch batch(folderOf(to.native()), {.count = 1, .flush = BatchFlush::EachFile});
    if (Status added = batch.add(from); !added)
        return added;
    FixedName naming(from, to);
    return batch.commit(naming);
}

} // namespace

Status moveNoReplace(const fs::path& from, const fs::path& to) {
    int error = renameNoReplace(from.native(), to.native());
    if (error == EINVAL || error == ENOSYS)
        error = linkThenUnlink(from.native(), to.native());
    else if (error == EXDEV)
        return moveAcross(from, to);
    if (error != 0)
        return errorFromErrno(kMoveText, from, error);
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

// The other name of a copy that was linked into place: the entry of the folder that is the same
// file as its part. Looked up once per folder, and only when a finished copy needs it.
class LinkedNames {
public:
    LinkedNames(int folderFd, const std::vector<std::string>& names) : m_fd(folderFd), m_names(names) {}

    std::string nameOf(const struct stat& part) {
        if (!m_read) {
            m_read = true;
            for (const std::string& name : m_names) {
                struct stat st {};
                if (!name.starts_with(kMoveTempPrefix) &&
                    ::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
                    m_byInode.emplace_back(st.st_ino, name);
            }
        }
        for (const auto& [inode, name] : m_byInode) {
            if (inode == part.st_ino)
                return name;
        }
        return {};
    }

private:
    int m_fd;
    const std::vector<std::string>& m_names;
    bool m_read = false;
    std::vector<std::pair<ino_t, std::string>> m_byInode;
};

// What one interrupted move, given its record and part paths, comes to.
int judgeOne(const std::string& folder, InterruptedMove& move, LinkedNames& linked) {
    std::string source;
    if (UniqueFd fd(::open(move.record.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)); fd.valid()) {
        if (const int error = readAll(fd.get(), source, 1 << 16))
            return error;
    } else if (errno != ENOENT) {
        return errno;
    }
    const std::size_t separator = source.find('\0');
    std::string final = separator == std::string::npos ? std::string() : source.substr(separator + 1);
    source.resize(std::min(separator, source.size()));
    move.source = source;
    struct stat st {};
    const bool partExists = ::lstat(move.part.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    // A part linked into place, or renamed there, is a finished copy: the source is the one to go,
    // but only when it still holds exactly those bytes. An unlinked part is an unfinished copy of a
    // source that is still there.
    const bool finished = !source.empty() && (partExists ? st.st_nlink >= 2 && sameContent(move.part, source)
                                                         : !final.empty() && sameContent(final, source));
    if (!finished)
        return 0;
    move.finishes = true;
    if (partExists) {
        const std::string name = linked.nameOf(st);
        final = name.empty() ? std::string() : joinPath(folder, name).native();
    }
    move.final = final;
    if (const Result<FileIdentity> identity = identityOf(final); identity && !final.empty())
        move.copyIdentity = identity.value();
    return 0;
}

} // namespace

Result<std::vector<InterruptedMove>> findInterruptedMoves(const fs::path& folder) {
    std::vector<std::string> names;
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (const int error = fd.valid() ? readFolderNames(fd.get(), names) : errno)
        return errorFromErrno(recoverText, folder, error);
    std::vector<std::string> stems;
    for (const std::string& name : names) {
        if (name.starts_with(kMoveTempPrefix) &&
            (name.ends_with(kRecordSuffix) || name.ends_with(kPartSuffix)) &&
            !ownerStillRunning(pidInTempName(name, kMoveTempPrefix.size())))
            stems.push_back(name.substr(0, name.size() - kRecordSuffix.size()));
    }
    std::sort(stems.begin(), stems.end());
    stems.erase(std::unique(stems.begin(), stems.end()), stems.end());
    // A part without a record (its record was lost with a power cut) is handled like an unlinked
    // part: removing it only removes a second name or an unfinished copy.
    std::vector<InterruptedMove> moves;
    LinkedNames linked(fd.get(), names);
    for (const std::string& stem : stems) {
        const std::string path = joinPath(folder, stem).native();
        InterruptedMove move;
        move.record = path + std::string(kRecordSuffix);
        move.part = path + std::string(kPartSuffix);
        if (const int error = judgeOne(folder.native(), move, linked))
            return errorFromErrno(recoverText, move.record, error);
        moves.push_back(std::move(move));
    }
    return moves;
}

Status settleInterruptedMove(const InterruptedMove& move) {
    int error = move.finishes ? unlinkUnlessGone(move.source) : 0;
    if (error == 0)
        error = unlinkUnlessGone(move.part);
    if (error == 0)
        error = unlinkUnlessGone(move.record);
    return error == 0 ? Status() : errorFromErrno(recoverText, move.record, error);
}

Status recoverInterruptedMoves(const fs::path& folder) {
    const Result<std::vector<InterruptedMove>> moves = findInterruptedMoves(folder);
    if (!moves)
        return moves.error();
    for (const InterruptedMove& move : moves.value()) {
        if (Status settled = settleInterruptedMove(move); !settled)
            return settled;
    }
    return {};
}

} // namespace corvalin
