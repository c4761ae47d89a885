#pragma once

#include "history/run_history.h"
#include "history/undo.h"

#include <string>

// The words the history window (and the command line) shows for past runs and their undo. UTF-8;
// paths keep their bytes.
namespace corvalin {

std::string kindText(RunKind kind);    // 移動, 番号の削除, フォルダ作成, フォルダ削除
std::string stateText(RunState state); // 完了, 中断, 取り消し済み, ...
// Local date and time, "2024/05/01 14:22:33".
std::string dateTimeText(std::int64_t secondsSinceEpoch);
// "000040〜000045", or empty when the run handed out no number.
std::string serialRangeText(const RunSummary& run);

// Asked before an undo starts.
std::string undoQuestion(const RunSummary& run);

// The end of an undo: how many came back, how many were left and why, with the first names.
std::string describeUndo(const UndoOutcome& outcome);
// Its first part: whether the undo went through (when it stopped, `howToGoOn` says how to undo the
// rest), and the counts, a line each.
std::string undoSummary(const UndoOutcome& outcome, const std::string& howToGoOn);
// That a run's journal does not read to its end: the line of the last record it could read.
std::string journalEndText(std::size_t lastLine);
// The same for the journal of a listed run; empty when it reads whole (or does not read at all).
std::string journalEndTextOf(const RunSummary& run);
// The heading of the things left for one reason.
const char* undoLeftReasonText(UndoLeftReason reason);
// The item's path, and for a duplicate deleted for good the picture with its bytes.
std::string leftItemText(const UndoLeftItem& item);

// What a run's counts are, on one line: "画像 5  ごみ箱へ 2（完全に削除 1）  削除フォルダ 3".
std::string runCountsText(const RunSummary& run);

inline constexpr const char* kAlreadyUndoneText =
    "この実行はすでに取り消されています。まだ戻っていないものだけを戻します。";

// The history holds no run yet.
inline constexpr const char* kNoRunsYetText = "まだ実行の記録はありません。";

inline constexpr const char* kSerialNumbersKeptText =
    "通し番号は元に戻りません（一つのフォルダで同じ番号が二度使われることはありません）。";

} // namespace corvalin
