#pragma once

#include "app/option_value.h"

#include <array>
#include <cstdint>
#include <filesystem>

namespace corvalin {

// The variables the whole program shares; every window reads and writes them directly.
struct Module1 {
    std::filesystem::path SourcePath; // source parent folder
    std::filesystem::path DestPath;   // destination folder
    std::filesystem::path MakerPath;  // parent folder last used by the child-folder maker
    std::int16_t RunFlag = 0;         // 1 while the program runs, 0 after a clean shutdown
    // (0) delete the child folders after a move, (1) strip-in-folder mode, (2) strip-into-subfolder
    // mode. Only (0) is saved.
    std::array<OptionValue, 3> OptFlags;
    std::int32_t SerialNo = 0; // the number the next picture receives
};

} // namespace corvalin
