#include "engine/disk_trouble.h"

#include "engine/move_run.h"
#include "platform/name_text.h"

#include <cerrno>
#include <sys/statvfs.h>

namespace corvalin {

namespace {

// FAT and exFAT keep no owners nor modes: a driver's EPERM or EACCES there is no refusal of this
// user, once the disk took the probe's file at the start.
bool withoutOwners(const DiskNameRules& rules) {
    return rules.kindName == "FAT" || rules.kindName == "exFAT";
}

// FAT's folders hold at most 65,536 entries (a long name takes several), its root folder on FAT12
// and FAT16 a fixed few hundred; the others hold millions.
bool entriesLimited(const DiskNameRules& rules) {
    return rules.kindName == "FAT";
}

std::string diskName(const DiskProfile& disk, const std::filesystem::path& destination) {
    const std::filesystem::path& shown = disk.mountPoint.empty() ? destination : disk.mountPoint;
    return "移動先のディスク（" + legibleName(shown.native()) + "）";
}

} // namespace

DiskAnswer askDisk(int folderFd) {
    struct statvfs info {};
    if (::fstatvfs(folderFd, &info) != 0)
        return {errno, 0, 0};
    return {0, static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize, info.f_bsize};
}

DiskFault diskFaultOf(int code, const DiskAnswer& answer, std::uint64_t pictureSize,
                      const DiskNameRules& rules) {
    if (code == 0)
        return DiskFault::None;
    // Whatever the failure said, a disk that no longer answers is the news.
    if (answer.error != 0)
        return DiskFault::Gone;
    const bool roomForIt = answer.freeBytes >= pictureSize + answer.blockSize;
    if (code == ENOSPC)
        return roomForIt && entriesLimited(rules) ? DiskFault::FolderFull : DiskFault::Full;
    if (code == EDQUOT)
        return DiskFault::Full;
    if ((code == EPERM || code == EACCES || code == EIO) && withoutOwners(rules)) {
        if (!roomForIt)
            return DiskFault::Full;
        if (entriesLimited(rules) && code != EIO)
            return DiskFault::FolderFull;
    }
    return DiskFault::None;
}

Error explainDiskFault(Error failed, DiskFault fault, const DiskProfile& disk,
                       const std::filesystem::path& destination, const std::filesystem::path& file) {
    if (fault == DiskFault::None)
        return failed;
    // The system's own reason where it is the true one; a driver that says EPERM for a full disk
    // is told as the full disk it is.
    Error told = errorFromErrno(kMoveIntoText, destination, fault == DiskFault::Gone ? failed.code : ENOSPC);
    if (file != destination)
        told.file = file;
    const std::string shownDisk = diskName(disk, destination);
    switch (fault) {
    case DiskFault::Gone:
        told.advice = shownDisk +
                      "が取り外されたか、応答しなくなりました。つなぎ直してから、もう一度実行して下さい。"
                      "ここまでに移動したものは、つなぎ直した後の「元に戻す」で戻せます。";
        break;
    case DiskFault::Full:
        told.advice =
            shownDisk + "に空きがありません。空きを作るか、別の移動先を選んで、もう一度実行して下さい。";
        break;
    case DiskFault::FolderFull:
        told.advice =
            "移動先フォルダは、" + shownDisk + "の形式（" + disk.rules.kindName +
            "）で一つのフォルダに入るファイルの数の上限に達しました。ディスクにはまだ空きがあります。"
            "別の移動先フォルダを選んで、もう一度実行して下さい。";
        break;
    case DiskFault::None:
        break;
    }
    return told;
}

Status checkSourceWritable(const HeldFolder& source) {
    struct statvfs info {};
    if (::fstatvfs(source.fd(), &info) != 0 || !(info.f_flag & ST_RDONLY))
        return {};
    Error error = errorFromErrno(kMoveOutOfText, source.path(), EROFS);
    const std::filesystem::path mountPoint = mountEntryOf(source.fd()).mountPoint;
    error.advice = "移動元のディスク（" +
                   legibleName((mountPoint.empty() ? source.path() : mountPoint).native()) +
                   "）は読み取り専用でつながれているため、画像を移動できません。何も移動・削除していません。";
    return error;
}

} // namespace corvalin
