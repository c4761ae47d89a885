#include "history/history_texts.h"

#include "app/name_groups.h"
#include "naming/serial_name.h"
#include "platform/name_text.h"

#include <ctime>

namespace corvalin {

const char* undoLeftReasonText(UndoLeftReason reason) {
    switch (reason) {
    case UndoLeftReason::NameTaken:
        return "元の場所に同じ名前のものがあるため、そのまま残したもの";
    case UndoLeftReason::Changed:
        return "実行の後で名前の変更・編集・移動・削除があったため、そのまま残したもの";
    case UndoLeftReason::NotEmpty:
        return "中にファイルなどがあるため、そのまま残したフォルダ";
    case UndoLeftReason::FolderGone:
        return "元のフォルダがないため、そのまま残したもの";
    case UndoLeftReason::DeletedForGood:
        return "ごみ箱を使わずに削除されていて、戻せないもの";
    case UndoLeftReason::DuplicateGone:
        return "同じ内容の画像が移動先にあるため、ごみ箱を使わずに削除されていたもの（→ "
               "の先に同じ内容の画像があります）";
    case UndoLeftReason::OutsideTheRun:
        return "記録の場所がこの実行のフォルダやごみ箱の外を指しているため、戻さなかったもの";
    }
    return "";
}

std::string leftItemText(const UndoLeftItem& item) {
    const std::string path = legibleName(item.path.native());
    return item.twin.empty() ? path : path + " → " + legibleName(item.twin.native());
}

namespace {

std::vector<std::string> namesLeftFor(const UndoOutcome& outcome, UndoLeftReason reason) {
    std::vector<std::string> names;
    for (const UndoLeftItem& item : outcome.left) {
        if (item.reason == reason)
            names.push_back(leftItemText(item));
    }
    return names;
}

std::string countLine(const char* label, int count) {
    return "\n" + std::string(label) + "：" + std::to_string(count) + "個";
}

} // namespace

std::string kindText(RunKind kind) {
    switch (kind) {
    case RunKind::Move:
        return "移動";
    case RunKind::Strip:
    case RunKind::StripIntoSubfolder:
        return "番号の削除";
    case RunKind::MakeFolders:
        return "フォルダ作成";
    case RunKind::RemoveFolder:
        return "フォルダ削除";
    }
    return "";
}

std::string stateText(RunState state) {
    switch (state) {
    case RunState::Completed:
        return "完了";
    case RunState::Interrupted:
        return "中断";
    case RunState::Undone:
        return "取り消し済み";
    case RunState::UndoInterrupted:
        return "取り消し中断";
    case RunState::Running:
        return "実行中";
    case RunState::Damaged:
        return "記録が壊れています";
    }
    return "";
}

std::string dateTimeText(std::int64_t secondsSinceEpoch) {
    const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&time, &local))
        std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

std::string serialRangeText(const RunSummary& run) {
    if (!run.firstSerialNo)
        return {};
    const std::string first = serialPrefix(*run.firstSerialNo);
    const std::string last = serialPrefix(*run.lastSerialNo);
    // The prefixes end with their blank.
    return first.substr(0, first.size() - 1) + "〜" + last.substr(0, last.size() - 1);
}

std::string runCountsText(const RunSummary& run) {
    // The window's column headings; the pictures always (a strip's files, pictures or not), the rest
    // where the run did any.
    const bool strip = run.kind == RunKind::Strip || run.kind == RunKind::StripIntoSubfolder;
    std::string text = (strip ? "ファイル " : "画像 ") + std::to_string(run.picturesMoved + run.filesRenamed);
    if (run.filesTrashed > 0 || run.filesDeleted > 0)
        text += "  ごみ箱へ " + std::to_string(run.filesTrashed);
    if (run.filesDeleted > 0)
        text += "（完全に削除 " + std::to_string(run.filesDeleted) + "）";
    if (run.foldersRemoved > 0)
        text += "  削除フォルダ " + std::to_string(run.foldersRemoved);
    if (run.foldersMade > 0)
        text += "  作成フォルダ " + std::to_string(run.foldersMade);
    return text;
}

std::string undoQuestion(const RunSummary& run) {
    std::string text = dateTimeText(run.time) + "の「" + kindText(run.kind) + "」を元に戻しますか？\n" +
                       legibleName(run.source.native()) +
                       "\n\n同じ名前のものがある場所には戻さず、実行の後で変わった"
                       "ファイルにも触れません。";
    if (run.state == RunState::Undone)
        text += std::string("\n\n") + kAlreadyUndoneText;
    if (run.kind == RunKind::Move)
        text += std::string("\n\n") + kSerialNumbersKeptText;
    return text;
}

std::string undoSummary(const UndoOutcome& outcome, const std::string& howToGoOn) {
    std::string text = outcome.stopped || outcome.error ? "元に戻す処理を途中で止めました。" + howToGoOn
                                                        : "元に戻しました。";
    text += countLine("戻したもの", outcome.cameBack);
    if (outcome.alreadyBack > 0)
        text += countLine("前回までに戻っていたもの", outcome.alreadyBack);
    if (!outcome.left.empty())
        text += countLine("そのまま残したもの", static_cast<int>(outcome.left.size()));
    if (outcome.journalEndsAfterLine)
        text += "\n" + journalEndText(*outcome.journalEndsAfterLine) +
                "それより後に記録されていたものは戻していません。";
    return text;
}

std::string journalEndText(std::size_t lastLine) {
    return "この実行の記録は途中で切れているか壊れていて、" + std::to_string(lastLine) +
           "行目までしか読めません。";
}

std::string journalEndTextOf(const RunSummary& run) {
    if (run.damage)
        return {};
    const Result<JournalContents> contents = readJournal(run.file);
    const std::optional<std::size_t> lastLine = contents ? lastLineRead(contents.value()) : std::nullopt;
    return lastLine ? journalEndText(*lastLine) : std::string();
}

std::string describeUndo(const UndoOutcome& outcome) {
    std::string text = undoSummary(outcome, "もう一度「元に戻す」を選ぶと続きを戻します。");
    for (const UndoLeftReason reason :
         {UndoLeftReason::NameTaken, UndoLeftReason::Changed, UndoLeftReason::NotEmpty,
          UndoLeftReason::FolderGone, UndoLeftReason::DeletedForGood, UndoLeftReason::DuplicateGone,
          UndoLeftReason::OutsideTheRun})
        text += describeNameGroup(undoLeftReasonText(reason), namesLeftFor(outcome, reason));
    return text;
}

} // namespace corvalin
