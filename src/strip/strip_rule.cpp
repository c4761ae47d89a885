#include "strip/strip_rule.h"

#include "platform/utf8.h"

namespace corvalin {

namespace {

constexpr std::size_t prefixCharacters = 7;

} // namespace

std::optional<std::size_t> serialPrefixEnd(std::string_view name) {
    std::size_t at = 0;
    if (isValidUtf8(name)) {
        for (std::size_t counted = 1; counted < prefixCharacters && at < name.size(); ++counted)
            at += utf8SequenceLength(name, at);
    } else {
        at = prefixCharacters - 1;
    }
    if (at >= name.size() || name[at] != ' ')
        return std::nullopt;
    return at + 1;
}

std::optional<std::string> strippedName(std::string_view name) {
    const std::optional<std::size_t> end = serialPrefixEnd(name);
    if (!end || *end >= name.size())
        return std::nullopt;
    return std::string(name.substr(*end));
}

} // namespace corvalin
