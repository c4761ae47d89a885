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
    // An SFTP server's ENAMETOOLONG or EINVAL, as sshfs passes it on.
    case EBADMSG:
        return true;
    default:
        return false;
    }
}

} // namespace corvalin
