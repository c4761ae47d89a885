#include "options/leading_number.h"

#include "platform/utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace corvalin {

namespace {

// Reads one character and gives its half-width ASCII form, or '\0' for any character that cannot
// be part of a number. Full-width forms (U+FF01..U+FF5E) map onto ASCII, the ideographic space
// onto a blank.
class NumberChars {
public:
    explicit NumberChars(std::string_view text) : m_text(text) {}

    char peek() const {
        std::size_t length = 0;
        return decode(length);
    }
    void next() {
        std::size_t length = 0;
        decode(length);
        m_pos += length;
    }

private:
    char decode(std::size_t& length) const {
        length = 1;
        if (m_pos >= m_text.size())
            return '\0';
        const auto byte = [&](std::size_t i) {
            return static_cast<unsigned char>(m_text[m_pos + i]);
        };
        if (byte(0) < 0x80)
            return static_cast<char>(byte(0));
        // The full-width forms and the ideographic space are all three-byte sequences.
        if (utf8SequenceLength(m_text, m_pos) != 3)
            return '\0';
        length = 3;
        const unsigned code = (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
        if (code == 0x3000)
            return ' ';
        if (code >= 0xFF01 && code <= 0xFF5E)
            return static_cast<char>(code - 0xFEE0);
        return '\0';
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal magnitude of a number the double could not hold tells overflow from underflow.
struct Scanned {
    std::string ascii;
    long significantIntegerDigits = 0;
    long fractionLeadingZeros = 0;
    long exponent = 0;
    bool anyDigit = false;
};

void scanMantissa(NumberChars& chars, Scanned& number) {
    bool seenNonZero = false;
    while (isDigit(chars.peek())) {
        const char digit = chars.peek();
        seenNonZero = seenNonZero || digit != '0';
        number.significantIntegerDigits += seenNonZero ? 1 : 0;
        number.ascii += digit;
        number.anyDigit = true;
        chars.next();
    }
    if (chars.peek() != '.')
        return;
    number.ascii += '.';
    chars.next();
    while (isDigit(chars.peek())) {
        const char digit = chars.peek();
        if (!seenNonZero && digit == '0')
            ++number.fractionLeadingZeros;
        seenNonZero = seenNonZero || digit != '0';
        number.ascii += digit;
        number.anyDigit = true;
        chars.next();
    }
}

// The exponent is taken only when at least one digit follows the letter and its sign.
void scanExponent(NumberChars& chars, Scanned& number) {
    NumberChars ahead = chars;
    if (ahead.peek() != 'e' && ahead.peek() != 'E')
        return;
    ahead.next();
    std::string exponent = "e";
    bool negative = false;
    if (ahead.peek() == '+' || ahead.peek() == '-') {
        negative = ahead.peek() == '-';
        exponent += ahead.peek();
        ahead.next();
    }
    if (!isDigit(ahead.peek()))
        return;
    constexpr long kSaturated = 1'000'000'000;
    long value = 0;
    while (isDigit(ahead.peek())) {
        value = std::min(kSaturated, value * 10 + (ahead.peek() - '0'));
        exponent += ahead.peek();
        ahead.next();
    }
    number.exponent = negative ? -value : value;
    number.ascii += exponent;
    chars = ahead;
}

} // namespace

double readLeadingNumber(std::string_view text) {
    NumberChars chars(text);
    while (chars.peek() == ' ' || chars.peek() == '\t')
        chars.next();
    bool negative = false;
    if (chars.peek() == '+' || chars.peek() == '-') {
        negative = chars.peek() == '-';
        chars.next();
    }
    Scanned number;
    scanMantissa(chars, number);
    if (!number.anyDigit)
        return 0.0;
    scanExponent(chars, number);

    double value = 0.0;
    const char* first = number.ascii.data();
    const char* last = first + number.ascii.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        const long magnitude =
            number.exponent + (number.significantIntegerDigits > 0 ? number.significantIntegerDigits
                                                                   : -number.fractionLeadingZeros);
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++count)
        at += std::max<std::size_t>(1, utf8SequenceLength(text, at));
    return count;
}

} // namespace corvalin
