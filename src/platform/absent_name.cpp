#include "platform/absent_name.h"

#include <cerrno>

namespace corvalin {

bool lookupMeansAbsent(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EILSEQ:
    case ENAMETOOLONG:
    case EINVAL:
        return true;
    default:
        return false;
    }
}

} // namespace corvalin
