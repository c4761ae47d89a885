#include "cli/gather_observer.h"

namespace corvalin {

namespace fs = std::filesystem;

GatherObserver::GatherObserver(fs::path destination, CommandContext& context)
    : m_destination(std::move(destination)), m_context(context) {}

void GatherObserver::surveyStarted() {
    ++m_foldersFound;
    m_context.terminal.progress("フォルダ構成を調査中 " + std::to_string(m_foldersFound));
}

void GatherObserver::surveyCountsShown(int, int folderCount, long) {
    m_folderCount = folderCount;
}

void GatherObserver::folderStarted(const fs::path&) {
    ++m_folder;
}

// A file's turn begins: the one before it is done.
void GatherObserver::fileProgress(long remaining, long total) {
    if (!m_moving) {
        m_moving = true;
        m_pace.restart();
    }
    m_tally.settle();
    drawProgress(total - remaining - 1, total);
}

void GatherObserver::previewRequested(const fs::path& file) {
    m_tally.fileStarted(file);
}

void GatherObserver::newNameChosen(const std::string& name) {
    m_tally.nameChosen(name);
}

void GatherObserver::duplicateFound(const fs::path&, const fs::path&) {
    m_tally.duplicateFound();
}

void GatherObserver::fileLeft() {
    m_tally.fileLeft();
}

void GatherObserver::folderFinished(const fs::path&) {
    m_tally.folderFinished();
}

bool GatherObserver::deleteUnchosenPictures(const std::map<std::string, std::size_t>& byEnding) {
    if (!m_unchosenAllowed)
        m_refusedUnchosen = byEnding;
    return m_unchosenAllowed;
}

const GatherCounts& GatherObserver::finish() {
    return m_tally.finish();
}

void GatherObserver::drawProgress(long done, long total) {
    m_context.terminal.progress("フォルダ " + std::to_string(m_folder) + "/" + std::to_string(m_folderCount) +
                                "  ファイル " + std::to_string(done) + "/" + std::to_string(total) + "  " +
                                m_pace.text(m_tally.counts().pictures, "枚", done, total));
}

} // namespace corvalin
