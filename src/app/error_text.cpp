#include "app/error_text.h"

#include "platform/name_text.h"

namespace corvalin {

std::string describeError(const Error& error) {
    std::string text = error.operation + "ができませんでした。\n" + legibleName(error.path.native());
    const std::string why = error.reason();
    if (!why.empty())
        text += "\n" + why;
    if (!error.advice.empty())
        text += "\n\n" + error.advice;
    return text;
}

} // namespace corvalin
