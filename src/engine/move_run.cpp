#include "engine/move_run.h"

#include "engine/disk_trouble.h"
#include "engine/download_markers.h"
#include "naming/serial_name.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <unordered_set>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The child folder of the source parent folder that holds `file`, at any depth.
fs::path childFolderOf(const fs::path& sourceParent, const fs::path& file) {
    return joinPath(sourceParent, *file.lexically_relative(sourceParent).begin());
}

} // namespace

MoveRun::MoveRun(Module1& vars, SettingsFiles files, MoveRunObserver& observer, Removal removal)
    : m_vars(vars), m_files(files), m_observer(observer), m_disk(std::move(files), std::move(removal)) {}

void MoveRun::setJournal(RunJournal* journal) {
    m_disk.setJournal(journal);
}

RunStart moveRunStart(std::int32_t serialNo, const fs::path& sourceParent, const fs::path& destination,
                      bool deleteFolders, const Removal& removal) {
    RunStart start;
    start.kind = RunKind::Move;
    start.serialNo = serialNo;
    start.source = sourceParent;
    start.destination = destination;
    start.options = std::string(deleteFolders ? "delete-folders=1" : "delete-folders=0") +
                    (removal.permanent() ? " permanent=1" : " permanent=0");
    return start;
}

const char* journalOutcome(MoveOutcome outcome) {
    switch (outcome) {
    case MoveOutcome::Completed:
        return kOutcomeCompleted;
    case MoveOutcome::Cancelled:
        return kOutcomeCancelled;
    case MoveOutcome::Failed:
        return kOutcomeFailed;
    }
    return kOutcomeFailed;
}

MoveRunResult MoveRun::run(const fs::path& sourceParent, bool deleteFolders,
                           std::vector<fs::path>& folderList) {
    m_sourceParent = sourceParent;
    if (Status allowed = checkSource(sourceParent, m_files); !allowed)
        return finish(MoveOutcome::Failed, allowed.error());
    // Held once, by the path the user gave; every folder below it is found from there.
    Result<HeldFolder> source = HeldFolder::open(sourceParent);
    if (!source)
        return finish(MoveOutcome::Failed, source.error());
    m_source = std::move(source.value());
    // Before the Trash, whose refusal there would advise deleting for good, which cannot help.
    if (Status writable = checkSourceWritable(*m_source); !writable)
        return finish(MoveOutcome::Failed, writable.error());
    if (Status usable = m_layer->checkRemovalUsable(sourceParent); !usable)
        return finish(MoveOutcome::Failed, usable.error());
    // Nothing is touched before the first destination is known to be usable.
    if (Status usable = useDestination(m_observer.destination()); !usable)
        return finish(MoveOutcome::Failed, usable.error());
    if (m_duplicates) { // read beside the survey
        if (Status below = m_duplicates->readSourcesBelow(*m_source); !below)
            return finish(MoveOutcome::Failed, below.error());
        startLookahead();
    }
    if (Status surveyed = survey(folderList); !surveyed)
        return finish(MoveOutcome::Failed, surveyed.error());
    if (m_observer.stopRequested())
        return finish(MoveOutcome::Cancelled);
    if (Status shown = surveyDisplay(folderList); !shown)
        return finish(MoveOutcome::Failed, shown.error());
    if (m_stopped)
        return finish(MoveOutcome::Cancelled);
    if (Status room = m_numbering.checkRoom(*m_checkedDestination, m_picturesFound); !room)
        return finish(MoveOutcome::Failed, room.error());
    if (!m_unchosenPictures.empty() && !m_observer.deleteUnchosenPictures(m_unchosenPictures))
        return finish(MoveOutcome::Cancelled);
    m_remainingFiles = m_totalFiles;
    if (m_lookahead)
        m_lookahead->follow(*m_source, folderList, m_places);
    const std::size_t count = folderList.size();
    for (std::size_t i = 0; i < count; ++i) {
        m_folderIndex = i;
        m_observer.yield();
        // A cancel is taken here only, so a folder is never left half done by it: copies of the
        // folders before that still wait in a batch are named first.
        if (m_observer.cancelRequested() || m_observer.stopRequested()) {
            if (Status committed = commitCarriedCopies(); !committed)
                return finish(MoveOutcome::Failed, committed.error());
            return finish(MoveOutcome::Cancelled);
        }
        // Copies of earlier folders still waiting in a batch arrive before the failure is told.
        if (Status moved = moveFolder(i, folderList[i]); !moved)
            return finish(MoveOutcome::Failed, commitCopies(moved).error());
        if (m_stopped)
            return finish(MoveOutcome::Cancelled);
    }
    if (Status committed = commitCarriedCopies(); !committed)
        return finish(MoveOutcome::Failed, committed.error());
    // Closed while the last copies were named: those left unnamed are still in their folders.
    if (m_stopped)
        return finish(MoveOutcome::Cancelled);
    if (Status back = m_layer->enterFolder(*m_source); !back)
        return finish(MoveOutcome::Failed, back.error());
    m_observer.returnedToSourceParent(sourceParent);
    if (deleteFolders) {
        if (Status deleted = deleteChildFolders(folderList); !deleted)
            return finish(MoveOutcome::Failed, deleted.error());
    }
    return finish(MoveOutcome::Completed);
}

