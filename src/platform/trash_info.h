#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// The text of a trash's info files, which every desktop's file manager reads to show and restore
// what was trashed: a "[Trash Info]" group with "Path=", the original path's bytes percent-encoded
// as in a URL, and "DeletionDate=", local time as YYYY-MM-DDThh:mm:ss.
namespace corvalin {

// Every byte but letters, digits, "-", "_", ".", "~" and "/" as %XX, so that any name, UTF-8 or
// not, survives as plain ASCII.
std::string encodeTrashPath(std::string_view bytes);

// The bytes back; nothing for a "%" that is not followed by two hexadecimal digits.
std::optional<std::string> decodeTrashPath(std::string_view text);

// The whole info file for a path value (already absolute, or relative to the trash's top folder).
std::string trashInfoText(std::string_view pathBytes, std::time_t deletedAt);

struct TrashInfoFields {
    std::string path; // decoded bytes, as written: absolute or relative
    std::string deletionDate;
};

// The fields of an info file's text; nothing without a "[Trash Info]" group holding a readable
// "Path=".
std::optional<TrashInfoFields> parseTrashInfo(std::string_view text);

} // namespace corvalin
