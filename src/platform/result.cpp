#include "platform/result.h"

#include <cstring>

namespace corvalin {

std::string Error::reason() const {
    if (code == 0)
        return detail;
    return std::strerror(code);
}

Error errorFromErrno(std::string operation, std::filesystem::path path, int code) {
    return Error{std::move(operation), std::move(path), code, {}};
}

} // namespace corvalin
