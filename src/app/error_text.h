#pragma once

#include "platform/result.h"

#include <filesystem>
#include <string>

namespace corvalin {

// The words the user reads for a failed operation: what could not be done, to which file, and the
// system's reason. UTF-8, the path shown as every list shows it (legibleName). A file refused by
// its folder is named before the folder: "<file> → <folder>".
std::string describeError(const Error& error);

// A volume whose folder cannot be opened (a card taken out, a disk not ready): the folder, then the
// system's reason, as the Retry/Cancel question shows them.
std::string describeUnreadyFolder(const Error& error);

// The same words on one line, for a terminal: "<what>ができませんでした: <file>: <reason>".
std::string describeErrorLine(const Error& error);

// Another Corvalin holds the lock of the settings folder: said by a command, and by a window that
// cannot bring the other one to the front because it is a command.
std::string otherInstanceText(const std::filesystem::path& settingsFolder);

} // namespace corvalin
