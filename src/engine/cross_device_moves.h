#pragma once

#include "platform/cross_device_batch.h"
#include "platform/result.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

// The pictures of a move run that leave their file system, gathered into batches so that the run
// waits for the disk once per batch instead of once per picture.
namespace corvalin {

// Fed picture by picture; a batch is committed when it is full, when the pictures go elsewhere, and
// whenever the run asks (at the end of a folder when the batch is due, and at the end of the run). Each copy
// gets its final name from `naming` only at the commit, in the order the pictures were added: the serial
// numbers and the names stay the caller's decisions.
class CrossDeviceMoves {
public:
    explicit CrossDeviceMoves(CopyNaming& naming, BatchSettings settings = {});
    ~CrossDeviceMoves(); // discards what was not committed

    // True when files of `folder` reach `destination` only as copies. Asked per picture: told by
    // what the two held folders are, without asking the disk.
    static bool crosses(const HeldFolder& folder, const HeldFolder& destination);

    // Applies from the next batch on.
    void setSettings(BatchSettings settings) { m_settings = settings; }

    // Pictures added and not yet committed.
    std::size_t pending() const;
    // Where the pending pictures go; during a commit, where the copies being named go.
    std::filesystem::path destination() const;

    // Copies the file `name` of `folder` into the batch bound for `destination`. When the copy fails
    // (a full disk, a vanished or unreadable source), the copies already whole are committed and the
    // copy's failure is returned: the pictures before it are moved, it and its source stay as they
    // were.
    Status add(const HeldFolder& folder, const std::string& name, const HeldFolder& destination);

    // True at the end of a folder when the pending batch has waited long enough
    // (BatchSettings::folderCarry) to be committed there.
    bool dueAtFolderEnd() const;

    // Names every pending copy and removes its source (CrossDeviceBatch::commit).
    Status commit();

    // Removes the pending copies; their sources stay.
    void discard();

private:
    CopyNaming& m_naming;
    BatchSettings m_settings;
    std::unique_ptr<CrossDeviceBatch> m_batch;
    std::chrono::steady_clock::time_point m_batchStarted;
};

} // namespace corvalin
