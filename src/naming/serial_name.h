#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The serial-numbered file name: six zero-padded digits of the running number, one blank, then
// the name without any serial prefix it already carried. The strip runs undo it.
namespace corvalin {

// The highest number a prefix shows; the next one wraps to 0.
constexpr std::int32_t kHighestSerialNo = 999999;

// The byte offset just past the prefix (7) when the name carries one: six ASCII digits and a blank,
// the form every name this program numbers has. Any other name is the user's own and is left whole:
// "Sunset beach.jpg" keeps its first word.
std::optional<std::size_t> serialPrefixEnd(std::string_view name);

// The number a name carries in its prefix, when it has one.
std::optional<std::int32_t> serialNumberOf(std::string_view name);

// The name without its serial prefix.
std::string baseName(std::string_view listedName);

// A picture's name ends in the characters "jpg", "jpeg" or "bmp", in any letter case; no dot is
// needed. Characters as the lists read them, so a CP932 character whose second byte is "j" is no "j".
bool isPicture(std::string_view name);

// Above the highest number the count starts again at 0. Negative numbers stay as they are.
std::int32_t wrapSerialNo(std::int32_t serialNo);

// "000042 ": at least six digits, zero-padded, a minus sign before them when negative, one blank.
std::string serialPrefix(std::int32_t serialNo);

// The prefix followed by the base name of `listedName`.
std::string serialName(std::int32_t serialNo, std::string_view listedName);

} // namespace corvalin
