#include "cli/gather_observer.h"

#include "naming/serial_name.h"
#include "platform/file_ops.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

std::string numberText(std::int32_t number) {
    std::string prefix = serialPrefix(number);
    prefix.pop_back(); // the blank before a name
    return prefix;
}

const char* outcomeText(MoveOutcome outcome) {
    switch (outcome) {
    case MoveOutcome::Completed:
        return "完了";
    case MoveOutcome::Cancelled:
        return "中断";
    case MoveOutcome::Failed:
        return "中止";
    }
    return "";
}

} // namespace

std::string gatherSummary(MoveOutcome outcome, const GatherCounts& counts, RemovalChoices removed) {
    std::string text =
        std::string(outcomeText(outcome)) + ": 画像 " + std::to_string(counts.pictures) + " 個を移動しました";
    if (counts.firstNumber && counts.lastNumber)
        text += "（" + numberText(*counts.firstNumber) + "〜" + numberText(*counts.lastNumber) + "）";
    text += "。ほかのファイル " + std::to_string(counts.others) + " 個";
    if (removed.childFolders && outcome == MoveOutcome::Completed)
        text += "と子フォルダ";
    return text + (removed.permanent ? "を削除しました。" : "をごみ箱に入れました。");
}

GatherObserver::GatherObserver(const Module1& vars, fs::path destination, CommandContext& context)
    : m_vars(vars), m_destination(std::move(destination)), m_context(context) {}

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
    countFileInHand();
    drawProgress(total - remaining - 1, total);
}

void GatherObserver::previewRequested(const fs::path& file) {
    m_inHand = file;
}

// Called again with the next number while a name is taken; the last call is the number it gets.
void GatherObserver::newNameChosen(const std::string&) {
    m_inHandNumber = m_vars.SerialNo;
}

const GatherCounts& GatherObserver::finish() {
    countFileInHand();
    return m_counts;
}

// The file in hand counts once it is gone from its folder: a failure may have struck it, and a
// download still arriving stays where it is.
void GatherObserver::countFileInHand() {
    if (m_inHand.empty() || lookupEntry(m_inHand) != EntryKind::None) {
        m_inHand.clear();
        m_inHandNumber.reset();
        return;
    }
    if (m_inHandNumber) {
        ++m_counts.pictures;
        if (!m_counts.firstNumber)
            m_counts.firstNumber = m_inHandNumber;
        m_counts.lastNumber = m_inHandNumber;
    } else {
        ++m_counts.others;
    }
    m_inHand.clear();
    m_inHandNumber.reset();
}

void GatherObserver::drawProgress(long done, long total) {
    m_context.terminal.progress("フォルダ " + std::to_string(m_folder) + "/" + std::to_string(m_folderCount) +
                                "  ファイル " + std::to_string(done) + "/" + std::to_string(total) + "  " +
                                m_pace.text(m_counts.pictures, "枚", done, total));
}

} // namespace corvalin
