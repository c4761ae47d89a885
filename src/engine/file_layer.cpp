#include "engine/file_layer.h"

#include "engine/download_markers.h"
#include "history/unclean_end.h"
#include "platform/file_ops.h"

#include <sys/stat.h>

namespace corvalin {

namespace fs = std::filesystem;

DiskLayer::DiskLayer(SettingsFiles files, Removal removal)
    : m_counter(std::move(files)), m_removal(std::move(removal)) {}

void DiskLayer::setJournal(RunJournal* journal) {
    m_journal = journal;
    if (journal)
        m_removal = journal->recordingRemoval(m_removal, &m_twin);
}

Status DiskLayer::checkRemovalUsable(const fs::path& source) {
    return m_removal.checkUsable(source);
}

// Copies a stick pulled out or a kill left here are finished or withdrawn before the run adds its
// own; a move this run finishes is recorded in its journal first, so that undo can put it back.
Status DiskLayer::prepareDestination(const HeldFolder& destination) {
    if (!m_journal)
        return recoverInterruptedMoves(destination);
    return recoverInterruptedMoves(destination, [this](const std::vector<InterruptedMove>& moves) {
        return recordMovesFinished(*m_journal, moves);
    });
}

Status DiskLayer::writeCounter(std::int32_t serialNo) {
    return m_counter.write(serialNo);
}

Status DiskLayer::enterFolder(const HeldFolder& folder) {
    return folder.enter();
}

Status DiskLayer::movePicture(std::int32_t serialNo, const HeldFolder& from, const std::string& name,
                              const HeldEntry& picture, const HeldFolder& to, const std::string& newName) {
    if (m_journal) {
        if (Status recorded =
                m_journal->recordMove(serialNo, from.pathOf(name), to.pathOf(newName), picture.identity);
            !recorded)
            return recorded;
    }
    // A move that fails leaves the picture where it was and nothing under its new name.
    const Status moved = from.moveTo(name, to, newName);
    if (!moved && m_journal)
        takeBackRecord();
    if (!moved || (picture.mode & S_IWUSR))
        return moved;
    // Only once it has arrived: a picture that could not be moved keeps its mode.
    return to.setMode(newName, (picture.mode & 07777) | S_IWUSR);
}

Status DiskLayer::removeFile(const HeldFolder& folder, const std::string& name) {
    const std::size_t line = m_journal ? m_journal->nextLine() : 0;
    return afterRemoval(line, m_removal.removeFile(folder, name).status(), folder, name, false);
}

Status DiskLayer::removeDuplicate(const HeldFolder& folder, const std::string& name, const fs::path& twin) {
    m_twin = twin;
    const Status removed = removeFile(folder, name);
    m_twin.clear();
    return removed;
}

// A folder kept for a download is not recorded; one that could not go may still be.
Result<bool> DiskLayer::removeFolder(const HeldFolder& parent, const std::string& name,
                                     const FolderId& expected) {
    const std::size_t line = m_journal ? m_journal->nextLine() : 0;
    const Result<bool> removed = m_removal.removeFolderUnless(parent, name, isDownloadMarker, &expected);
    if (!removed)
        return afterRemoval(line, removed.error(), parent, name, true).error();
    return removed;
}

// A removal that failed with its item still in place changed nothing: into the Trash it is one
// rename, for good a file is one unlink. A folder deleted for good may have lost part of what it
// held, so its record stays for undo to judge.
Status DiskLayer::afterRemoval(std::size_t line, Status removed, const HeldFolder& folder,
                               const std::string& name, bool isFolder) {
    const bool recorded = m_journal && m_journal->nextLine() > line;
    if (removed || !recorded || (isFolder && m_removal.permanent()))
        return removed;
    const Result<HeldEntry> still = folder.lookup(name);
    if (still && still.value().kind != HeldEntry::Kind::None)
        takeBackRecord();
    return removed;
}

// The journal then says only what was done. Should the record stay (the journal cannot be cut),
// undo finds the item where it was and leaves it: the failure of the action is what the user must
// hear of.
void DiskLayer::takeBackRecord() {
    (void)m_journal->takeBackLast();
}

Status DiskLayer::keepPace() {
    return m_journal ? m_journal->flushIfDue() : Status();
}

Status DiskLayer::settle() {
    return m_journal ? m_journal->settle() : Status();
}

std::vector<FolderLeft> DiskLayer::takeFoldersLeft() {
    const std::shared_ptr<TrashQueue> waiting = m_removal.waitingItems();
    return waiting ? waiting->takeFoldersLeft() : std::vector<FolderLeft>{};
}

} // namespace corvalin
