#include "engine/file_layer.h"

#include "engine/download_markers.h"
#include "platform/file_ops.h"

namespace corvalin {

namespace fs = std::filesystem;

DiskLayer::DiskLayer(SettingsFiles files, Removal removal)
    : m_counter(std::move(files)), m_removal(std::move(removal)) {}

void DiskLayer::setJournal(RunJournal* journal) {
    m_journal = journal;
    if (journal)
        m_removal =
            m_removal.withHook([journal](const RemovalStep& step) { return journal->recordRemoval(step); });
}

Status DiskLayer::checkRemovalUsable(const fs::path& source) {
    return m_removal.checkUsable(source);
}

Status DiskLayer::prepareDestination(const fs::path& destination) {
    return recoverInterruptedMoves(destination);
}

Status DiskLayer::writeCounter(std::int32_t serialNo) {
    return m_counter.write(serialNo);
}

Status DiskLayer::enterFolder(const fs::path& folder) {
    return setWorkingFolder(folder);
}

Status DiskLayer::makeWritable(const fs::path& file) {
    return setNormalAttributes(file);
}

Status DiskLayer::movePicture(std::int32_t serialNo, const fs::path& from, const fs::path& to) {
    if (m_journal) {
        if (Status recorded = m_journal->recordMove(serialNo, from, to); !recorded)
            return recorded;
    }
    return moveNoReplace(from, to);
}

Status DiskLayer::removeFile(const fs::path& file) {
    return m_removal.removeFile(file).status();
}

Result<bool> DiskLayer::removeFolder(const fs::path& folder) {
    return m_removal.removeFolderUnless(folder, isDownloadMarker);
}

Status DiskLayer::folderDone() {
    return m_journal ? m_journal->flush() : Status();
}

} // namespace corvalin
