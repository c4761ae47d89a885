// The strip rule over arbitrary name bytes.
#include "fuzz_checks.h"

#include "naming/serial_name.h"
#include "naming/strip_rule.h"
#include "platform/name_text.h"
#include "platform/utf8.h"

#include <algorithm>

namespace corvalin::fuzz {

namespace {

void checkCut(std::string_view name, const std::string& stripped, std::string& problems) {
    if (stripped.empty() || stripped.size() + 7 > name.size())
        problems += "stripped name of a wrong length\n";
    if (!name.ends_with(stripped)) {
        problems += "stripped name is not the end of the name\n";
        return;
    }
    const std::string_view prefix = name.substr(0, name.size() - stripped.size());
    if (!prefix.ends_with(' '))
        problems += "the cut does not follow a blank\n";
    // Counted in the whole name: whether it reads as UTF-8 or CP932 depends on all of it.
    if (offsetAfterCharacters(name, 7) != prefix.size())
        problems += "the cut is not after the seventh character\n";
    if (isValidUtf8(name) && !isValidUtf8(stripped))
        problems += "the cut splits a character\n";
    if (!std::all_of(prefix.begin(), prefix.end() - 1, [](char c) { return c >= '0' && c <= '9'; }))
        problems += "a prefix that is not six ASCII digits was cut off\n";
}

// Six characters made from the name's own bytes (digits among them only where its bytes are digits), in the
// encoding the prefixed name is read in: ASCII as it is, any other byte as a character of one to four bytes
// of UTF-8 for a UTF-8 name; for any other name a CP932 character of one or two bytes (the full-width blank
// among them) or a byte that is no character and counts as one of its own.
std::string sixCharacters(std::string_view name) {
    static const char* const utf8[] = {"\xE3\x81\x82", "\xF0\xA0\x80\x8B", "\xC3\xA9", "\xEF\xBC\x91"};
    static const char* const cp932[] = {"\x82\xA0", "\x81\x40", "\xB1", "\x83\x5C", "\xFF", "\x80"};
    const bool readAsUtf8 = isValidUtf8(name);
    std::string prefix;
    for (std::size_t i = 0; i < 6; ++i) {
        const auto byte = static_cast<unsigned char>(i < name.size() ? name[i] : 'a' + i);
        if (byte < 0x80)
            prefix += static_cast<char>(byte);
        else
            prefix += readAsUtf8 ? utf8[byte % 4] : cp932[byte % 6];
    }
    return prefix;
}

} // namespace

std::string checkStripRule(std::string_view name) {
    std::string problems;
    const std::optional<std::size_t> end = serialPrefixEnd(name);
    if (end && (*end < 7 || *end > name.size() || name[*end - 1] != ' '))
        problems += "prefix end out of place\n";
    const std::optional<std::string> stripped = strippedName(name);
    if (stripped)
        checkCut(name, *stripped, problems);
    if (stripped.has_value() != (end && *end < name.size()))
        problems += "prefix end and stripped name disagree\n";
    // Any name given a serial prefix strips back to itself; six other characters and a blank are
    // the user's own words and stay.
    if (!name.empty()) {
        if (strippedName("004217 " + std::string(name)) != std::string(name))
            problems += "a prefixed name does not strip back to itself\n";
        const std::string words = sixCharacters(name);
        const bool digits =
            std::all_of(words.begin(), words.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits && strippedName(words + " " + std::string(name)))
            problems += "six characters that are not digits were cut off\n";
    }
    return problems;
}

} // namespace corvalin::fuzz
