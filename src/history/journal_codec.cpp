#include "history/journal_codec.h"

#include "platform/utf8.h"

#include <array>

namespace corvalin {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Code points a pager would show as control codes: C0, DEL and C1.
bool isControl(std::string_view bytes, std::size_t at, std::size_t length) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (length == 1)
        return lead < 0x20 || lead == 0x7F;
    return length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0;
}

void appendEscaped(std::string& out, unsigned char byte) {
    out += '%';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Eight tables, so that the checksum takes eight bytes a step (a record of every picture is
// checked as it is written and again whenever the history is read).
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

CrcTables makeCrcTables() {
    CrcTables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t t = 1; t < tables.size(); ++t) {
        for (std::size_t n = 0; n < 256; ++n)
            tables[t][n] = (tables[t - 1][n] >> 8) ^ tables[0][tables[t - 1][n] & 0xFF];
    }
    return tables;
}

std::string checksumText(std::string_view bytes) {
    std::uint32_t crc = crc32(bytes);
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, crc >>= 4)
        text[static_cast<std::size_t>(i)] = kHexDigits[crc & 0x0F];
    return text;
}

} // namespace

namespace {

// Plain ASCII, the bulk of every path, stands as it is.
bool isPlainAscii(char c) {
    return c >= 0x20 && c < 0x7F && c != '%';
}

void appendEncodedField(std::string& out, std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t plain = at;
        while (plain < bytes.size() && isPlainAscii(bytes[plain]))
            ++plain;
        out.append(bytes.substr(at, plain - at));
        if ((at = plain) == bytes.size())
            break;
        const std::size_t length = utf8SequenceLength(bytes, at);
        if (length == 0 || bytes[at] == '%' || isControl(bytes, at, length)) {
            // One byte at a time: a byte that is no UTF-8 stands alone.
            const std::size_t count = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < count; ++i)
                appendEscaped(out, static_cast<unsigned char>(bytes[at + i]));
            at += count;
            continue;
        }
        out.append(bytes.substr(at, length));
        at += length;
    }
}

} // namespace

std::string encodeField(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendEncodedField(out, bytes);
    return out;
}

std::optional<std::string> decodeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '%') {
            if (text.size() - at < 3 || hexValue(text[at + 1]) < 0 || hexValue(text[at + 2]) < 0)
                return std::nullopt;
            out += static_cast<char>(hexValue(text[at + 1]) * 16 + hexValue(text[at + 2]));
            at += 3;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0 || isControl(text, at, length))
            return std::nullopt;
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string encodeRecordLine(const std::vector<std::string>& fields) {
    std::size_t size = 10;
    for (const std::string& field : fields)
        size += field.size() + 1;
    std::string line;
    line.reserve(size + size / 8);
    for (const std::string& field : fields) {
        appendEncodedField(line, field);
        line += '\t';
    }
    line += checksumText(line);
    line += '\n';
    return line;
}

std::optional<std::vector<std::string>> decodeRecordLine(std::string_view line) {
    const std::size_t lastTab = line.rfind('\t');
    if (lastTab == std::string_view::npos ||
        line.substr(lastTab + 1) != checksumText(line.substr(0, lastTab + 1)))
        return std::nullopt;
    std::vector<std::string> fields;
    std::string_view rest = line.substr(0, lastTab + 1);
    while (!rest.empty()) {
        const std::size_t tab = rest.find('\t');
        std::optional<std::string> field = decodeField(rest.substr(0, tab));
        if (!field)
            return std::nullopt;
        fields.push_back(std::move(*field));
        rest.remove_prefix(tab + 1);
    }
    return fields;
}

std::uint32_t crc32(std::string_view bytes) {
    static const CrcTables tables = makeCrcTables();
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (; left >= 8; left -= 8, at += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 |
                                         std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][at[4]] ^ tables[2][at[5]] ^ tables[1][at[6]] ^
              tables[0][at[7]];
    }
    for (; left > 0; --left, ++at)
        crc = tables[0][(crc ^ *at) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace corvalin
