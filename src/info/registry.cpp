#include "info/registry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace {

const char* const kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* const kPathValue = "PATH";
constexpr RegistryKey kMsinfoHandle = 1;

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    auto lower = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> absoluteFolders(const std::string& searchPath) {
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        std::size_t end = searchPath.find(':', start);
        if (end == std::string::npos)
            end = searchPath.size();
        std::string folder = searchPath.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/')
            folders.push_back(std::move(folder));
        start = end + 1;
    }
    return folders;
}

} // namespace

const std::vector<std::string>& SystemToolRegistry::toolNames() {
    // Programs whose purpose is to show the hardware and the system: the GTK hardware browsers,
    // KDE's information centre, then the CPU and hardware listers.
    static const std::vector<std::string> names{"hardinfo2", "hardinfo", "kinfocenter", "cpu-x", "lshw-gtk"};
    return names;
}

std::string findExecutable(const std::vector<std::string>& names, const std::string& searchPath) {
    const std::vector<std::string> folders = absoluteFolders(searchPath);
    for (const std::string& name : names) {
        for (const std::string& folder : folders) {
            const std::string path = folder.back() == '/' ? folder + name : folder + "/" + name;
            if (isExecutableFile(path))
                return path;
        }
    }
    return {};
}

RegistryStatus SystemToolRegistry::openKey(RegistryRoot root, const std::string& keyName, std::uint32_t,
                                           RegistryKey& key) {
    if (root != kHkeyLocalMachine || !equalIgnoringCase(keyName, kMsinfoKey))
        return RegistryStatus::NotFound;
    const char* searchPath = std::getenv("PATH");
    m_toolPath = findExecutable(toolNames(), searchPath ? searchPath : "");
    if (m_toolPath.empty())
        return RegistryStatus::NotFound;
    key = kMsinfoHandle;
    return RegistryStatus::Ok;
}

RegistryValue SystemToolRegistry::queryValue(RegistryKey key, const std::string& valueName,
                                             std::span<char> buffer) {
    if (key != kMsinfoHandle || !equalIgnoringCase(valueName, kPathValue))
        return {};
    // A registry text counts its final zero.
    const std::size_t length = m_toolPath.size() + 1;
    if (length > buffer.size())
        return {RegistryStatus::MoreData, RegistryValueType::Text, 0};
    std::memcpy(buffer.data(), m_toolPath.c_str(), length);
    return {RegistryStatus::Ok, RegistryValueType::Text, length};
}

void SystemToolRegistry::closeKey(RegistryKey) {}

} // namespace corvalin
