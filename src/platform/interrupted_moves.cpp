// Finishing the moves across file systems that were cut off. The recovery keeps the promise that a
// kill or a power loss at any step of a batch (cross_device_batch.cpp) cannot break: once the
// leftovers have been recovered, the file exists exactly once with its bytes unchanged, and nothing
// cut short sits under a final name. The hidden files are reached by their names in the destination,
// held; each source by its name in its own folder.
#include "platform/interrupted_moves.h"

#include "platform/absent_name.h"
#include "platform/exclusive_copy.h"
#include "platform/file_ops.h"
#include "platform/move_temp_files.h"
#include "platform/naming_probe.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const recoverText = "中断された移動の後始末";

FileIdentity identityFrom(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// What a copy `b` is of its source `a`, read from the start of each.
enum class CopyVerdict {
    Whole, // another file holding the same bytes
    Cut,   // no longer than the source, and every byte the source's or a zero: what a cut leaves
    Other,
};

// `bInfo` receives what `b` is.
CopyVerdict judgeCopy(int a, int b, struct stat& bInfo) {
    struct stat sa {};
    if (::fstat(a, &sa) != 0 || ::fstat(b, &bInfo) != 0)
        return CopyVerdict::Other;
    if (!S_ISREG(sa.st_mode) || !S_ISREG(bInfo.st_mode) || bInfo.st_size > sa.st_size)
        return CopyVerdict::Other;
    if (sa.st_dev == bInfo.st_dev && sa.st_ino == bInfo.st_ino)
        return CopyVerdict::Other; // a second name of the same file is no copy of it
    static constexpr std::size_t chunk = 1 << 16;
    std::string bufferA(chunk, '\0');
    std::string bufferB(chunk, '\0');
    bool equal = sa.st_size == bInfo.st_size;
    for (;;) {
        const ssize_t gotA = readFull(a, bufferA.data(), chunk);
        const ssize_t gotB = readFull(b, bufferB.data(), chunk);
        if (gotA < 0 || gotB < 0 || gotB > gotA)
            return CopyVerdict::Other;
        if (gotB == 0)
            return equal ? CopyVerdict::Whole : CopyVerdict::Cut;
        for (ssize_t i = 0; i < gotB; ++i) {
            if (bufferB[i] != bufferA[i]) {
                if (bufferB[i] != '\0')
                    return CopyVerdict::Other;
                equal = false;
            }
        }
    }
}

// The source a record names, opened for reading in its folder without following a link.
UniqueFd openSource(const std::string& source) {
    const Result<HeldFolder> folder = HeldFolder::open(folderOf(source));
    if (!folder)
        return UniqueFd();
    Result<UniqueFd> fd = folder.value().openForReading(ownName(source));
    return fd ? std::move(fd.value()) : UniqueFd();
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

// The record's two fields: the source, and the final path once the copy was to be renamed there.
int readRecord(const HeldFolder& folder, const std::string& name, std::string& source, std::string& final) {
    Result<UniqueFd> fd = folder.openForReading(name);
    if (!fd)
        return fd.code() == ENOENT ? 0 : fd.code();
    if (const int error = readAll(fd.value().get(), source, 1 << 16))
        return error;
    const std::size_t separator = source.find('\0');
    final = separator == std::string::npos ? std::string() : source.substr(separator + 1);
    source.resize(std::min(separator, source.size()));
    return 0;
}

// What one interrupted move, given the names of its record and part, comes to. A part linked into
// place, or renamed there, is a finished copy: the source is the one to go, but only when it still
// holds exactly those bytes. An unlinked part is an unfinished copy of a source that is still there.
int judgeOne(const HeldFolder& folder, const std::string& stem, InterruptedMove& move, LinkedNames& linked) {
    const std::string record = stem + std::string(kRecordSuffix);
    const std::string part = stem + std::string(kPartSuffix);
    move.record = folder.pathOf(record);
    move.part = folder.pathOf(part);
    std::string source;
    std::string final;
    if (const int error = readRecord(folder, record, source, final))
        return error;
    move.source = source;
    if (source.empty() || !source.starts_with('/'))
        return 0;
    struct stat st {};
    const bool partExists =
        ::fstatat(folder.fd(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    // The copy is in this folder whatever path its record gives for it.
    const std::string finalName = partExists      ? linked.nameOf(st)
                                  : final.empty() ? std::string()
                                                  : ownName(final);
    if (partExists && st.st_nlink < 2)
        return 0;
    if (!partExists && finalName.empty())
        return 0;
    Result<UniqueFd> copy = folder.openForReading(partExists ? part : finalName);
    const UniqueFd original = copy ? openSource(source) : UniqueFd();
    struct stat copyInfo {};
    const CopyVerdict verdict =
        original.valid() ? judgeCopy(original.get(), copy.value().get(), copyInfo) : CopyVerdict::Other;
    if (verdict == CopyVerdict::Other || (finalName.empty() && verdict == CopyVerdict::Cut))
        return 0;
    // On FAT a rename can reach the disk before the copy's size and clusters do: a cut then leaves
    // the final name holding nothing, or zeros, where the source still holds the picture.
    move.finishes = verdict == CopyVerdict::Whole;
    move.removesCopy = verdict == CopyVerdict::Cut;
    move.final = finalName.empty() ? fs::path() : folder.pathOf(finalName);
    if (move.finishes) {
        struct stat sourceInfo {};
        if (::fstat(original.get(), &sourceInfo) != 0)
            return errno;
        move.sourceIdentity = identityFrom(sourceInfo);
    }
    if (const Result<HeldEntry> named = folder.lookup(finalName);
        named && named.value().kind == HeldEntry::Kind::File)
        move.copyIdentity = named.value().identity;
    else if (move.removesCopy)
        move.removesCopy = false; // gone or replaced since: nothing of ours to remove
    return 0;
}

// The source, while it is still the file found holding the copy's bytes. 0 or errno.
int removeSource(const InterruptedMove& move) {
    const Result<HeldFolder> folder = HeldFolder::open(folderOf(move.source.native()));
    if (!folder)
        return lookupMeansAbsent(folder.code()) ? 0 : folder.code();
    const std::string name = ownName(move.source);
    const Result<HeldEntry> now = folder.value().lookup(name);
    if (!now)
        return now.code();
    if (now.value().kind == HeldEntry::Kind::None || !(now.value().identity == move.sourceIdentity))
        return 0; // gone or changed since: the copy under its own name is all that is ours to keep
    const Status removed = folder.value().removeFile(name);
    return removed || removed.code() == ENOENT ? 0 : removed.code();
}

// A cut copy under its final name, while it is still the file that was judged. 0 or errno.
int removeCutCopy(const HeldFolder& folder, const InterruptedMove& move) {
    const std::string name = ownName(move.final);
    const Result<HeldEntry> now = folder.lookup(name);
    if (!now)
        return lookupMeansAbsent(now.code()) ? 0 : now.code();
    if (now.value().kind != HeldEntry::Kind::File || !(now.value().identity == move.copyIdentity))
        return 0; // another file took its place since: not ours to remove
    const Status removed = folder.removeFile(name);
    return removed || removed.code() == ENOENT ? 0 : removed.code();
}

} // namespace

Result<std::vector<InterruptedMove>> findInterruptedMoves(const HeldFolder& folder) {
    std::vector<std::string> names;
    if (const int error = readFolderNames(folder.fd(), names))
        return errorFromErrno(recoverText, folder.path(), error);
    std::vector<std::string> stems;
    std::vector<std::string> exclusiveRecords;
    for (const std::string& name : names) {
        if (!name.starts_with(kMoveTempPrefix) ||
            ownerStillRunning(pidInTempName(name, kMoveTempPrefix.size())))
            continue;
        if (name.ends_with(kRecordSuffix) || name.ends_with(kPartSuffix))
            stems.push_back(name.substr(0, name.size() - kRecordSuffix.size()));
        else if (name.ends_with(kIntoSuffix))
            exclusiveRecords.push_back(name);
    }
    std::sort(stems.begin(), stems.end());
    stems.erase(std::unique(stems.begin(), stems.end()), stems.end());
    // A part without a record (its record was lost with a power cut) is handled like an unlinked
    // part: removing it only removes a second name or an unfinished copy.
    std::vector<InterruptedMove> moves;
    LinkedNames linked(folder.fd(), names);
    for (const std::string& stem : stems) {
        InterruptedMove move;
        if (const int error = judgeOne(folder, stem, move, linked))
            return errorFromErrno(recoverText, folder.pathOf(stem + std::string(kRecordSuffix)), error);
        moves.push_back(std::move(move));
    }
    for (const std::string& record : exclusiveRecords) {
        InterruptedMove move;
        if (const int error = judgeExclusiveCopy(folder, record, move))
            return errorFromErrno(recoverText, folder.pathOf(record), error);
        moves.push_back(std::move(move));
    }
    return moves;
}

Status settleInterruptedMove(const HeldFolder& folder, const InterruptedMove& move) {
    const auto unlinkHere = [&](const fs::path& path) {
        return ::unlinkat(folder.fd(), ownName(path).c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
    };
    int error = move.finishes ? removeSource(move) : 0;
    if (error == 0 && move.removesCopy)
        error = removeCutCopy(folder, move);
    if (error == 0 && !move.part.empty())
        error = unlinkHere(move.part);
    if (error == 0)
        error = unlinkHere(move.record);
    return error == 0 ? Status() : errorFromErrno(recoverText, move.record, error);
}

Status recoverInterruptedMoves(const HeldFolder& folder, const BeforeSettling& beforeSettling) {
    // A move to a disk not met before probes it first: a kill there leaves a probe file.
    if (Status tidied = removeLeftoverProbes(folder.fd(), folder.path()); !tidied)
        return tidied;
    const Result<std::vector<InterruptedMove>> moves = findInterruptedMoves(folder);
    if (!moves)
        return moves.error();
    if (Status told = beforeSettling && !moves.value().empty() ? beforeSettling(moves.value()) : Status();
        !told)
        return told;
    for (const InterruptedMove& move : moves.value()) {
        if (Status settled = settleInterruptedMove(folder, move); !settled)
            return settled;
    }
    return {};
}

Status recoverInterruptedMoves(const HeldFolder& folder) {
    return recoverInterruptedMoves(folder, nullptr);
}

Status recoverInterruptedMoves(const fs::path& folder) {
    const Result<HeldFolder> held = HeldFolder::open(folder);
    if (!held)
        return errorFromErrno(recoverText, folder, held.code());
    return recoverInterruptedMoves(held.value());
}

} // namespace corvalin
