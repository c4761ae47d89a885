#pragma once

#include <string>
#include <string_view>

namespace corvalin {

// The MD5 digest of `bytes` as 32 lower-case hexadecimal digits. The desktop's thumbnail cache
// names each entry by the MD5 of its picture's URI; it is no protection against anyone.
std::string md5Hex(std::string_view bytes);

} // namespace corvalin
