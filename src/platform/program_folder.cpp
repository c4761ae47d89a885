#include "platform/program_folder.h"

#include "platform/file_ops.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

fs::path programFolder() {
    std::string buffer(1024, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return fs::path(buffer).parent_path();
        }
        buffer.resize(buffer.size() * 2);
    }
}

fs::path installedDataFolder(const fs::path& programFolder) {
    return joinPath(programFolder.parent_path(), "share/corvalin");
}

bool isInstalled(const fs::path& programFolder) {
    struct stat info = {};
    return !programFolder.empty() && ::stat(installedDataFolder(programFolder).c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

namespace {

// A relative value is invalid by the base directory rules and is ignored.
fs::path baseFolder(const char* variable, const char* fallbackBelowHome) {
    const char* value = std::getenv(variable);
    return value && value[0] == '/' ? fs::path(value) : joinPath(homeFolder(), fallbackBelowHome);
}

} // namespace

fs::path settingsFolder(const fs::path& programFolder) {
    // An installed program shares its folder with others (and root may write anywhere), so only a
    // portable copy keeps its settings beside itself.
    if (!isInstalled(programFolder) && ::access(programFolder.c_str(), W_OK) == 0)
        return programFolder;
    // Made by whatever writes there first (the lock of a run): reading the history makes nothing.
    return joinPath(baseFolder("XDG_CONFIG_HOME", ".config"), "Corvalin");
}

fs::path historyFolder(const fs::path& programFolder, const fs::path& settingsFolder) {
    if (settingsFolder == programFolder)
        return joinPath(settingsFolder, "history");
    return joinPath(baseFolder("XDG_STATE_HOME", ".local/state"), "Corvalin/history");
}

fs::path thumbnailCacheFolder() {
    return joinPath(baseFolder("XDG_CACHE_HOME", ".cache"), "thumbnails");
}

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

} // namespace corvalin
