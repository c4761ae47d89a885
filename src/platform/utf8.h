#pragma once

#include <cstddef>
#include <string_view>

// File names and text files are byte strings; these tell whether bytes are well-formed UTF-8.
namespace corvalin {

// The length of the UTF-8 sequence starting at `at`, or 0 when it is not a valid one (overlong
// forms, surrogates and values beyond U+10FFFF included).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

bool isValidUtf8(std::string_view text);

} // namespace corvalin
