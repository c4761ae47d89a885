#include "platform/volumes.h"

#include "platform/paths.h"
#include "platform/posix_io.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Kernel interfaces and helpers, never a place for pictures.
constexpr std::array pseudoTypes = {
    "anon_inodefs", "apparmorfs", "autofs", "binder",   "binfmt_misc", "bpf",     "cgroup",     "cgroup2",
    "configfs",     "debugfs",    "devpts", "devtmpfs", "efivarfs",    "fusectl", "hugetlbfs",  "mqueue",
    "nfsd",         "nsfs",       "pipefs", "proc",     "pstore",      "ramfs",   "rpc_pipefs", "securityfs",
    "selinuxfs",    "smackfs",    "sockfs", "sysfs",    "tracefs"};

bool isPseudoType(const std::string& type) {
    for (const char* pseudo : pseudoTypes) {
        if (type == pseudo)
            return true;
    }
    return false;
}

// The system's own trees; the exceptions are where users' and removable volumes appear.
bool isSystemPlace(const fs::path& mountPoint) {
    for (const char* kept : {"/dev/shm", "/run/media", "/run/user"}) {
        if (isSameOrBelow(mountPoint, kept))
            return false;
    }
    for (const char* system : {"/proc", "/sys", "/dev", "/run"}) {
        if (isSameOrBelow(mountPoint, system))
            return true;
    }
    return false;
}

// mountinfo writes space, tab, newline and backslash in a path as "\ooo" octal escapes.
std::string unescapeOctal(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](std::size_t k) {
            return k < field.size() && field[k] >= '0' && field[k] <= '7';
        };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// One line of the table, or nothing for a line that does not parse.
std::optional<MountEntry> parseLine(const std::string& line) {
    std::istringstream fields(line);
    MountEntry entry;
    std::string device;
    std::string field;
    if (!(fields >> entry.id >> field >> device))
        return std::nullopt;
    if (std::sscanf(device.c_str(), "%u:%u", &entry.major, &entry.minor) != 2)
        return std::nullopt;
    for (int index = 3; index < 5; ++index) {
        if (!(fields >> field))
            return std::nullopt;
    }
    entry.mountPoint = unescapeOctal(field);
    // Optional fields follow the options, up to a lone "-"; the type comes next.
    while (fields >> field && field != "-") {
    }
    if (!(fields >> entry.fileSystemType) || entry.mountPoint.empty() || entry.mountPoint.native()[0] != '/')
        return std::nullopt;
    return entry;
}

} // namespace

namespace {

// Calls `take(mountPoint, type)` for every line that parses, in the file's order.
template <class Take> void forEachMount(const std::string& text, Take take) {
    for (const MountEntry& entry : parseMountEntries(text))
        take(entry.mountPoint, entry.fileSystemType);
}

} // namespace

std::vector<MountEntry> parseMountEntries(const std::string& text) {
    std::vector<MountEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (std::optional<MountEntry> entry = parseLine(line)) {
            entry->mountPoint = withoutTrailingSlash(entry->mountPoint);
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

std::vector<Volume> parseMountInfo(const std::string& text) {
    // Later lines win: a file system mounted over another hides it at the same mount point.
    std::map<std::string, std::string> typeByMountPoint;
    forEachMount(text, [&](const fs::path& mountPoint, const std::string& type) {
        typeByMountPoint[mountPoint.native()] = type;
    });
    // A chroot whose root is no mount point has no line for "/", and a live system's root may be a
    // ramfs; either way every path lies below "/", so the drive list always offers it.
    typeByMountPoint.try_emplace("/", "");
    std::vector<Volume> volumes;
    for (const auto& [mountPoint, type] : typeByMountPoint) {
        if (mountPoint == "/" || (!isPseudoType(type) && !isSystemPlace(mountPoint)))
            volumes.push_back(Volume{mountPoint, type});
    }
    return volumes;
}

std::vector<fs::path> parseMountPoints(const std::string& text) {
    std::vector<fs::path> mountPoints;
    forEachMount(text,
                 [&](const fs::path& mountPoint, const std::string&) { mountPoints.push_back(mountPoint); });
    return mountPoints;
}

bool readMountInfo(std::string& text) {
    UniqueFd fd(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    return fd.valid() && readAll(fd.get(), text, 64 << 20) == 0;
}

namespace {

// The mount table as last read, and what tells when it changed: the kernel marks an open mountinfo
// file with POLLPRI at every mount and unmount in its namespace, and a process that enters another
// namespace sees another table.
struct MountTableCache {
    std::mutex mutex;
    UniqueFd watch;
    ino_t mountNamespace = 0;
    std::vector<fs::path> mountPoints;
};

ino_t currentMountNamespace() {
    struct stat st {};
    return ::stat("/proc/self/ns/mnt", &st) == 0 ? st.st_ino : 0;
}

bool mountTableChanged(MountTableCache& cache, ino_t mountNamespace) {
    if (!cache.watch.valid() || mountNamespace == 0 || mountNamespace != cache.mountNamespace)
        return true;
    pollfd watched{cache.watch.get(), POLLPRI, 0};
    return ::poll(&watched, 1, 0) != 0;
}

} // namespace

namespace {

// The table as it is now, read again only when it changed; the caller holds the cache's lock.
const std::vector<fs::path>& currentMountPoints(MountTableCache& cache) {
    const ino_t mountNamespace = currentMountNamespace();
    if (!mountTableChanged(cache, mountNamespace))
        return cache.mountPoints;
    // Watched from before the reading, so that a change during it is seen at the next call.
    cache.watch = UniqueFd(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    cache.mountNamespace = mountNamespace;
    std::string text;
    cache.mountPoints = readMountInfo(text) ? parseMountPoints(text) : std::vector<fs::path>{};
    if (cache.mountPoints.empty())
        cache.watch.close(); // nothing read: read again next time
    return cache.mountPoints;
}

MountTableCache& mountTableCache() {
    static MountTableCache cache;
    return cache;
}

} // namespace

std::vector<fs::path> listMountPoints() {
    MountTableCache& cache = mountTableCache();
    std::lock_guard lock(cache.mutex);
    return currentMountPoints(cache);
}

// A comparison of the texts: both come absolute and plain, from the kernel. Asked for every folder
// a run removes, so the table is not copied for it.
std::optional<fs::path> mountPointInOrBelow(const std::string& folder) {
    MountTableCache& cache = mountTableCache();
    std::lock_guard lock(cache.mutex);
    for (const fs::path& mountPoint : currentMountPoints(cache)) {
        const std::string& point = mountPoint.native();
        if (folder == "/" ||
            (point.starts_with(folder) && (point.size() == folder.size() || point[folder.size()] == '/')))
            return mountPoint;
    }
    return std::nullopt;
}

std::vector<Volume> listVolumes() {
    std::string text;
    if (!readMountInfo(text))
        text.clear();
    return parseMountInfo(text);
}

fs::path volumeOf(const fs::path& path, const std::vector<Volume>& volumes) {
    fs::path best = "/";
    std::size_t bestLength = 0;
    for (const Volume& volume : volumes) {
        const std::size_t length = withoutTrailingSlash(volume.mountPoint).native().size();
        if (length > bestLength && isSameOrBelow(path, volume.mountPoint)) {
            best = withoutTrailingSlash(volume.mountPoint);
            bestLength = length;
        }
    }
    return best;
}

} // namespace corvalin
