#include "app/error_text.h"

namespace corvalin {

namespace {
const char* const kCouldNot = "ができませんでした";
} // namespace

std::string describeError(const Error& error) {
    std::string text = error.operation + kCouldNot + "。\n" + error.path.native();
    const std::string why = error.reason();
    if (!why.empty())
        text += "\n" + why;
    return text;
}

std::string describeErrorLine(const Error& error) {
    std::string text = error.operation + kCouldNot + ": " + error.path.native();
    const std::string why = error.reason();
    if (!why.empty())
        text += ": " + why;
    return text;
}

std::string otherInstanceText(const std::filesystem::path& settingsFolder) {
    return "別の Corvalin が同じ設定フォルダを使っています。終わってから、もう一度実行して下さい: " +
           settingsFolder.native();
}

} // namespace corvalin
