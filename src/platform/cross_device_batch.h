#pragma once

#include "platform/file_identity.h"
#include "platform/held_folder.h"
#include "platform/result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

// Moving files to another file system at the disk's pace: a batch of copies waits for the disk once,
// not once per file, and never removes a source before its copy is on the disk under its final name.
namespace corvalin {

enum class BatchFlush {
    Automatic,       // the whole file system where its own sync reaches the disk, else each file
    WholeFileSystem, // one syncfs
    EachFile         // one fdatasync per file, after every write was issued
};

struct BatchSettings {
    // A batch is full at this many bytes or files; a larger file makes a batch of its own.
    std::uint64_t bytes = std::uint64_t(256) << 20;
    std::size_t count = 100;
    BatchFlush flush = BatchFlush::Automatic;
    // A batch younger than this at the end of a folder waits for the next folder's pictures, so
    // that small folders share one wait for the disk; an older one is committed there.
    std::chrono::milliseconds folderCarry{1000};
};

// Chooses the final names of a batch's copies, one copy after the other in the order they were
// added. Whoever numbers the files keeps that decision; the batch only puts the copies there.
class CopyNaming {
public:
    virtual ~CopyNaming() = default;
    // Where the copy of `source` (a name in the destination folder) goes; `copied` is what the
    // source was when it was copied. `taken` is true when the path given last for it is taken
    // (nothing is ever replaced), false when a fresh path is asked for.
    virtual Result<std::filesystem::path> finalPathFor(const std::filesystem::path& source,
                                                       const FileIdentity& copied, bool taken) = 0;
    // The path given last is now the copy's: its name is used, even should the copy be removed again
    // after a later failure.
    virtual void copyNamed(const std::filesystem::path& source) = 0;
    // Asked before each copy is named; true leaves it and the rest unnamed, their sources in place.
    virtual bool namingStopped() { return false; }
    // The path given last for `source` does not hold its copy after all (the copy was removed
    // again, or never got there): nothing of it arrived.
    virtual void copyWithdrawn(const std::filesystem::path& /*source*/) {}
    // Called between the steps of a commit, so that the caller's own periodic work goes on during
    // a long one; a failure stops the naming as a failed copy would.
    virtual Status keepPace() { return {}; }
    // The copies named so far are on the disk in the caller's own records. Asked before the batch's
    // hidden records go, since after that a power cut would leave no trace of a move whose source
    // is gone; a failure keeps those records for the next start's recovery.
    virtual Status recordsOnDisk() { return {}; }
};

// The copies of files bound for one folder on another file system. Files are added one by one
// (copied to hidden temporary names there, the sources untouched), then committed together: made
// durable with one wait, named in order without replacing anything, the names made durable, and
// only then the sources removed. The destination and the sources' folders are held: every file is
// reached by its name in its folder, never by a path. A kill or power loss at any instant leaves what
// recoverInterruptedMoves finishes or undoes: every file exactly once, nothing cut short under a
// final name. Only regular files are copied; each copy gets its source's mode plus owner write and
// its times.
class CrossDeviceBatch {
public:
    // The destination is held for as long as the batch lives (a second hold of it).
    explicit CrossDeviceBatch(const HeldFolder& destination, BatchSettings settings = {});
    ~CrossDeviceBatch(); // discards what was not committed
    CrossDeviceBatch(const CrossDeviceBatch&) = delete;
    CrossDeviceBatch& operator=(const CrossDeviceBatch&) = delete;

    // True when files of `folder` reach `destination` only as copies: another file system, or
    // another mount of the same one.
    static bool crosses(const HeldFolder& folder, const HeldFolder& destination);

    const std::filesystem::path& destination() const { return m_destination.path(); }
    const FolderId& destinationId() const { return m_destination.id(); }
    bool empty() const;
    std::size_t size() const; // copies added and not yet committed
    bool full() const;

    // Copies the file `name` of `folder` into the batch. On failure nothing of this copy is left (a
    // copy cut short by a full disk goes) and the copies added before are kept.
    Status add(const HeldFolder& folder, const std::string& name);

    // Puts every copy in place as described above and empties the batch. Stops at the first
    // failure, or when `naming` asks: the copies named by then are completed (their sources
    // removed), the others removed with their sources kept. A source that changed after its copy
    // was made stays, and its copy goes.
    Status commit(CopyNaming& naming);

    // Removes every copy not yet committed; their sources stay.
    void discard();

private:
    struct State;

    void settleWriteback();
    Status flushCopies(std::size_t first, std::size_t end, bool parts);
    Status nameCopies(CopyNaming& naming);
    Status renameCopiesFrom(std::size_t first, CopyNaming& naming, bool firstDecided);
    Status completeNamed(CopyNaming& naming);
    void keepRecordsOfNamed();

    HeldFolder m_destination;
    std::unique_ptr<State> m_state;
};

} // namespace corvalin
