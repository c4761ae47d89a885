#include "platform/trash_repair.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/trash_info.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// "YYYY-MM-DDThh:mm:ss": anything shorter was cut.
constexpr std::size_t kDateLength = 19;

bool resolve(const fs::path& folder, std::string& out) {
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved)
        return false;
    out = resolved;
    std::free(resolved);
    return true;
}

// The path with the links of its longest existing folder resolved: a folder a run removed after
// trashing its files is gone, but the folders above it still tell where it was.
std::string resolvedAsFarAsItExists(const fs::path& item) {
    fs::path folder = withoutTrailingSlash(item).parent_path();
    fs::path rest = withoutTrailingSlash(item).filename();
    std::string resolved;
    while (!resolve(folder, resolved)) {
        if (!folder.has_relative_path())
            return item.native();
        rest = folder.filename() / rest;
        folder = folder.parent_path();
    }
    return joinPath(resolved, rest).native();
}

} // namespace

InfoFileState infoFileState(const fs::path& infoFile) {
    const Result<std::string> text = readWholeFile(infoFile, 1 << 16);
    if (!text)
        return text.code() == ENOENT ? InfoFileState::Missing : InfoFileState::Damaged;
    const auto fields = parseTrashInfo(text.value());
    return fields && fields->deletionDate.size() >= kDateLength ? InfoFileState::Whole
                                                                : InfoFileState::Damaged;
}

std::optional<std::time_t> timeTrashed(const fs::path& trashedItem) {
    struct stat st {};
    if (::lstat(trashedItem.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_ctim.tv_sec;
}

Status rewriteTrashInfo(const TrashPlace& place, std::time_t deletedAt) {
    const fs::path trash = withoutTrailingSlash(place.infoFile).parent_path().parent_path();
    const std::string text =
        trashInfoText(trashInfoPathValue(trash, resolvedAsFarAsItExists(place.original)), deletedAt);
    UniqueFd fd(::open(place.infoFile.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    int error = fd.valid() ? writeAll(fd.get(), text) : errno;
    if (error == 0 && ::fdatasync(fd.get()) != 0)
        error = errno;
    if (error == 0)
        error = fd.close();
    return error == 0 ? Status() : errorFromErrno("ごみ箱の情報ファイルの書き直し", place.infoFile, error);
}

Result<std::vector<TrashPlace>> damagedPlacesSince(const fs::path& trashFolder, std::time_t since,
                                                   const std::set<fs::path>& known) {
    const fs::path infoFolder = joinPath(trashFolder, "info");
    std::vector<std::string> names;
    UniqueFd fd(::open(infoFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (const int error = fd.valid() ? readFolderNames(fd.get(), names) : errno)
        return error == ENOENT ? Result<std::vector<TrashPlace>>(std::vector<TrashPlace>{})
                               : errorFromErrno("ごみ箱の情報ファイルの確認", infoFolder, error);
    const std::string_view suffix = ".trashinfo";
    std::vector<TrashPlace> places;
    for (const std::string& name : names) {
        struct stat st {};
        if (!name.ends_with(suffix) || name.size() == suffix.size() ||
            ::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_mtim.tv_sec < since)
            continue;
        const fs::path info = joinPath(infoFolder, name);
        if (known.contains(info))
            continue;
        const fs::path item =
            joinPath(joinPath(trashFolder, "files"), name.substr(0, name.size() - suffix.size()));
        if (lookupEntry(item) != EntryKind::None && infoFileState(info) == InfoFileState::Damaged)
            places.push_back({{}, item, info});
    }
    std::sort(places.begin(), places.end(),
              [](const TrashPlace& a, const TrashPlace& b) { return a.infoFile < b.infoFile; });
    return places;
}

} // namespace corvalin
