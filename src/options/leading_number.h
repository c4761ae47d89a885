#pragma once

#include <cstddef>
#include <string_view>

namespace corvalin {

// The number at the start of a number box's text (UTF-8): leading blanks skipped, an optional
// sign, digits with an optional decimal point and fraction, an optional exponent (E or e), read up
// to the first character that cannot continue the number. Text typed in full-width mode reads as
// its half-width form ("１２" is 12, a full-width blank is a blank). A text that does not start
// with a number gives 0; a number too large for a double gives an infinity of its sign.
double readLeadingNumber(std::string_view text);

// How many characters (code points) a UTF-8 text holds.
std::size_t characterCount(std::string_view text);

} // namespace corvalin
