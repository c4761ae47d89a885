// A copy may be named only once its bytes are on the disk, and its source may go only once that name
// is on the disk too. Waiting for that file by file costs a flush or more per file, tens of
// milliseconds each on a memory card; a batch waits once for all its copies, once for all their
// names and once for the removal of their sources:
//
//   1. For each file: its record (move_temp_files.h) names the source, its part receives the bytes,
//      mode and times, and the part's writeback starts at once, while the next file is read.
//   2. One wait makes every record and part of the batch durable.
//   3. Each part is hard-linked to its final name, which fails rather than replace. A file system
//      without hard links (FAT, exFAT: most memory cards) gets a rename that refuses to replace;
//      as the part then leaves, each record first receives its final name, made durable with one
//      more wait, so that a recovery still knows where the whole copy went.
//   4. One wait on the destination folder makes the names durable; the sources are removed;
//   5. one wait on their folders makes the removals durable; the caller puts its own records of
//      the moves on the disk; then the parts and records go.
//
// A kill or a power loss at any instant leaves what recoverInterruptedMoves (move_file.cpp) finishes
// or undoes: a part with a single name is an unfinished copy and goes, its source stays; a linked
// or renamed one is whole, and its source goes if it still holds exactly those bytes.
//
// A disk with neither hard links nor a rename that refuses to replace takes steps 1 to 3 another
// way, described in exclusive_copy.h: each copy is written under its final name, created
// exclusively, after its record is on the disk.
#include "platform/cross_device_batch.h"

#include "platform/batch_copy.h"
#include "platform/disk_sync.h"
#include "platform/exclusive_copy.h"
#include "platform/move_temp_files.h"
#include "platform/paths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Once this much written data waits for the disk, the oldest copies are waited for before the next
// is made. A slow card then paces the copying file by file, with the window kept live in between,
// and the wait at the end of a batch stays short instead of holding the whole batch.
constexpr std::uint64_t kWritebackWindow = std::uint64_t(32) << 20;

bool linkUnsupported(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// One syncfs where it reaches the disk covers every copy with one trip to the disk; elsewhere each
// file is flushed on its own.
BatchFlush flushFor(int folderFd, BatchFlush asked) {
    struct statfs info {};
    if (asked != BatchFlush::Automatic)
        return asked;
    if (::fstatfs(folderFd, &info) != 0)
        return BatchFlush::EachFile;
    return syncfsReachesDisk(static_cast<unsigned long>(info.f_type)) ? BatchFlush::WholeFileSystem
                                                                      : BatchFlush::EachFile;
}

// A rename on FAT writes the new entry without the file's first cluster and size; they reach the
// disk with the file itself, which a flush of the folder does not write. Each renamed copy is
// flushed once more, or a cut after its source went leaves an empty file in its place.
int flushRenamedCopies(const std::vector<BatchCopy>& copies) {
    for (const BatchCopy& copy : copies) {
        if (copy.named && ::fsync(copy.partFd.get()) != 0)
            return errno;
    }
    return 0;
}

} // namespace

struct CrossDeviceBatch::State {
    BatchSettings settings;
    UniqueFd folder;   // the destination, opened before the first copy: a syncfs reports what failed since
    int holdError = 0; // why the destination could not be held a second time
    BatchFlush flush = BatchFlush::EachFile;
    std::vector<BatchCopy> copies;
    std::uint64_t bytes = 0;
    std::size_t settled = 0; // copies whose writeback was waited for
    // The sources' folder last met, held for the copies made from it, once found to allow their
    // removal.
    std::shared_ptr<const HeldFolder> sourceFolder;
    std::uint64_t unsettledBytes = 0;
    bool noHardLinks = false;
    int linkError = 0; // why the first hard link failed, when it did
};

CrossDeviceBatch::CrossDeviceBatch(const HeldFolder& destination, BatchSettings settings)
    : m_state(std::make_unique<State>()) {
    m_state->settings = settings;
    Result<HeldFolder> held = destination.duplicate();
    if (held)
        m_destination = std::move(held.value());
    else
        m_state->holdError = held.code();
}

CrossDeviceBatch::~CrossDeviceBatch() {
    discard();
}

bool CrossDeviceBatch::crosses(const HeldFolder& folder, const HeldFolder& destination) {
    const FolderId& a = folder.id();
    const FolderId& b = destination.id();
    // A rename between two mounts of one file system fails as between two file systems.
    return a.device != b.device || (a.mount != 0 && b.mount != 0 && a.mount != b.mount);
}

bool CrossDeviceBatch::empty() const {
    return m_state->copies.empty();
}

std::size_t CrossDeviceBatch::size() const {
    return m_state->copies.size();
}

bool CrossDeviceBatch::full() const {
    return m_state->copies.size() >= m_state->settings.count || m_state->bytes >= m_state->settings.bytes;
}

