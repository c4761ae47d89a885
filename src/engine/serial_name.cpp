#include "engine/serial_name.h"

#include <cstdio>

namespace corvalin {

namespace {

constexpr std::size_t kPrefixCharacters = 7;

// The length of the UTF-8 sequence that starts at `pos`, or 1 when it is not a valid one (each
// such byte then counts as a character of its own).
std::size_t characterLength(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    unsigned min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 1;
    }
    if (pos + length > text.size())
        return 1;
    unsigned codePoint = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return 1;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < min || codePoint > 0x10FFFF || surrogate ? 1 : length;
}

bool endsWithNoCase(std::string_view name, std::string_view lowerSuffix) {
    if (name.size() < lowerSuffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - lowerSuffix.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerSuffix[i])
            return false;
    }
    return true;
}

} // namespace

std::string baseName(std::string_view listedName) {
    std::size_t pos = 0;
    for (std::size_t character = 1; character < kPrefixCharacters; ++character) {
        if (pos >= listedName.size())
            return std::string(listedName);
        pos += characterLength(listedName, pos);
    }
    if (pos < listedName.size() && listedName[pos] == ' ')
        return std::string(listedName.substr(pos + 1));
    return std::string(listedName);
}

bool isPicture(std::string_view name) {
    return endsWithNoCase(name, "jpg") || endsWithNoCase(name, "jpeg") || endsWithNoCase(name, "bmp");
}

std::int32_t wrapSerialNo(std::int32_t serialNo) {
    return serialNo > kHighestSerialNo ? 0 : serialNo;
}

std::string serialPrefix(std::int32_t serialNo) {
    const long long value = serialNo;
    char text[32];
    if (value < 0)
        std::snprintf(text, sizeof text, "-%06lld ", -value);
    else
        std::snprintf(text, sizeof text, "%06lld ", value);
    return text;
}

std::string serialName(std::int32_t serialNo, std::string_view listedName) {
    return serialPrefix(serialNo) + baseName(listedName);
}

} // namespace corvalin
