// The number boxes' reader over arbitrary text.
#include "fuzz_checks.h"

#include "options/leading_number.h"

#include <cmath>

namespace corvalin::fuzz {

namespace {

// Any byte that can neither continue a number nor begin a UTF-8 sequence ends the number there.
constexpr std::string_view kStoppers{"x#/,\0\x7f", 6};

bool sameValue(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Printable ASCII as its full-width form (U+FF01..U+FF5E), the blank as the ideographic space;
// every other byte as it is.
std::string fullWidth(std::string_view text) {
    std::string wide;
    for (const char c : text) {
        if (c == ' ') {
            wide += "\xE3\x80\x80";
        } else if (c > ' ' && c < '\x7f') {
            const unsigned code = 0xFEE0u + static_cast<unsigned char>(c);
            wide += static_cast<char>(0xE0 | (code >> 12));
            wide += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            wide += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            wide += c;
        }
    }
    return wide;
}

void expectSame(std::string_view text, double expected, const char* what, std::string& problems) {
    const double value = readLeadingNumber(text);
    if (!sameValue(value, expected))
        problems += std::string(what) + ": " + std::to_string(value) + " instead of " +
                    std::to_string(expected) + "\n";
}

} // namespace

std::string checkLeadingNumber(std::string_view input) {
    std::string problems;
    double value = 0;
    try {
        value = readLeadingNumber(input);
        if (std::isnan(value))
            return "not a number\n";
        for (const char stopper : kStoppers)
            expectSame(std::string(input) + stopper + std::string(input), value, "garbage appended",
                       problems);
        expectSame(fullWidth(input), value, "typed in full-width mode", problems);
        // A text that starts with its digits reads the same after blanks or a sign.
        if (!input.empty() && ((input[0] >= '0' && input[0] <= '9') || input[0] == '.')) {
            expectSame(" \t" + std::string(input), value, "leading blanks", problems);
            expectSame("+" + std::string(input), value, "plus sign", problems);
            expectSame("-" + std::string(input), -value, "minus sign", problems);
        }
    } catch (...) {
        problems += "the reader threw\n";
    }
    return problems;
}

} // namespace corvalin::fuzz
