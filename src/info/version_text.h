#pragma once

#include <string>

namespace corvalin {

// The version label of the version window: "ﾊﾞｰｼﾞｮﾝ " and major.minor.revision in plain decimal.
std::string versionText(int major, int minor, int revision);

// The same for this build, whose version the build files set once.
std::string programVersionText();

} // namespace corvalin
