#include "naming/serial_name.h"

#include "platform/name_text.h"

#include <algorithm>
#include <cstdio>

namespace corvalin {

namespace {

constexpr std::size_t kPrefixCharacters = 7;

} // namespace

std::optional<std::size_t> serialPrefixEnd(std::string_view name) {
    // Bytes 0x30 to 0x39 and the blank are characters of their own in UTF-8 and in CP932 alike, so
    // testing the bytes counts the characters of either encoding.
    if (name.size() < kPrefixCharacters || name[kPrefixCharacters - 1] != ' ')
        return std::nullopt;
    const auto isDigit = [](char c) {
        return c >= '0' && c <= '9';
    };
    if (!std::all_of(name.begin(), name.begin() + kPrefixCharacters - 1, isDigit))
        return std::nullopt;
    return kPrefixCharacters;
}

std::optional<std::int32_t> serialNumberOf(std::string_view name) {
    if (!serialPrefixEnd(name))
        return std::nullopt;
    std::int32_t number = 0;
    for (std::size_t i = 0; i + 1 < kPrefixCharacters; ++i)
        number = number * 10 + (name[i] - '0');
    return number;
}

std::string baseName(std::string_view listedName) {
    const std::optional<std::size_t> end = serialPrefixEnd(listedName);
    return std::string(end ? listedName.substr(*end) : listedName);
}

bool isPicture(std::string_view name) {
    return endsWithCharactersNoCase(name, "jpg") || endsWithCharactersNoCase(name, "jpeg") ||
           endsWithCharactersNoCase(name, "bmp");
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
