#include "app/settings_codec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace corvalin {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A text holding a quote is written as an empty text: its quote would end the field early, and
// the next start would take what stands before it for a folder the user never chose. An empty
// folder reads as a saved folder that is gone.
void appendQuoted(std::string& line, std::string_view text) {
    line += '"';
    if (text.find('"') == std::string_view::npos)
        line += text;
    line += '"';
}

// Whole numbers below 2^53 are exact in a double and print as plain digits; anything else takes
// the shortest form that reads back to the same value (1.5, 0.1, 1e+300).
std::string formatNumber(double value) {
    if (value == 0)
        return "0"; // also for -0
    char buffer[64];
    const bool wholeNumber = value == std::trunc(value) && std::fabs(value) < 9007199254740992.0;
    const auto result = wholeNumber
                            ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                            : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void appendOption(std::string& line, const OptionValue& option) {
    if (option.isNumber())
        line += formatNumber(option.asNumber());
    else if (option.isText())
        appendQuoted(line, option.asText());
}

// Counts the digits at `pos` and moves past them.
std::size_t skipDigits(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && isDigit(text[pos]))
        ++pos;
    return pos - start;
}

// [+-]digits[.digits][E[+-]digits], the whole text and nothing else.
bool isDecimalNumber(std::string_view text) {
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        ++pos;
    if (skipDigits(text, pos) == 0)
        return false;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        if (skipDigits(text, pos) == 0)
            return false;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
            ++pos;
        if (skipDigits(text, pos) == 0)
            return false;
    }
    return pos == text.size();
}

// Not a number: TypeMismatch; beyond what a double holds: Overflow. from_chars is used because it
// ignores the locale, which the window may have set to one with a decimal comma.
ReadError parseNumber(std::string_view text, double& out) {
    if (!isDecimalNumber(text))
        return ReadError::TypeMismatch;
    if (text.front() == '+')
        text.remove_prefix(1); // from_chars takes no plus sign
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc())
        return ReadError::Overflow;
    out = value;
    return ReadError::None;
}

// Independent of the floating-point rounding mode: 2.5 -> 2, 3.5 -> 4, -2.5 -> -2.
double roundHalfToEven(double value) {
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction < 0.5)
        return lower;
    if (fraction > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

} // namespace

std::string encodeSettings(const Module1& vars) {
    std::string line;
    appendQuoted(line, vars.SourcePath.native());
    line += ',';
    appendQuoted(line, vars.DestPath.native());
    line += ',';
    appendQuoted(line, vars.MakerPath.native());
    line += ',';
    line += std::to_string(vars.RunFlag);
    line += ',';
    appendOption(line, vars.OptFlags[0]);
    line += kLineEnd;
    return line;
}

std::string encodeCounter(std::int32_t serialNo) {
    return std::to_string(serialNo) + std::string(kLineEnd);
}

void FieldReader::skipBlanks() {
    while (m_pos < m_bytes.size() && isBlank(m_bytes[m_pos]))
        ++m_pos;
}

// Moves past the comma or line end that closes the current field (CR LF counts as one).
void FieldReader::skipPastTerminator() {
    const std::size_t end = m_bytes.find_first_of(",\r\n", m_pos);
    m_afterComma = false;
    if (end == std::string_view::npos) {
        m_pos = m_bytes.size();
        return;
    }
    m_pos = end + 1;
    if (m_bytes[end] == ',')
        m_afterComma = true;
    else if (m_bytes[end] == '\r' && m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
        ++m_pos;
}

ReadError FieldReader::nextField(Field& out) {
    skipBlanks();
    if (m_pos >= m_bytes.size() && !m_afterComma)
        return ReadError::EndOfFile;
    if (m_pos < m_bytes.size() && m_bytes[m_pos] == '"') {
        const std::size_t close = m_bytes.find('"', m_pos + 1);
        if (close == std::string_view::npos)
            return ReadError::EndOfFile; // a file cut short inside a text field
        out.quoted = true;
        out.text.assign(m_bytes.substr(m_pos + 1, close - m_pos - 1));
        m_pos = close + 1;
        skipPastTerminator(); // anything between the closing quote and the separator is dropped
        return ReadError::None;
    }
    const std::size_t start = m_pos;
    std::size_t end = std::min(m_bytes.find_first_of(",\r\n", start), m_bytes.size());
    m_pos = end;
    while (end > start && isBlank(m_bytes[end - 1]))
        --end;
    out.quoted = false;
    out.text.assign(m_bytes.substr(start, end - start));
    skipPastTerminator();
    return ReadError::None;
}

ReadError FieldReader::readText(std::string& out) {
    Field field;
    const ReadError error = nextField(field);
    if (error == ReadError::None)
        out = std::move(field.text);
    return error;
}

ReadError FieldReader::readInteger(double low, double high, double& out) {
    Field field;
    if (const ReadError error = nextField(field); error != ReadError::None)
        return error;
    if (field.quoted)
        return ReadError::TypeMismatch;
    double value = 0; // an empty field reads as 0
    if (!field.text.empty()) {
        if (const ReadError error = parseNumber(field.text, value); error != ReadError::None)
            return error;
    }
    value = roundHalfToEven(value);
    if (value < low || value > high)
        return ReadError::Overflow;
    out = value;
    return ReadError::None;
}

ReadError FieldReader::readInt16(std::int16_t& out) {
    double value = 0;
    const ReadError error = readInteger(INT16_MIN, INT16_MAX, value);
    if (error == ReadError::None)
        out = static_cast<std::int16_t>(value);
    return error;
}

ReadError FieldReader::readInt32(std::int32_t& out) {
    double value = 0;
    const ReadError error = readInteger(INT32_MIN, INT32_MAX, value);
    if (error == ReadError::None)
        out = static_cast<std::int32_t>(value);
    return error;
}

ReadError FieldReader::readOption(OptionValue& out) {
    Field field;
    if (const ReadError error = nextField(field); error != ReadError::None)
        return error;
    if (field.quoted) {
        out = OptionValue::text(std::move(field.text));
        return ReadError::None;
    }
    if (field.text.empty()) {
        out = OptionValue();
        return ReadError::None;
    }
    double value = 0;
    const ReadError error = parseNumber(field.text, value);
    if (error == ReadError::Overflow)
        return error;
    out = error == ReadError::None ? OptionValue::number(value) : OptionValue::text(std::move(field.text));
    return ReadError::None;
}

} // namespace corvalin
