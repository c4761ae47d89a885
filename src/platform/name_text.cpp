#include "platform/name_text.h"

#include "platform/utf8.h"

#include <cerrno>
#include <iconv.h>

namespace corvalin {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One CP932 character at a time through glibc's converter. One per thread: a converter holds
// state and must not be shared.
class Cp932Decoder {
public:
    Cp932Decoder() : m_cd(::iconv_open("UTF-32LE", "CP932")) {}
    ~Cp932Decoder() {
        if (usable())
            ::iconv_close(m_cd);
    }
    Cp932Decoder(const Cp932Decoder&) = delete;
    Cp932Decoder& operator=(const Cp932Decoder&) = delete;

    // The character at the start of `bytes` and its length; length 1 and nothing when the bytes
    // there read as no CP932 character (or no converter is installed).
    std::optional<char32_t> decode(std::string_view bytes, std::size_t& length) {
        length = 1;
        if (!usable())
            return std::nullopt;
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        unsigned char out[4];
        char* outAt = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        // Room for one character only: the converter stops after it (E2BIG) or at a fault.
        ::iconv(m_cd, &in, &inLeft, &outAt, &outLeft);
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        if (outLeft != 0)
            return std::nullopt;
        length = bytes.size() - inLeft;
        return char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 | char32_t(out[3]) << 24;
    }

private:
    bool usable() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t m_cd;
};

// The code point of a valid UTF-8 sequence.
char32_t decodeUtf8(std::string_view bytes, std::size_t length) {
    const auto byte = [&](std::size_t i) {
        return char32_t(static_cast<unsigned char>(bytes[i]));
    };
    if (length == 1)
        return byte(0);
    char32_t value = byte(0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i)
        value = value << 6 | (byte(i) & 0x3F);
    return value;
}

void appendUtf8(std::string& text, char32_t c) {
    if (c < 0x80) {
        text += char(c);
    } else if (c < 0x800) {
        text += char(0xC0 | c >> 6);
        text += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += char(0xE0 | c >> 12);
        text += char(0x80 | (c >> 6 & 0x3F));
        text += char(0x80 | (c & 0x3F));
    } else {
        text += char(0xF0 | c >> 18);
        text += char(0x80 | (c >> 12 & 0x3F));
        text += char(0x80 | (c >> 6 & 0x3F));
        text += char(0x80 | (c & 0x3F));
    }
}

// Characters that would break a name into lines or reorder what follows it on screen.
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Shown in characters every font has: the control pictures ("␊") are missing from the fonts a
// desktop is sure to have and would show as empty boxes. The C0 controls and DEL by their short
// names ("<LF>", "<TAB>", "<ESC>"), the others by their number ("<U+202E>").
void appendStandIn(std::string& text, char32_t c) {
    static const char* const c0Names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                          "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                          "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                          "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    text += '<';
    if (c < 0x20) {
        text += c0Names[c];
    } else if (c == 0x7F) {
        text += "DEL";
    } else {
        static const char* const digits = "0123456789ABCDEF";
        text += "U+";
        for (int shift = 12; shift >= 0; shift -= 4)
            text += digits[(c >> shift) & 0xF];
    }
    text += '>';
}

void appendShown(std::string& text, std::optional<char32_t> c) {
    if (c && isControl(*c))
        appendStandIn(text, *c);
    else
        appendUtf8(text, c.value_or(kReplacement));
}

void appendLegibleComponent(std::string& text, std::string_view component) {
    NameReader reader(component);
    while (!reader.atEnd())
        appendShown(text, reader.next());
}

// A byte below 0x80 is a character of its own or the last byte of one, in UTF-8 and in CP932 alike,
// so only an offset after a higher byte needs the name read from its start.
bool startsCharacter(std::string_view name, std::size_t offset) {
    if (offset == 0 || offset >= name.size() || static_cast<unsigned char>(name[offset - 1]) < 0x80)
        return true;
    NameReader reader(name);
    while (reader.offset() < offset)
        reader.next();
    return reader.offset() == offset;
}

} // namespace

NameReader::NameReader(std::string_view name) : m_name(name), m_utf8(isValidUtf8(name)) {}

std::optional<char32_t> NameReader::next() {
    const std::string_view rest = m_name.substr(m_at);
    if (m_utf8) {
        const std::size_t length = utf8SequenceLength(rest, 0);
        m_at += length;
        return decodeUtf8(rest, length);
    }
    thread_local Cp932Decoder decoder;
    std::size_t length = 1;
    const std::optional<char32_t> c = decoder.decode(rest, length);
    m_at += length;
    return c;
}

std::optional<std::size_t> offsetAfterCharacters(std::string_view name, std::size_t count) {
    NameReader reader(name);
    for (std::size_t i = 0; i < count; ++i) {
        if (reader.atEnd())
            return std::nullopt;
        reader.next();
    }
    return reader.offset();
}

std::size_t nameCharacterCount(std::string_view name) {
    NameReader reader(name);
    std::size_t count = 0;
    for (; !reader.atEnd(); ++count)
        reader.next();
    return count;
}

bool endsWithCharactersNoCase(std::string_view name, std::string_view lowerEnding) {
    if (name.size() < lowerEnding.size())
        return false;
    const std::size_t from = name.size() - lowerEnding.size();
    for (std::size_t i = 0; i < lowerEnding.size(); ++i) {
        char c = name[from + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerEnding[i])
            return false;
    }
    return startsCharacter(name, from);
}

std::string legibleText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        appendShown(shown, length == 0 ? std::nullopt : std::optional(decodeUtf8(text.substr(at), length)));
        at += length == 0 ? 1 : length;
    }
    return shown;
}

// Component by component: a path may join a UTF-8 folder and a Shift-JIS name, and "/" is never
// part of a CP932 character.
std::string legibleName(std::string_view nameOrPath) {
    std::string text;
    text.reserve(nameOrPath.size());
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = nameOrPath.find('/', from);
        appendLegibleComponent(text, nameOrPath.substr(from, slash - from));
        if (slash == std::string_view::npos)
            return text;
        text += '/';
        from = slash + 1;
    }
}

} // namespace corvalin
