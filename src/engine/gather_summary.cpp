#include "engine/gather_summary.h"

#include "naming/serial_name.h"
#include "platform/file_ops.h"

#include <algorithm>
#include <charconv>

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

// The number a serial-numbered name begins with ("000042 cat.jpg", "-000001 cat.jpg").
std::optional<std::int32_t> numberOf(std::string_view newName) {
    const std::size_t blank = newName.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    std::int32_t number = 0;
    const auto [end, error] = std::from_chars(newName.data(), newName.data() + blank, number);
    if (error != std::errc() || end != newName.data() + blank)
        return std::nullopt;
    return number;
}

} // namespace

std::string gatherSummary(MoveOutcome outcome, const GatherCounts& counts, RemovalChoices removed) {
    std::string text =
        std::string(outcomeText(outcome)) + ": 画像 " + std::to_string(counts.pictures) + " 個を移動しました";
    if (counts.firstNumber && counts.lastNumber)
        text += "（" + numberText(*counts.firstNumber) + "〜" + numberText(*counts.lastNumber) +
                (counts.numbersSkipped > 0
                     ? "、すでにあった番号 " + std::to_string(counts.numbersSkipped) + " 個は飛ばしました"
                     : "") +
                "）";
    text += "。";
    // Said only when there are any, so that the line of a run without them stays as it was.
    if (counts.duplicates > 0)
        text += "移動先と同じ内容の画像 " + std::to_string(counts.duplicates) + " 個、";
    text += "ほかのファイル " + std::to_string(counts.others) + " 個";
    if (counts.unchosenPictures > 0)
        text += "（うち、選んでいない形式の画像 " + std::to_string(counts.unchosenPictures) + " 個）";
    if (removed.childFolders && outcome == MoveOutcome::Completed)
        text += "と子フォルダ " + std::to_string(counts.childFolders) + " 個";
    return text + (removed.permanent ? "を削除しました。" : "をごみ箱に入れました。");
}

void GatherTally::fileStarted(const fs::path& file) {
    settle();
    m_inHand = Handled{file, ++m_handled, std::nullopt, false, false};
}

void GatherTally::nameChosen(std::string_view newName) {
    if (m_inHand)
        m_inHand->number = numberOf(newName);
}

void GatherTally::duplicateFound() {
    if (m_inHand) {
        m_inHand->duplicate = true;
        m_inHand->number.reset();
    }
}

void GatherTally::fileLeft() {
    if (m_inHand)
        m_inHand->left = true;
}

void GatherTally::settle() {
    if (m_inHand && !countIfGone(*m_inHand))
        m_waiting.push_back(std::move(*m_inHand));
    m_inHand.reset();
}

// Pictures leave with their batches and removed files with the Trash's flushes, each in the order
// they were handled: in each of the two, the first file still in its folder holds back the ones
// after it, which are then not looked at (thousands may wait for the Trash at a folder's end).
void GatherTally::folderFinished() {
    bool picturesWait = false;
    bool removalsWait = false;
    std::erase_if(m_waiting, [&](const Handled& handled) {
        bool& streamWaits = handled.number ? picturesWait : removalsWait;
        if (streamWaits)
            return false;
        const bool gone = countIfGone(handled);
        streamWaits = !gone;
        return gone;
    });
}

const GatherCounts& GatherTally::finish() {
    settle();
    std::erase_if(m_waiting, [this](const Handled& handled) { return countIfGone(handled); });
    return m_counts;
}

// The numbers shown are those of the first and the last picture handled that left, whichever
// order their batches put them in place.
bool GatherTally::countIfGone(const Handled& handled) {
    if (!handled.left && lookupEntry(handled.file) != EntryKind::None)
        return false;
    if (handled.duplicate) {
        ++m_counts.duplicates;
        return true;
    }
    if (!handled.number) {
        ++m_counts.others;
        if (unchosenPictureEnding(handled.file.filename().native(), m_types))
            ++m_counts.unchosenPictures;
        return true;
    }
    ++m_counts.pictures;
    if (!m_counts.firstNumber || handled.order < m_firstOrder) {
        m_counts.firstNumber = handled.number;
        m_firstOrder = handled.order;
    }
    if (!m_counts.lastNumber || handled.order > m_lastOrder) {
        m_counts.lastNumber = handled.number;
        m_lastOrder = handled.order;
    }
    return true;
}

} // namespace corvalin
