#include "naming/strip_rule.h"

#include "naming/serial_name.h"

namespace corvalin {

std::optional<std::string> strippedName(std::string_view name) {
    const std::optional<std::size_t> end = serialPrefixEnd(name);
    if (!end || *end >= name.size())
        return std::nullopt;
    return std::string(name.substr(*end));
}

} // namespace corvalin
