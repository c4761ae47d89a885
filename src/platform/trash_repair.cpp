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

const char* const kRepairText = "ごみ箱の情報ファイルの修復";
constexpr std::size_t kLargestInfo = 1 << 16;

InfoFileState stateOf(const Result<std::string>& text) {
    if (!text)
        return text.code() == ENOENT ? InfoFileState::Missing : InfoFileState::Damaged;
    const auto fields = parseTrashInfo(text.value());
    return fields && fields->deletionDate.size() >= kDateLength ? InfoFileState::Whole
                                                                : InfoFileState::Damaged;
}

// An info file of the held info folder, read only when it is a regular file (never a FIFO put in
// its place, which would hold the start up).
Result<std::string> readInfoFile(const HeldFolder& info, const std::string& name) {
    Result<UniqueFd> fd = info.openForReading(name);
    if (!fd)
        return fd.error();
    struct stat st {};
    if (::fstat(fd.value().get(), &st) != 0)
        return errorFromErrno(kRepairText, info.pathOf(name), errno);
    if (!S_ISREG(st.st_mode))
        return errorFromErrno(kRepairText, info.pathOf(name), EINVAL);
    std::string text;
    if (const int error = readAll(fd.value().get(), text, kLargestInfo))
        return errorFromErrno(kRepairText, info.pathOf(name), error);
    return text;
}

} // namespace

Result<HeldTrash> holdTrash(const fs::path& trashFolder) {
    const fs::path folder = withoutTrailingSlash(trashFolder);
    const Result<HeldFolder> above = HeldFolder::open(folder.parent_path());
    Result<HeldFolder> trash = above ? above.value().childOnAnyMount(ownName(folder)) : above.error();
    Result<HeldFolder> files = trash ? trash.value().childOnAnyMount("files") : trash.error();
    Result<HeldFolder> info = files ? trash.value().childOnAnyMount("info") : files.error();
    if (!info)
        return errorFromErrno(kRepairText, info.error().path, info.code());
    for (const HeldFolder* held : {&trash.value(), &files.value(), &info.value()}) {
        struct stat st {};
        if (::fstat(held->fd(), &st) != 0)
            return errorFromErrno(kRepairText, held->path(), errno);
        if (st.st_uid != ::getuid())
            return Error{kRepairText, held->path(), 0, "ごみ箱のフォルダの所有者が別のユーザーです。"};
    }
    return HeldTrash{folder, std::move(files.value()), std::move(info.value())};
}

InfoFileState infoFileState(const fs::path& infoFile) {
    return stateOf(readWholeFile(infoFile, kLargestInfo));
}

InfoFileState infoFileState(const HeldTrash& trash, const std::string& infoName) {
    return stateOf(readInfoFile(trash.info, infoName));
}

std::optional<std::time_t> timeTrashed(const HeldTrash& trash, const std::string& itemName) {
    struct stat st {};
    if (::fstatat(trash.files.fd(), itemName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return st.st_ctim.tv_sec;
}

Status rewriteTrashInfo(const HeldTrash& trash, const TrashPlace& place, std::time_t deletedAt) {
    const std::string text =
        trashInfoText(trashInfoPathValue(trash.folder, resolvedAsFarAsItExists(place.original)), deletedAt);
    const std::string name = ownName(place.infoFile);
    UniqueFd fd(::openat(trash.info.fd(), name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    int error = fd.valid() ? writeAll(fd.get(), text) : errno;
    if (error == 0 && ::fdatasync(fd.get()) != 0)
        error = errno;
    if (error == 0)
        error = fd.close();
    return error == 0 ? Status() : errorFromErrno("ごみ箱の情報ファイルの書き直し", place.infoFile, error);
}

Result<std::vector<TrashPlace>> damagedPlacesSince(const HeldTrash& trash, std::time_t since,
                                                   const std::set<fs::path>& known) {
    const Result<std::vector<HeldFolder::Listed>> listed = trash.info.list();
    if (!listed)
        return errorFromErrno("ごみ箱の情報ファイルの確認", trash.info.path(), listed.code());
    const std::string_view suffix = ".trashinfo";
    std::vector<TrashPlace> places;
    for (const HeldFolder::Listed& entry : listed.value()) {
        const std::string& name = entry.name;
        struct stat st {};
        if (!name.ends_with(suffix) || name.size() == suffix.size() ||
            ::fstatat(trash.info.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_mtim.tv_sec < since || known.contains(trash.info.pathOf(name)))
            continue;
        const std::string item = name.substr(0, name.size() - suffix.size());
        const Result<HeldEntry> inTrash = trash.files.lookup(item);
        if (inTrash && inTrash.value().kind != HeldEntry::Kind::None &&
            infoFileState(trash, name) == InfoFileState::Damaged)
            places.push_back({{}, trash.files.pathOf(item), trash.info.pathOf(name)});
    }
    std::sort(places.begin(), places.end(),
              [](const TrashPlace& a, const TrashPlace& b) { return a.infoFile < b.infoFile; });
    return places;
}

} // namespace corvalin
