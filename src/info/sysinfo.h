#pragma once

#include "info/registry.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvalin {

// Read, create-subkey and set-value rights: what the version window asks for when it opens a key.
inline constexpr std::uint32_t kSysInfoKeyRights = 0x2003F;
// The longest value GetKeyValue reads, in bytes; a longer one fails.
inline constexpr std::size_t kKeyValueBufferSize = 1024;

// Reads a text value. True when the key was opened and the value read; `result` is then the
// value's text (without its final zero), or empty when the value is not text. On failure `result`
// is empty. The key is closed whenever it was opened.
bool GetKeyValue(Registry& registry, RegistryRoot root, const std::string& keyName,
                 const std::string& valueName, std::string& result);

// The system-information program that StartSysInfo starts: the path stored for it, else
// MSINFO32.EXE in the folder stored for the shared tools when that file is there. Nothing when
// neither is found; the window then says that system information cannot be used.
std::optional<std::filesystem::path> findSysInfoProgram(Registry& registry);

} // namespace corvalin
