#include "plan/plan_scan.h"

#include "app/error_text.h"
#include "naming/picture_types.h"
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

bool isSpecial(unsigned char kind) {
    return kind == DT_FIFO || kind == DT_SOCK || kind == DT_CHR || kind == DT_BLK;
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
    return IFTODT(info.st_mode);
}

// Each entry of an open folder but "." and "..", with its kind; `info` holds its lstat when
// `stated`, and always for a folder.
struct Entry {
    fs::path path;
    const char* name;
    unsigned char kind;
    struct stat info;
    bool stated;
};

template <class Visit> void forEachEntry(DIR* handle, const fs::path& folder, Visit visit) {
    while (const dirent* entry = ::readdir(handle)) {
        if (isDots(entry->d_name))
            continue;
        Entry found{joinPath(folder, entry->d_name), entry->d_name, DT_UNKNOWN, {}, false};
        found.kind = kindOf(found.path, *entry, found.info, found.stated);
        if (!visit(found))
            return;
    }
}

void scanInto(const fs::path& folder, dev_t device, FolderRemainder& remainder) {
    const FolderHandle handle = openFolder(folder);
    if (!handle)
        return;
    forEachEntry(handle.get(), folder, [&](Entry& entry) {
        if (entry.kind == DT_DIR) {
            if (entry.info.st_dev != device) {
                remainder.mountBelow = entry.path;
                return false;
            }
            scanInto(entry.path, device, remainder);
            return remainder.mountBelow.empty();
        }
        if (entry.kind == DT_REG && entry.name[0] != '.')
            return true;
        ++remainder.items;
        if (entry.kind == DT_REG && (entry.stated || ::lstat(entry.path.c_str(), &entry.info) == 0))
            remainder.bytes += static_cast<std::uint64_t>(entry.info.st_size);
        return true;
    });
}

PlanProblem unreadable(const fs::path& folder, int code) {
    return {ProblemKind::Unreadable, folder.native(),
            describeErrorLine(errorFromErrno("フォルダの読み取り", folder, code))};
}

// A picture the run never moves: every one in the source parent folder, and a hidden one (which the
// file lists do not show) in a child folder; its text for a hidden one is written later, when it is
// known whether its folder goes.
void notMoved(const Entry& entry, bool inSourceParent, const PictureTypes& types,
              std::vector<PlanProblem>& problems) {
    if (!isPicture(entry.name, types))
        return;
    if (inSourceParent)
        problems.push_back({ProblemKind::InSourceParent, entry.path.native(),
                            "移動元親フォルダに直接ある画像です。子フォルダの中の画像だけを移動するため、"
                            "そのまま残ります。"});
    else if (entry.name[0] == '.')
        problems.push_back({ProblemKind::HiddenPicture, entry.path.native(), {}});
}

void leftOutIn(const fs::path& folder, bool inSourceParent, const PictureTypes& types,
               std::vector<PlanProblem>& problems) {
    struct stat own {};
    const FolderHandle handle = openFolder(folder);
    if (!handle || ::fstat(::dirfd(handle.get()), &own) != 0) {
        problems.push_back(unreadable(folder, errno));
        return;
    }
    forEachEntry(handle.get(), folder, [&](const Entry& entry) {
        if (entry.kind == DT_REG)
            notMoved(entry, inSourceParent, types, problems);
        else if (entry.kind == DT_LNK)
            problems.push_back(
                {ProblemKind::LeftOut, entry.path.native(), "リンクです。たどらず、移動もしません。"});
        else if (isSpecial(entry.kind) && entry.name[0] != '.' && isPicture(entry.name, types))
            problems.push_back({ProblemKind::LeftOut, entry.path.native(),
                                "普通のファイルではありません（名前付きパイプ、ソケット、デバイス）。"
                                "移動しません。"});
        else if (entry.kind == DT_DIR && entry.info.st_dev != own.st_dev)
            problems.push_back({ProblemKind::LeftOut, entry.path.native(),
                                "別のファイルシステムがマウントされています。中には入りません。"});
        return true;
    });
}

} // namespace

FolderRemainder scanRemainder(const fs::path& folder) {
    FolderRemainder remainder;
    struct stat own {};
    if (::lstat(folder.c_str(), &own) == 0)
        scanInto(folder, own.st_dev, remainder);
    return remainder;
}

void findLeftOut(const std::vector<fs::path>& folders, const PictureTypes& types,
                 std::vector<PlanProblem>& problems) {
    for (std::size_t i = 0; i < folders.size(); ++i)
        leftOutIn(folders[i], i == 0, types, problems);
}

} // namespace corvalin
