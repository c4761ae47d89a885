#include "engine/move_run.h"
#include "engine/source_refusal.h"

#include "platform/file_ops.h"
#include "platform/folder_limits.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/program_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace corvalin {

namespace fs = std::filesystem;

const char* const kMoveIntoText = "移動先フォルダへのファイルの移動";
const char* const kMoveOutOfText = "移動元フォルダからのファイルの移動";

namespace {

const char* const kSourceCheck = "移動元親フォルダからの移動";
const char* const kDestinationInsideText = "移動先フォルダが移動元親フォルダと同じか、その中にあります。";

} // namespace

namespace {

// True when `inner` lies in `source` (canonical), its links resolved.
bool holds(const fs::path& source, const fs::path& inner) {
    std::error_code ignored;
    return !inner.empty() && isSameOrBelow(fs::weakly_canonical(inner, ignored), source);
}

} // namespace

std::optional<std::string> sourceTooHigh(const fs::path& sourceParent) {
    std::error_code ignored;
    const fs::path source = fs::weakly_canonical(sourceParent, ignored);
    if (source == "/" || holds(source, homeFolder()))
        return "ルートフォルダやホームフォルダは移動元親フォルダにできません。";
    return std::nullopt;
}

Status checkSource(const fs::path& sourceParent, const SettingsFiles& files) {
    std::error_code error;
    const fs::path source = fs::weakly_canonical(sourceParent, error);
    if (error)
        return errorFromErrno("移動元親フォルダの確認", sourceParent, error.value());
    const auto holds = [&](const fs::path& inner) {
        return corvalin::holds(source, inner);
    };
    if (const std::optional<std::string> tooHigh = sourceTooHigh(source))
        return Error{kSourceCheck, sourceParent, 0, *tooHigh};
    if (holds(files.programFolder) || holds(files.settingsFolder))
        return Error{kSourceCheck, sourceParent, 0,
                     "移動元親フォルダの中にこのプログラムとその設定ファイルがあります。"};
    // Its journals would go as files that are not pictures, and with them the way back.
    if (holds(files.history()))
        return Error{kSourceCheck, sourceParent, 0,
                     "移動元親フォルダの中に、元に戻すための履歴の記録があります。"};
    return {};
}

Status checkDestination(const fs::path& sourceParent, const fs::path& destination) {
    if (!isFolder(destination))
        return errorFromErrno(kMoveIntoText, destination, ENOENT);
    std::error_code sourceError;
    std::error_code destinationError;
    const fs::path source = fs::weakly_canonical(sourceParent, sourceError);
    const fs::path target = fs::weakly_canonical(destination, destinationError);
    if (sourceError)
        return errorFromErrno("移動元親フォルダの確認", sourceParent, sourceError.value());
    if (destinationError)
        return errorFromErrno("移動先フォルダの確認", destination, destinationError.value());
    if (isSameOrBelow(target, source))
        return Error{kMoveIntoText, destination, 0, kDestinationInsideText};
    // Refused here, the run stops before any file is touched instead of at its first picture.
    if (const int refusal = folderWriteRefusal(destination))
        return errorFromErrno(kMoveIntoText, destination, refusal);
    return {};
}

// Walked up by "..", as the kernel links the folders, so that neither a path taken meanwhile nor a
// missing /proc can mislead it.
Status checkHeldDestination(const HeldFolder& source, const HeldFolder& destination) {
    struct stat sourceInfo {};
    if (::fstat(source.fd(), &sourceInfo) != 0)
        return errorFromErrno("移動元親フォルダの確認", source.path(), errno);
    UniqueFd current(::fcntl(destination.fd(), F_DUPFD_CLOEXEC, 0));
    if (!current.valid())
        return errorFromErrno("移動先フォルダの確認", destination.path(), errno);
    for (;;) {
        struct stat here {};
        if (::fstat(current.get(), &here) != 0)
            return errorFromErrno("移動先フォルダの確認", destination.path(), errno);
        if (here.st_dev == sourceInfo.st_dev && here.st_ino == sourceInfo.st_ino)
            return Error{kMoveIntoText, destination.path(), 0, kDestinationInsideText};
        UniqueFd parent(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above {};
        if (!parent.valid() || ::fstat(parent.get(), &above) != 0)
            return errorFromErrno("移動先フォルダの確認", destination.path(), errno);
        if (above.st_dev == here.st_dev && above.st_ino == here.st_ino)
            return {}; // the root
        current = std::move(parent);
    }
}

} // namespace corvalin
