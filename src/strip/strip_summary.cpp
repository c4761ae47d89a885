#include "strip/strip_summary.h"

#include "app/name_groups.h"
#include "platform/name_text.h"

namespace corvalin {

namespace {

std::vector<std::string> namesLeftFor(const StripOutcome& outcome, LeftReason reason) {
    std::vector<std::string> names;
    for (const LeftFile& file : outcome.left) {
        if (file.reason == reason)
            names.push_back(file.name);
    }
    return names;
}

} // namespace

std::string stripSummary(const StripOutcome& outcome, const std::filesystem::path& subfolder) {
    const char* state = outcome.error ? "中止" : outcome.stopped ? "中断" : "完了";
    std::string line =
        std::string(state) + ": 通し番号を切り取ったファイル " + std::to_string(outcome.stripped) + " 個";
    if (!subfolder.empty())
        line += "（サブフォルダ「" + legibleName(subfolder.filename().native()) + "」へ移動）";
    return line;
}

const char* leftReasonText(LeftReason reason) {
    switch (reason) {
    case LeftReason::NameTaken:
        return "切り取った後の名前がすでにあるため、そのまま残したファイル";
    case LeftReason::NameDotted:
        return "切り取ると名前が「.」で始まる（隠しファイルになる）ため、そのまま残したファイル";
    case LeftReason::NameEmpty:
        return "切り取ると名前がなくなるため、そのまま残したファイル";
    case LeftReason::NoLongerThere:
        return "一覧を読んだ後に移動か削除されていて、見つからなかったファイル";
    }
    return "";
}

std::string leftFilesHeadline(const StripOutcome& outcome) {
    return "通し番号を切り取れなかったファイルが" + std::to_string(outcome.left.size()) +
           "個あります。\n（切り取ったファイルは" + std::to_string(outcome.stripped) + "個です。）";
}

std::string describeLeftFiles(const StripOutcome& outcome) {
    if (outcome.left.empty())
        return {};
    std::string text = leftFilesHeadline(outcome);
    for (const LeftReason reason :
         {LeftReason::NameTaken, LeftReason::NameDotted, LeftReason::NameEmpty, LeftReason::NoLongerThere})
        text += describeNameGroup(leftReasonText(reason), namesLeftFor(outcome, reason));
    return text;
}

} // namespace corvalin
