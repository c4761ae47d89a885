#include "info/sysinfo.h"

#include "platform/file_ops.h"
#include "platform/paths.h"

#include <algorithm>
#include <array>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* const kMsinfoValue = "PATH";
const char* const kToolsLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const char* const kToolsLocationValue = "MSINFO";
const char* const kMsinfoProgram = "MSINFO32.EXE";

class OpenKey {
public:
    OpenKey(Registry& registry, RegistryKey key) : m_registry(registry), m_key(key) {}
    ~OpenKey() { m_registry.closeKey(m_key); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

private:
    Registry& m_registry;
    RegistryKey m_key;
};

} // namespace

bool GetKeyValue(Registry& registry, RegistryRoot root, const std::string& keyName,
                 const std::string& valueName, std::string& result) {
    result.clear();
    RegistryKey key = 0;
    if (registry.openKey(root, keyName, kSysInfoKeyRights, key) != RegistryStatus::Ok)
        return false;
    const OpenKey closeOnExit(registry, key);

    std::array<char, kKeyValueBufferSize> buffer{};
    const RegistryValue value = registry.queryValue(key, valueName, buffer);
    if (value.status != RegistryStatus::Ok)
        return false;
    std::size_t length = std::min(value.length, buffer.size());
    if (length > 0 && buffer[length - 1] == '\0')
        --length;
    if (value.type == RegistryValueType::Text)
        result.assign(buffer.data(), length);
    return true;
}

std::optional<fs::path> findSysInfoProgram(Registry& registry) {
    std::string found;
    if (GetKeyValue(registry, kHkeyLocalMachine, kMsinfoKey, kMsinfoValue, found)) {
        // A value that is not text leaves nothing to start.
        if (found.empty())
            return std::nullopt;
        return fs::path(found);
    }
    // Only an absolute folder is searched: an empty or relative one would look in whatever the
    // working folder happens to be.
    if (GetKeyValue(registry, kHkeyLocalMachine, kToolsLocationKey, kToolsLocationValue, found) &&
        fs::path(found).is_absolute()) {
        const fs::path program = joinPath(found, kMsinfoProgram);
        if (lookupEntry(program) == EntryKind::File)
            return program;
    }
    return std::nullopt;
}

} // namespace corvalin
