#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A small registry: open a key, read one value, close the key. The program reads it only to find
// the system-information tool; tests put their own behind it.
namespace corvalin {

using RegistryRoot = std::uint32_t;
inline constexpr RegistryRoot kHkeyLocalMachine = 0x80000002;

using RegistryKey = std::uintptr_t;

enum class RegistryStatus { Ok, NotFound, AccessDenied, MoreData };

// The value types that matter here, by their registry numbers.
enum class RegistryValueType : std::uint32_t {
    None = 0,
    Text = 1,
    ExpandableText = 2,
    Binary = 3,
    Number = 4
};

struct RegistryValue {
    RegistryStatus status = RegistryStatus::NotFound;
    RegistryValueType type = RegistryValueType::None;
    std::size_t length = 0; // bytes copied into the buffer, a text's final zero included
};

class Registry {
public:
    virtual ~Registry() = default;
    // Opens root\keyName with the access rights asked for; sets `key` only on success.
    virtual RegistryStatus openKey(RegistryRoot root, const std::string& keyName, std::uint32_t accessRights,
                                   RegistryKey& key) = 0;
    // Copies the value's bytes into `buffer`; MoreData, and nothing copied, when they do not fit.
    virtual RegistryValue queryValue(RegistryKey key, const std::string& valueName,
                                     std::span<char> buffer) = 0;
    virtual void closeKey(RegistryKey key) = 0;
};

// The stand-in on a desktop without a registry: it has one key,
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO, present only while a
// system-information program is found on PATH, and one text value in it, "PATH", the full path of
// that program. Key and value names are compared without regard to letter case, as the registry
// does. Access rights are granted as asked: there is nothing to protect.
class SystemToolRegistry : public Registry {
public:
    // The programs looked for, best first.
    static const std::vector<std::string>& toolNames();

    RegistryStatus openKey(RegistryRoot root, const std::string& keyName, std::uint32_t accessRights,
                           RegistryKey& key) override;
    RegistryValue queryValue(RegistryKey key, const std::string& valueName, std::span<char> buffer) override;
    void closeKey(RegistryKey key) override;

private:
    std::string m_toolPath; // found when the key was last opened
};

// The first of `names` that is an executable file in one of the absolute folders of `searchPath`
// (a PATH value); empty when there is none. Relative entries, the empty one included, are skipped:
// they would run whatever lies in the working folder.
std::string findExecutable(const std::vector<std::string>& names, const std::string& searchPath);

} // namespace corvalin
