#include "guest_disks.h"

#include "disk_mounts.h"

namespace corvalin::test {

namespace fs = std::filesystem;

const std::vector<GuestDiskKind>& guestDiskKinds() {
    // FAT with its long names in UTF-8 and the flush after each file that the desktop asks of a
    // stick (its short names need code page 437, and its default character set, ASCII, loaded
    // even so); NTFS refusing the names Windows cannot open, as desktops mount it.
    static const std::vector<GuestDiskKind> kinds = {
        {"vfat",
         {"vfat", "nls_cp437", "nls_ascii", "nls_iso8859-1", "nls_utf8"},
         {"mkfs.vfat", "-F", "32"},
         {"fsck.vfat", "-a", "-w"},
         64,
         "vfat",
         "shortname=mixed,utf8=1,showexec,flush"},
        {"exfat", {"exfat", "nls_utf8"}, {"mkfs.exfat"}, {"fsck.exfat", "-y"}, 64, "exfat", "iocharset=utf8"},
        {"ntfs", {"ntfs3", "nls_utf8"}, {"mkntfs", "-F", "-Q"}, {}, 64, "ntfs3", "iocharset=utf8"},
        {"btrfs", {"btrfs"}, {"mkfs.btrfs", "-q"}, {}, 128, "btrfs", ""},
        {"xfs", {"xfs"}, {"mkfs.xfs", "-q"}, {}, 320, "xfs", ""},
    };
    return kinds;
}

const GuestDiskKind* guestDiskKind(const QString& name) {
    for (const GuestDiskKind& kind : guestDiskKinds())
        if (kind.name == name)
            return &kind;
    return nullptr;
}

QStringList guestDiskModules() {
    QStringList modules{"fat", "fuse"};
    for (const GuestDiskKind& kind : guestDiskKinds())
        modules += kind.modules;
    modules.removeDuplicates();
    return modules;
}

std::optional<GuestDiskKind> usableKind(const GuestDiskKind& kind, const Machine& machine, QString& whyNot) {
    GuestDiskKind usable = kind;
    if (kind.mountType == "ntfs3" && machine.missingModules.contains("ntfs3")) {
        usable.modules = QStringList{"fuse"};
        usable.mountType = "ntfs-3g";
        usable.mountFlags = "windows_names";
    }
    QStringList missing;
    for (const QString& module : usable.modules)
        if (machine.missingModules.contains(module))
            missing << "the kernel's " + module + " driver";
    QStringList tools{usable.formatter.front()};
    if (!usable.checker.isEmpty())
        tools << usable.checker.front();
    if (usable.mountType == "ntfs-3g")
        tools << "ntfs-3g";
    for (const QString& tool : tools)
        if (findTool(tool).isEmpty())
            missing << tool;
    if (!missing.isEmpty()) {
        whyNot = kind.name + ": missing " + missing.join(", ") + " (scripts/quickstart.sh test sets them up)";
        return std::nullopt;
    }
    return usable;
}

std::optional<std::string> makeBlankImage(const fs::path& image, const GuestDiskKind& kind) {
    std::error_code error;
    fs::remove(image, error);
    const QString file = QString::fromStdString(image.native());
    QString why = runTool("truncate", {"-s", QString::number(kind.megabytes) + "M", file});
    if (why.isEmpty())
        why = runTool(findTool(kind.formatter.front()), kind.formatter.mid(1) << file);
    return why.isEmpty() ? std::nullopt : std::optional<std::string>(why.toStdString());
}

std::optional<std::string> checkImage(const fs::path& image, const GuestDiskKind& kind) {
    if (kind.checker.isEmpty())
        return std::nullopt;
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(findTool(kind.checker.front()), kind.checker.mid(1)
                                                    << QString::fromStdString(image.native()));
    // 1: errors were found and repaired.
    if (!check.waitForFinished(120000) || check.exitStatus() != QProcess::NormalExit || check.exitCode() > 1)
        return (kind.checker.join(' ') + " failed: " + QString::fromLocal8Bit(check.readAll()).trimmed())
            .toStdString();
    return std::nullopt;
}

std::string mountLine(const GuestDiskKind& kind, const std::string& device, const fs::path& folder) {
    return "mount -t " + kind.mountType + (kind.mountFlags.empty() ? "" : " -o " + kind.mountFlags) + " " +
           device + " '" + folder.native() + "'";
}

} // namespace corvalin::test
