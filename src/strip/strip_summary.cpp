#include "strip/strip_summary.h"

#include "platform/name_text.h"

namespace corvalin {

namespace {

constexpr std::size_t namesShownPerReason = 5;

void describeReason(const StripOutcome& outcome, LeftReason reason, std::string& text) {
    std::size_t count = 0;
    std::string names;
    for (const LeftFile& file : outcome.left) {
        if (file.reason != reason)
            continue;
        if (++count <= namesShownPerReason)
            names += "\n  " + legibleName(file.name);
    }
    if (count == 0)
        return;
    text += "\n\n" + std::string(leftReasonText(reason)) + "：" + std::to_string(count) + "個" + names;
    if (count > namesShownPerReason)
        text += "\n  ほか" + std::to_string(count - namesShownPerReason) + "個";
}

} // namespace

const char* leftReasonText(LeftReason reason) {
    switch (reason) {
    case LeftReason::NameTaken:
        return "切り取った後の名前がすでにあるため、そのまま残したファイル";
    case LeftReason::NameDotted:
        return "切り取ると名前が「.」で始まる（隠しファイルになる）ため、そのまま残したファイル";
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
    for (const LeftReason reason : {LeftReason::NameTaken, LeftReason::NameDotted, LeftReason::NoLongerThere})
        describeReason(outcome, reason, text);
    return text;
}

} // namespace corvalin
