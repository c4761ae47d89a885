#pragma once

#include <optional>
#include <string>
#include <string_view>

// Removing the serial prefix that the move run puts in front of a name ("000042 cat.jpg"). Where a
// prefix ends is the naming rule's business (serialPrefixEnd); this is its inverse.
namespace corvalin {

// The name without its serial prefix (six ASCII digits and a blank) when it carries one and is longer
// than the prefix; otherwise nothing (the name is left alone). Removes one prefix only.
std::optional<std::string> strippedName(std::string_view name);

} // namespace corvalin