Status CrossDeviceBatch::add(const HeldFolder& folder, const std::string& name) {
    State& state = *m_state;
    const fs::path source = folder.pathOf(name);
    if (!state.folder.valid()) {
        state.folder = UniqueFd(m_destination.valid()
                                    ? ::openat(m_destination.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                    : -1);
        if (!state.folder.valid())
            return errorFromErrno(kMoveText, source, m_destination.valid() ? errno : state.holdError);
        state.flush = flushFor(state.folder.get(), state.settings.flush);
    }
    // A source that can never leave its folder is not copied: the run stops at it, before the copies
    // of later folders it would otherwise make while its batch waits.
    if (!state.sourceFolder || !state.sourceFolder->id().sameAs(folder.id())) {
        if (::faccessat(folder.fd(), ".", W_OK | X_OK, AT_EACCESS) != 0)
            return errorFromErrno(kMoveText, source, errno);
        Result<HeldFolder> held = folder.duplicate();
        if (!held)
            return errorFromErrno(kMoveText, source, held.code());
        state.sourceFolder = std::make_shared<const HeldFolder>(std::move(held.value()));
    }
    BatchCopy copy;
    copy.sourceFolder = state.sourceFolder;
    copy.sourceName = name;
    copy.source = source.native();
    const bool exclusive = state.settings.exclusiveCreate;
    if (const int error = exclusive ? openExclusiveSource(copy) : makeCopy(copy, m_destination)) {
        unlinkUnlessGone(m_destination.fd(), copy.part);
        unlinkUnlessGone(m_destination.fd(), copy.record);
        return errorFromErrno(kMoveText, source, error);
    }
    const auto size = static_cast<std::uint64_t>(copy.before.st_size);
    state.bytes += size;
    state.unsettledBytes += size;
    state.copies.push_back(std::move(copy));
    if (!exclusive)
        settleWriteback();
    return {};
}

void CrossDeviceBatch::settleWriteback() {
    State& state = *m_state;
    while (state.unsettledBytes > kWritebackWindow && state.settled + 1 < state.copies.size()) {
        const BatchCopy& copy = state.copies[state.settled++];
        // Errors show at the wait for durability, which every copy passes.
        ::sync_file_range(copy.partFd.get(), 0, 0,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        state.unsettledBytes -= static_cast<std::uint64_t>(copy.before.st_size);
    }
}

Status CrossDeviceBatch::commit(CopyNaming& naming) {
    if (empty())
        return {};
    // Copies written under their final names have nothing on the disk yet.
    Status status =
        m_state->settings.exclusiveCreate ? Status() : flushCopies(0, m_state->copies.size(), true);
    if (status)
        status = nameCopies(naming);
    const Status completed = completeNamed(naming);
    for (const BatchCopy& copy : m_state->copies) {
        if (!copy.final.empty() && !copy.named)
            naming.copyWithdrawn(copy.source);
    }
    const bool anyNamed = std::any_of(m_state->copies.begin(), m_state->copies.end(),
                                      [](const BatchCopy& c) { return c.named; });
    if (Status recorded = anyNamed ? naming.recordsOnDisk() : Status(); !recorded) {
        keepRecordsOfNamed();
        return status && completed ? recorded : (status ? completed : status);
    }
    discard();
    return status ? completed : status;
}

// The hidden files of each named copy stay for the next start, which finds its move whole and
// records it; the rest goes as usual.
void CrossDeviceBatch::keepRecordsOfNamed() {
    State& state = *m_state;
    state.copies.erase(std::remove_if(state.copies.begin(), state.copies.end(),
                                      [](const BatchCopy& copy) { return copy.named; }),
                       state.copies.end());
    discard();
}

void CrossDeviceBatch::discard() {
    State& state = *m_state;
    // The part of a named copy is a second name of it, or gone after a rename; any other part is
    // a copy that will not be used. Each record goes after its part, as a recovery expects.
    for (BatchCopy& copy : state.copies) {
        copy.partFd.close();
        copy.recordFd.close();
        if (copy.created && !copy.named) // a copy under its final name that did not complete
            unlinkUnlessGone(m_destination.fd(), ownName(copy.final));
        unlinkUnlessGone(m_destination.fd(), copy.part);
        unlinkUnlessGone(m_destination.fd(), copy.record);
    }
    state.copies.clear();
    state.bytes = 0;
    state.settled = 0;
    state.unsettledBytes = 0;
}

// The parts and records of copies [first, end), or the records alone, on the disk.
Status CrossDeviceBatch::flushCopies(std::size_t first, std::size_t end, bool parts) {
    State& state = *m_state;
    int wholeError = 0;
    if (state.flush == BatchFlush::WholeFileSystem) {
        if (::syncfs(state.folder.get()) == 0)
            return {};
        wholeError = errno;
    }
    // File by file, also to find which copy a failed syncfs concerned.
    for (std::size_t i = first; i < end; ++i) {
        const BatchCopy& copy = state.copies[i];
        if ((parts && ::fdatasync(copy.partFd.get()) != 0) || ::fdatasync(copy.recordFd.get()) != 0)
            return errorFromErrno(kMoveText, copy.source, errno);
    }
    if (wholeError != 0)
        return errorFromErrno(kMoveText, m_destination.path(), wholeError);
    return {};
}

Status CrossDeviceBatch::nameCopies(CopyNaming& naming) {
    std::vector<BatchCopy>& copies = m_state->copies;
    if (m_state->settings.exclusiveCreate)
        return writeUnderFinalNames(copies, m_destination, naming,
                                    m_state->flush != BatchFlush::WholeFileSystem);
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (m_state->noHardLinks)
            return renameCopiesFrom(i, naming, false);
        if (naming.namingStopped())
            return {};
        if (Status paced = naming.keepPace(); !paced)
            return paced;
        BatchCopy& copy = copies[i];
        for (bool taken = false;; taken = true) {
            auto final = naming.finalPathFor(copy.source, identityCopied(copy), taken);
            if (!final)
                return final.error();
            copy.final = final.value().native();
            const int folder = m_destination.fd();
            if (::linkat(folder, copy.part.c_str(), folder, ownName(copy.final).c_str(), 0) == 0)
                break;
            const int error = errno;
            if (error == EEXIST)
                continue;
            if (!linkUnsupported(error))
                return errorFromErrno(kMoveText, copy.source, error);
            m_state->noHardLinks = true;
            m_state->linkError = error;
            return renameCopiesFrom(i, naming, true);
        }
        copy.named = true;
        naming.copyNamed(copy.source);
    }
    return {};
}

// Without hard links a part leaves its own name, so its record must first say where it goes: the
// names of the rest of the batch are chosen and written to their records, made durable with one
// wait, and only then is each part renamed there.
Status CrossDeviceBatch::renameCopiesFrom(std::size_t first, CopyNaming& naming, bool firstDecided) {
    std::vector<BatchCopy>& copies = m_state->copies;
    Status chosen;
    std::size_t end = first;
    for (; end < copies.size(); ++end) {
        const bool decided = firstDecided && end == first;
        if (!decided && naming.namingStopped())
            break;
        if (chosen = naming.keepPace(); !chosen)
            break;
        if (chosen = chooseFreeName(copies[end], m_destination, naming, decided); !chosen)
            break;
    }
    if (end == first)
        return chosen;
    if (Status flushed = flushCopies(first, end, false); !flushed)
        return flushed;
    for (std::size_t i = first; i < end; ++i) {
        if (Status renamed = renameIntoPlace(copies[i], m_destination, naming, m_state->linkError); !renamed)
            return renamed;
    }
    return chosen;
}

// The names reach the disk first, then the sources go, then their removal reaches the disk before
// the records that would let a recovery finish it are removed.
Status CrossDeviceBatch::completeNamed(CopyNaming& naming) {
    std::vector<BatchCopy>& copies = m_state->copies;
    if (std::none_of(copies.begin(), copies.end(), [](const BatchCopy& copy) { return copy.named; }))
        return {};
    Status synced;
    if (const int error = m_state->noHardLinks ? flushRenamedCopies(copies) : 0)
        synced = errorFromErrno(kMoveText, m_destination.path(), error);
    else
        synced = m_destination.flush();
    if (!synced) {
        // Not known to be on the disk: the copies go and their sources stay.
        for (BatchCopy& copy : copies) {
            if (copy.named)
                unlinkUnlessGone(m_destination.fd(), ownName(copy.final));
            copy.named = false;
        }
        return errorFromErrno(kMoveText, m_destination.path(), synced.code());
    }
    Status status;
    std::vector<const HeldFolder*> sourceFolders;
    for (BatchCopy& copy : copies) {
        if (!copy.named)
            continue;
        if (const int error = removeSource(copy)) {
            unlinkUnlessGone(m_destination.fd(),
                             ownName(copy.final)); // the source stays: the file must not exist twice
            copy.named = false;
            if (status)
                status = sourceError(copy, error);
            continue;
        }
        if (sourceFolders.empty() || sourceFolders.back() != copy.sourceFolder.get())
            sourceFolders.push_back(copy.sourceFolder.get());
    }
    for (const HeldFolder* folder : sourceFolders) {
        // Each wait may be long on a slow disk: the caller's journal keeps its pace in between.
        if (Status paced = naming.keepPace(); !paced && status)
            status = paced;
        if (Status synced = folder->flush(); !synced && status)
            status = errorFromErrno(kMoveText, folder->path(), synced.code());
    }
    return status;
}

} // namespace corvalin