// Every folder below the source parent found from its held descriptor, and opened again later the
// same way (SurveyedFolders).
// Every file the folder lists, in its order: pictures moved under a new name, the rest deleted. A
// folder that is no longer the one surveyed is left as it is (its end names it).
Status MoveRun::moveFolder(std::size_t index, const fs::path& folder) {
    const Result<const HeldFolder*> opened = m_folders->open(index);
    if (!opened)
        return opened.error();
    if (!opened.value())
        return {};
    const HeldFolder& held = *opened.value();
    std::vector<std::string> special;
    auto names = held.files(special);
    if (!names)
        return names.error();
    for (const std::string& name : special) {
        if (isPicture(name, m_pictureTypes))
            m_specialFiles.push_back(joinPath(folder, name));
    }
    if (Status entered = m_layer->enterFolder(held); !entered)
        return entered;
    m_observer.folderStarted(folder);
    const auto arriving = arrivingDownloads(names.value());
    for (const std::string& name : names.value()) {
        // Before the file is touched, so that after a crash the stored number is never behind.
        if (Status counted = m_layer->writeCounter(numberInHand()); !counted)
            return counted;
        m_observer.yieldForDisplay();
        // Closing the window: stop after the file in hand, before the next one. Copies still
        // waiting for their names go; their sources stay.
        if (m_observer.stopRequested()) {
            m_crossDeviceMoves.discard();
            m_stopped = true;
            return {};
        }
        // A folder of thousands, or of large copies, must not hold the journal back.
        if (Status paced = m_layer->keepPace(); !paced)
            return commitCopies(paced);
        if (Status handled = handleFile(held, name, arriving.contains(name)); !handled)
            return commitCopies(handled);
    }
    // Small folders share a batch, so that the disk is waited for once for several of them.
    if (m_crossDeviceMoves.dueAtFolderEnd()) {
        if (Status committed = commitCopies({}); !committed)
            return committed;
    }
    if (Status flushed = m_layer->keepPace(); !flushed)
        return flushed;
    m_observer.folderFinished(folder);
    return {};
}

