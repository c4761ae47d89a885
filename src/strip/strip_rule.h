#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The serial prefix that the move run puts in front of a name ("000042 cat.jpg") and its removal.
//
// Names are byte strings. A name that is valid UTF-8 is counted in characters, so "あいうえおか x.jpg"
// carries a prefix just as "000042 x.jpg" does; any other name (an archive's Shift-JIS name, say) is
// counted in bytes. Either way the cut falls right after a blank byte, which never belongs to a
// multi-byte character, so a cut never splits one.
namespace corvalin {

// The byte offset just past the seventh character when that character is a blank; nothing when the
// name is shorter or its seventh character is something else. The first six are not examined.
std::optional<std::size_t> serialPrefixEnd(std::string_view name);

// The name without its first seven characters, when it is longer than seven characters and its
// seventh is a blank; otherwise nothing (the name is left alone). Removes one prefix only.
std::optional<std::string> strippedName(std::string_view name);

} // namespace corvalin
