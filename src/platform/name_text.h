#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// File names are bytes. These read them as the text the user sees, in one way for every rule that
// counts characters and for every place that shows a name: UTF-8 when the whole name is valid
// UTF-8; otherwise CP932 (the Shift-JIS of Japanese Windows, which names unpacked from its
// archives keep), one character a byte wherever that fails too.
namespace corvalin {

// Reads a name character by character.
class NameReader {
public:
    explicit NameReader(std::string_view name);

    bool atEnd() const { return m_at >= m_name.size(); }
    // Byte offset of the next character.
    std::size_t offset() const { return m_at; }
    // Reads one character: its code point, or nothing for a byte that reads as no character.
    std::optional<char32_t> next();

private:
    std::string_view m_name;
    std::size_t m_at = 0;
    bool m_utf8 = true;
};

// The byte offset just past the first `count` characters; nothing when the name is shorter.
std::optional<std::size_t> offsetAfterCharacters(std::string_view name, std::size_t count);

std::size_t nameCharacterCount(std::string_view name);

// Whether the name's last characters are those of `lowerEnding` (ASCII, lower case), compared
// without regard to letter case. Characters, not bytes: the second byte of a CP932 character can be
// an ASCII letter, so "ニpg" (83 6A 70 67) does not end in "jpg".
bool endsWithCharactersNoCase(std::string_view name, std::string_view lowerEnding);

// A name or a path as UTF-8 text for the screen, a message or a report: each component decoded as
// above, a byte that reads as nothing shown as U+FFFD, and every control character (C0, DEL, C1,
// line and paragraph separators, bidirectional controls) as a visible stand-in ("<LF>" for a line
// feed, "<U+202E>"), so that a name is always one line, read left to right. For showing only: never
// use it to reach the disk.
std::string legibleName(std::string_view nameOrPath);

// Text that is no name (a message, a line of a report) shown the same way: UTF-8 kept, a byte that
// is not UTF-8 shown as U+FFFD, control characters as the stand-ins above.
std::string legibleText(std::string_view text);

} // namespace corvalin
