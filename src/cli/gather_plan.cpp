#include "cli/gather_plan.h"

#include "app/error_text.h"
#include "cli/command.h"
#include "cli/terminal.h"
#include "plan/plan_text.h"
#include "platform/name_text.h"

namespace corvalin {

namespace {

void printRows(const MovePlan& plan, Terminal& terminal) {
    for (const PlanPicture& picture : plan.pictures)
        terminal.result("移動: " + legibleName(picture.from) + " → " + legibleName(picture.newName));
    for (const PlanRemoval& removal : plan.removals)
        terminal.result("削除: " + legibleName(removal.path));
    for (const PlanDuplicate& duplicate : plan.duplicates)
        terminal.result("同じ内容の画像の削除: " + legibleName(duplicate.path) + " = " +
                        legibleName(duplicate.twin));
    for (const PlanFolder& folder : plan.folders)
        terminal.result("フォルダの削除: " + legibleName(folder.path) + "（隠しファイルなど " +
                        std::to_string(folder.hiddenItems) + " 個）");
    for (const std::filesystem::path& left : plan.downloadsLeft)
        terminal.result("ダウンロード中のため残す: " + legibleName(left.native()));
    for (const PlanProblem& problem : plan.problems)
        terminal.result("問題: " + legibleName(problem.path) + ": " + problem.text);
}

} // namespace

int printGatherPlan(const Module1& vars, const SettingsFiles& files, const PlanRequest& request,
                    bool deleteUnchosenPictures, Terminal& terminal) {
    const MovePlan plan = makeMovePlan(vars, files, request);
    for (const std::string& line : planSummary(plan))
        terminal.result(line);
    printRows(plan, terminal);
    if (plan.error)
        terminal.message(describeErrorLine(*plan.error));
    const EndingCounts unchosen = plan.permanent ? unchosenPicturesOf(plan) : EndingCounts{};
    const bool refused = !unchosen.empty() && !deleteUnchosenPictures;
    if (refused)
        terminal.message(unchosenPicturesRefusal(unchosen, true));
    return plan.outcome == MoveOutcome::Failed || refused ? kExitFailed : kExitDone;
}

} // namespace corvalin