// What the file is now is looked up once, by its name in its folder: its identity for the journal,
// its mode for the move, and whether it is still a file at all (a link, a FIFO or a folder that
// took its name since the listing is never moved nor removed).
Status MoveRun::handleFile(const HeldFolder& folder, const std::string& name, bool arriving) {
    --m_remainingFiles;
    m_observer.fileProgress(m_remainingFiles, m_totalFiles);
    const fs::path file = folder.pathOf(name);
    m_observer.previewRequested(file);
    m_vars.SerialNo = wrapSerialNo(m_vars.SerialNo);
    // Moved, it would arrive cut off under a final name; removed, the download would break.
    if (arriving) {
        m_downloadsLeft.push_back(file);
        return {};
    }
    const bool picture = isPicture(name, m_pictureTypes);
    const Result<HeldEntry> entry = folder.lookup(name);
    if (!entry)
        return entry.error();
    if (entry.value().kind == HeldEntry::Kind::None)
        return errorFromErrno(picture ? kMoveText : "ファイルの削除", file, ENOENT);
    if (entry.value().kind != HeldEntry::Kind::File) {
        if (picture)
            m_specialFiles.push_back(file);
        return {};
    }
    if (picture) {
        const Status moved = movePicture(folder, name, entry.value());
        ++m_picturesHandled;
        return moved;
    }
    return removed(m_layer->removeFile(folder, name));
}

// A removal for good is done when it returns; one into the Trash may wait for the journal's flush.
Status MoveRun::removed(Status status) {
    if (status && m_layer == &m_disk && m_disk.removal().permanent())
        m_observer.fileLeft();
    return status;
}

// A number the destination holds is passed over, and a name taken meanwhile takes the next numbers
// until one is free; nothing there is ever replaced.
Status MoveRun::movePicture(const HeldFolder& folder, const std::string& name, const HeldEntry& picture) {
    const fs::path destination = m_observer.destination();
    const fs::path source = folder.pathOf(name);
    if (Status usable = useDestination(destination); !usable)
        return usable;
    const std::string firstName = serialName(numberInHand(), name);
    // A duplicate takes no number, so its name's length does not matter.
    if (const Result<bool> left = leaveOutDuplicate(folder, name, picture, destination);
        !left || left.value())
        return left.status();
    // Every number gives a name of the same length and the same characters: a name the disk
    // cannot hold is known before anything is done, and the picture stays with its folder.
    if (leftForTheDisk(source, firstName, picture)) {
        m_foldersHoldingLongNames.insert(childFolderOf(m_sourceParent, source).native());
        return {};
    }
    showNewName(source, firstName);
    // A plan names its pictures one by one, which hands out the same numbers as the batches. The
    // copy arrives writable by its owner; the picture itself keeps its mode until it goes.
    if (m_layer == &m_disk && (CrossDeviceMoves::crosses(folder, *m_destination) || copiesWithinDisk())) {
        if (Status added = m_crossDeviceMoves.add(folder, name, *m_destination); !added)
            return moveFailure(added, destination, picture.identity.size);
        m_copySizes[source.native()] = picture.identity.size;
        planBatchNumber(destination);
        noteMoved(source, picture.identity, {}, true);
        return {};
    }
    for (std::int32_t attempt = 0; attempt <= kHighestSerialNo; ++attempt) {
        if (Status skipped = skipHeldNumbers(destination); !skipped)
            return skipped;
        const std::string newName = serialName(m_vars.SerialNo, name);
        if (newName != m_nameShown)
            showNewName(source, newName);
        const Status moved =
            m_layer->movePicture(m_vars.SerialNo, folder, name, picture, *m_destination, newName);
        if (moved.code() != EEXIST) {
            if (!moved)
                return moveFailure(moved, destination, picture.identity.size);
            m_numbering.hold(destination, m_vars.SerialNo);
            ++m_vars.SerialNo;
            noteMoved(source, picture.identity, joinPath(destination, newName), false);
            if (m_layer == &m_disk)
                m_observer.fileLeft();
            return {};
        }
        // Taken since the destination was listed: held from now on.
        m_numbering.hold(destination, m_vars.SerialNo);
        m_numbering.skipped(m_vars.SerialNo, nextOnRound(m_vars.SerialNo));
        m_vars.SerialNo = wrapSerialNo(m_vars.SerialNo + 1);
        if (Status counted = m_layer->writeCounter(m_vars.SerialNo); !counted)
            return counted;
    }
    return errorFromErrno(kMoveIntoText, destination, EEXIST);
}

