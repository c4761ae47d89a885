#include "preview/thumbnail_names.h"

#include "preview/md5.h"

#include <cstring>

namespace corvalin {

namespace {

bool keptAsItIs(unsigned char byte) {
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9'))
        return true;
    return byte != '\0' && std::strchr("-_.!~*'()/=&+,$@:", byte) != nullptr;
}

} // namespace

std::string fileUri(const std::filesystem::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    uri.reserve(uri.size() + path.native().size() * 3 / 2);
    for (const char c : path.native()) {
        const auto byte = static_cast<unsigned char>(c);
        if (keptAsItIs(byte)) {
            uri += c;
            continue;
        }
        uri += '%';
        uri += kHex[byte >> 4];
        uri += kHex[byte & 0x0F];
    }
    return uri;
}

std::string thumbnailFileName(std::string_view uri) {
    return md5Hex(uri) + ".png";
}

} // namespace corvalin
