#include "plan/plan_scan.h"

#include "app/error_text.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

using FolderHandle = std::unique_ptr<DIR, int (*)(DIR*)>;

FolderHandle openFolder(const fs::path& folder) {
    return {::opendir(folder.c_str()), &::closedir};
}

bool isDots(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// The kind of an entry without following a link; DT_UNKNOWN file systems need the lstat.
unsigned char kindOf(const fs::path& path, const dirent& entry, struct stat& info, bool& stated) {
    stated = false;
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_DIR)
        return entry.d_type;
    if (::lstat(path.c_str(), &info) != 0)
        return DT_UNKNOWN;
    stated = true;
    if (S_ISDIR(info.st_mode))
        return DT_DIR;
    if (S_ISLNK(info.st_mode))
        return DT_LNK;
    return S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
}

void scanInto(const fs::path& folder, dev_t device, FolderRemainder& remainder) {
    const FolderHandle handle = openFolder(folder);
    if (!handle)
        return;
    while (const dirent* entry = ::readdir(handle.get())) {
        if (isDots(entry->d_name))
            continue;
        const fs::path path = joinPath(folder, entry->d_name);
        struct stat info {};
        bool stated = false;
        const unsigned char kind = kindOf(path, *entry, info, stated);
        if (kind == DT_DIR) {
            if (info.st_dev != device) {
                remainder.mountBelow = path;
                return;
            }
            scanInto(path, device, remainder);
            continue;
        }
        if (kind == DT_REG && entry->d_name[0] != '.')
            continue;
        ++remainder.items;
        if (kind == DT_REG && (stated || ::lstat(path.c_str(), &info) == 0))
            remainder.bytes += static_cast<std::uint64_t>(info.st_size);
    }
}

PlanProblem unreadable(const fs::path& folder, int code) {
    return {ProblemKind::Unreadable, folder.native(),
            describeErrorLine(errorFromErrno("フォルダの読み取り", folder, code))};
}

void leftOutIn(const fs::path& folder, std::vector<PlanProblem>& problems) {
    struct stat own {};
    const FolderHandle handle = openFolder(folder);
    if (!handle || ::fstat(::dirfd(handle.get()), &own) != 0) {
        problems.push_back(unreadable(folder, errno));
        return;
    }
    while (const dirent* entry = ::readdir(handle.get())) {
        if (isDots(entry->d_name))
            continue;
        const fs::path path = joinPath(folder, entry->d_name);
        struct stat info {};
        bool stated = false;
        const unsigned char kind = kindOf(path, *entry, info, stated);
        if (kind == DT_LNK)
            problems.push_back(
                {ProblemKind::LeftOut, path.native(), "リンクです。たどらず、移動もしません。"});
        else if (kind == DT_DIR && info.st_dev != own.st_dev)
            problems.push_back({ProblemKind::LeftOut, path.native(),
                                "別のファイルシステムがマウントされています。中には入りません。"});
    }
}

} // namespace

FolderRemainder scanRemainder(const fs::path& folder) {
    FolderRemainder remainder;
    struct stat own {};
    if (::lstat(folder.c_str(), &own) == 0)
        scanInto(folder, own.st_dev, remainder);
    return remainder;
}

void findLeftOut(const std::vector<fs::path>& folders, std::vector<PlanProblem>& problems) {
    for (const fs::path& folder : folders)
        leftOutIn(folder, problems);
}

} // namespace corvalin
