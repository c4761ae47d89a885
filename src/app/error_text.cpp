#include "app/error_text.h"

#include "platform/name_text.h"

namespace corvalin {

namespace {

std::string describe(const Error& error, const char* beforePath, const char* beforeReason,
                     const char* beforeAdvice) {
    std::string text = error.operation + "ができませんでした" + beforePath;
    if (!error.file.empty())
        text += legibleName(error.file.native()) + " → ";
    text += legibleName(error.path.native());
    const std::string why = error.reason();
    if (!why.empty())
        text += beforeReason + why;
    if (!error.advice.empty())
        text += beforeAdvice + error.advice;
    return text;
}

} // namespace

std::string describeError(const Error& error) {
    return describe(error, "。\n", "\n", "\n\n");
}

std::string describeUnreadyFolder(const Error& error) {
    return legibleName(error.path.native()) + "\n" + error.reason();
}

std::string describeErrorLine(const Error& error) {
    return describe(error, ": ", ": ", " ");
}

std::string otherInstanceText(const std::filesystem::path& settingsFolder) {
    return "別の Corvalin が同じ設定フォルダを使っています。終わってから、もう一度実行して下さい: " +
           settingsFolder.native();
}

} // namespace corvalin
