#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The journal's line format: text a person can read with a pager, that still keeps every byte of
// a file name. A record is one line of fields joined by tabs, ended by the checksum of the line, so
// that a damaged line is recognised instead of being acted on.
namespace corvalin {

// A field as the journal writes it: printable UTF-8 as it is; "%", control characters and bytes
// that are not UTF-8 as "%XX".
std::string encodeField(std::string_view bytes);

// The bytes of an encoded field; nothing when it holds a byte that encodeField never writes raw or a
// "%" that is not followed by two upper-case hexadecimal digits.
std::optional<std::string> decodeField(std::string_view text);

// One record line: the encoded fields joined by tabs, a tab, the checksum of what precedes it as
// eight hexadecimal digits, and a line feed.
std::string encodeRecordLine(const std::vector<std::string>& fields);

// The fields of one line (given without its line feed); nothing when the checksum does not match
// or a field does not decode.
std::optional<std::vector<std::string>> decodeRecordLine(std::string_view line);

// CRC-32 (the polynomial of zlib and PNG).
std::uint32_t crc32(std::string_view bytes);

} // namespace corvalin
