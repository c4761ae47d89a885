// Where an item in a trash came from, and which trash serves a folder: what the start-up's repair
// and the checks of a journal's Trash records read.
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/trash.h"
#include "platform/trash_folders.h"
#include "platform/trash_info.h"

#include <cerrno>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kInfoReadText = "ごみ箱の情報ファイルの読み取り";
const char* const kInfoSuffix = ".trashinfo";

// A relative Path= counts from the trash's top folder: the folder holding "Trash" or
// ".Trash-$uid", or the one holding ".Trash" for "$topdir/.Trash/$uid".
fs::path topFolderOfTrash(const fs::path& trash) {
    const std::string name = ownName(trash);
    const fs::path parent = withoutTrailingSlash(trash).parent_path();
    const bool userFolder = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
    return userFolder && ownName(parent) == ".Trash" ? parent.parent_path() : parent;
}

} // namespace

Result<TrashInfo> readTrashInfo(const fs::path& infoFile) {
    const std::string fileName = infoFile.filename().native();
    if (!fileName.ends_with(kInfoSuffix) || fileName.size() == std::string_view(kInfoSuffix).size())
        return errorFromErrno(kInfoReadText, infoFile, EINVAL);
    const Result<std::string> text = readWholeFile(infoFile, 1 << 16);
    if (!text)
        return errorFromErrno(kInfoReadText, infoFile, text.code());
    const std::optional<TrashInfoFields> fields = parseTrashInfo(text.value());
    if (!fields)
        return Error{kInfoReadText, infoFile, 0, "ごみ箱の情報ファイルの形式が正しくありません。"};
    const fs::path trash = withoutTrailingSlash(infoFile).parent_path().parent_path();
    const fs::path original = fields->path.starts_with('/') ? fs::path(fields->path)
                                                            : joinPath(topFolderOfTrash(trash), fields->path);
    const std::string name = fileName.substr(0, fileName.size() - std::string_view(kInfoSuffix).size());
    return TrashInfo{{original, joinPath(joinPath(trash, "files"), name), infoFile}, fields->deletionDate};
}

Result<fs::path> trashFolderServing(const fs::path& folder) {
    std::string resolved;
    Place place;
    int error = canonicalPath(folder.native(), resolved);
    if (error == 0)
        error = placeOf(resolved, true, place);
    if (error != 0)
        return errorFromErrno(kPrepareText, folder, error);
    Result<TrashFolder> trash = trashServing(resolved, place);
    if (!trash)
        return trash.error();
    return fs::path(trash.value().folder);
}

std::string trashInfoPathValue(const fs::path& trash, const std::string& original) {
    std::string home;
    std::string resolved;
    if (canonicalPath(homeTrashFolder().native(), home) == 0 &&
        canonicalPath(trash.native(), resolved) == 0 && home == resolved)
        return original;
    const std::string top = topFolderOfTrash(trash).native();
    if (top == "/")
        return original.substr(1);
    if (original.size() > top.size() + 1 && original.starts_with(top) && original[top.size()] == '/')
        return original.substr(top.size() + 1);
    return original;
}

} // namespace corvalin