// Checked once for every destination the run meets: never inside the source tree, and free of the
// leftovers of a move that a crash cut off. Held from then on, so that every picture goes into the
// very folder that was checked, whatever takes its path meanwhile.
Status MoveRun::useDestination(const fs::path& destination) {
    if (m_checkedDestination == destination)
        return {};
    Result<HeldFolder> held = HeldFolder::open(destination);
    if (!held)
        return errorFromErrno(kMoveIntoText, destination, held.code());
    if (Status outside = checkDestination(m_sourceParent, destination); !outside)
        return outside;
    if (Status outside = checkHeldDestination(*m_source, held.value()); !outside)
        return outside;
    Result<DiskProfile> disk = checkDestinationDisk(held.value());
    if (!disk)
        return disk.status();
    if (Status recovered = m_layer->prepareDestination(held.value()); !recovered)
        return recovered;
    if (Status listed = m_numbering.meet(destination, held.value()); !listed)
        return listed;
    m_destination = std::move(held.value());
    m_checkedDestination = destination;
    m_destinationDisk = std::move(disk.value());
    m_longestName = m_destinationDisk->longestName;
    m_crossDeviceMoves.setExclusiveCreate(runNamingWay(m_destinationDisk->probe, true) ==
                                          NamingWay::ExclusiveCreate);
    // One met during the run must have room for the pictures still to come.
    return m_numbering.checkRoom(destination, m_picturesFound - m_picturesHandled);
}

// Every direct subfolder the survey saw, hidden ones too (the survey emptied them as well), with
// everything in them, each only while it is still the folder the survey saw. One that appeared
// during the run was never emptied, one that still holds a download marker would lose the
// download, and one holding a picture whose name is too long would lose the picture: all stay.
Status MoveRun::deleteChildFolders(const std::vector<fs::path>& folderList) {
    for (std::size_t i = 0; i < m_places.size() && m_places[i].parent == kSurveyRoot; ++i) {
        const fs::path& folder = folderList[i];
        m_observer.yield();
        if (m_foldersHoldingLongNames.contains(folder.native())) {
            m_foldersKeptForLongNames.push_back(folder);
            continue;
        }
        if (Status paced = m_layer->keepPace(); !paced)
            return paced;
        // One changed since the survey, or holding one, is left as it is, and named once.
        m_folders->noteLeft(m_layer->takeFoldersLeft());
        if (m_folders->isLeft(i) || m_folders->holdsLeft(i))
            continue;
        const Result<bool> removed = m_layer->removeFolder(*m_source, m_places[i].name, m_places[i].id);
        if (!removed && m_folders->noteChanged(i, removed.error()))
            continue;
        if (!removed)
            return removed.error();
        if (!removed.value())
            m_foldersKeptForDownloads.push_back(folder);
        else
            ++m_foldersRemoved;
    }
    return {};
}

MoveRunResult MoveRun::finish(MoveOutcome outcome, std::optional<Error> error) {
    // Back in the source parent folder, as after a completed run; a failure here adds nothing
    // the user could act on.
    if (m_source)
        (void)m_layer->enterFolder(*m_source);
    m_crossDeviceMoves.discard();
    m_lookahead.reset();
    // However the run ends, what waits for the Trash goes in now; one that cannot is a failure.
    if (Status settled = m_layer->settle(); !settled && outcome != MoveOutcome::Failed) {
        outcome = MoveOutcome::Failed;
        error = settled.error();
    }
    if (m_folders)
        m_folders->noteLeft(m_layer->takeFoldersLeft());
    return {outcome,
            std::move(error),
            m_foldersWithFiles,
            m_downloadsLeft,
            m_foldersKeptForDownloads,
            m_namesTooLong,
            m_foldersKeptForLongNames,
            m_longestName,
            m_namesRefusedByDisk,
            m_specialFiles,
            m_foldersRemoved,
            m_numbering.numbersSkipped(),
            m_folders ? m_folders->changed() : std::vector<ChangedFolder>{},
            m_destinationDisk};
}

} // namespace corvalin
