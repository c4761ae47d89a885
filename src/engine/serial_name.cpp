#include "engine/serial_name.h"

#include "platform/utf8.h"

#include <algorithm>
#include <cstdio>

namespace corvalin {

namespace {

constexpr std::size_t kPrefixCharacters = 7;

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

std::optional<std::size_t> serialPrefixEnd(std::string_view name) {
    std::size_t pos = 0;
    for (std::size_t character = 1; character < kPrefixCharacters; ++character) {
        if (pos >= name.size())
            return std::nullopt;
        pos += std::max<std::size_t>(1, utf8SequenceLength(name, pos));
    }
    if (pos < name.size() && name[pos] == ' ')
        return pos + 1;
    return std::nullopt;
}

std::string baseName(std::string_view listedName) {
    const std::optional<std::size_t> end = serialPrefixEnd(listedName);
    return std::string(end ? listedName.substr(*end) : listedName);
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
