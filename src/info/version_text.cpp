#include "info/version_text.h"

namespace corvalin {

std::string versionText(int major, int minor, int revision) {
    return "ﾊﾞｰｼﾞｮﾝ " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

std::string programVersionText() {
    return versionText(CORVALIN_VERSION_MAJOR, CORVALIN_VERSION_MINOR, CORVALIN_VERSION_PATCH);
}

} // namespace corvalin
