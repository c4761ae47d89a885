#pragma once

#include "platform/result.h"

#include <string>

namespace corvalin {

// The words the user reads for a failed operation: what could not be done, to which file, and the
// system's reason. UTF-8, the path shown as every list shows it (legibleName).
std::string describeError(const Error& error);

} // namespace corvalin
