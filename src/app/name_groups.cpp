#include "app/name_groups.h"

#include "platform/name_text.h"

namespace corvalin {

namespace {

constexpr std::size_t kNamesShown = 5;

} // namespace

std::string describeNameGroup(const std::string& heading, const std::vector<std::string>& names) {
    if (names.empty())
        return {};
    std::string text = "\n\n" + heading + "：" + std::to_string(names.size()) + "個";
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        text += "\n  " + legibleName(names[i]);
    if (names.size() > kNamesShown)
        text += "\n  ほか" + std::to_string(names.size() - kNamesShown) + "個";
    return text;
}

} // namespace corvalin
