#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvalin {

// The URI of a local file as the desktop writes it ("file:///home/me/a%20b.jpg"): the path's bytes
// as they are, each byte other than a letter, a digit or one of - _ . ! ~ * ' ( ) / = & + , $ @ :
// written as %XX in upper case. The thumbnail cache is keyed by this text byte for byte, so a name
// that is not UTF-8 keeps its bytes (%82%A0) rather than being decoded. `path` is absolute.
std::string fileUri(const std::filesystem::path& path);

// The name of a picture's entry in each folder of the thumbnail cache: the MD5 of its URI, ".png".
std::string thumbnailFileName(std::string_view uri);

} // namespace corvalin
