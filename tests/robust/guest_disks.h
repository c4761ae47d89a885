#pragma once

#include "power_cut_machine.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The disks people carry pictures on, as the power-cut harness's virtual machine mounts them: an
// image formatted on this machine by the file system's own tool, mounted in the guest by its
// kernel's driver with the options the desktop's disk service gives a disk it mounts. NTFS goes
// through ntfs-3g (FUSE) where the kernel has no ntfs3.
namespace corvalin::test {

struct GuestDiskKind {
    QString name;           // "vfat", as the rows name it
    QStringList modules;    // the kernel's drivers it needs
    QStringList formatter;  // the program and its arguments; the image's path follows
    QStringList checker;    // the file system's own check, repairing; empty when none is run
    int megabytes = 0;      // the image's size (sparse)
    std::string mountType;  // `mount -t`
    std::string mountFlags; // `mount -o`; empty for none
};

// vfat, exfat, ntfs, btrfs, xfs.
const std::vector<GuestDiskKind>& guestDiskKinds();
const GuestDiskKind* guestDiskKind(const QString& name);

// Every module a kind may use, for prepareMachine.
QStringList guestDiskModules();

// `kind` as this machine and `machine`'s kernel can have it: NTFS through ntfs-3g over FUSE when
// the kernel lacks ntfs3. Nothing, with `whyNot` set, when a tool or a driver is missing.
std::optional<GuestDiskKind> usableKind(const GuestDiskKind& kind, const Machine& machine, QString& whyNot);

// A sparse image of `kind`'s size formatted by its tool; the error in words.
std::optional<std::string> makeBlankImage(const std::filesystem::path& image, const GuestDiskKind& kind);

// The file system's own check and repair of the image, as a user runs it on a stick a power cut
// left dirty; the error in words (a repair is no error).
std::optional<std::string> checkImage(const std::filesystem::path& image, const GuestDiskKind& kind);

// The guest's shell line that mounts `device` over `folder`.
std::string mountLine(const GuestDiskKind& kind, const std::string& device,
                      const std::filesystem::path& folder);

} // namespace corvalin::test
