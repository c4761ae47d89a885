#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// A small virtual machine whose power can be cut: QEMU in TCG mode with Debian's kernel, a busybox
// initramfs that mounts this machine's root read-only over 9p and runs a script there in a chroot,
// and ext4 disk images written back through the host's page cache. SIGKILL to the emulator keeps
// what the guest had sent to its disks and loses what its kernel still held, as a power cut does.
namespace corvalin::test {

// A program on PATH or in the system's sbin and bin folders (root's PATH may lack them); empty
// when there is none.
QString findTool(const QString& name);

struct Machine {
    QString qemu;
    std::filesystem::path kernel;
    std::filesystem::path initramfs;
    QStringList missingModules; // of the optional ones asked for, those the kernel does not have
};

// QEMU, a static busybox, kmod's modprobe and depmod, and the kernel package unpacked in
// `kernelFolder` (boot/vmlinuz-*, lib/modules/*); builds the initramfs in `work` around
// `initScript`, with the drivers of the virtual disks and the shared root, ext4, and those of
// `optionalModules` that the kernel has (each with what it depends on; the init loads them all).
// What is missing, in words, when something is.
std::variant<Machine, std::string> prepareMachine(const std::filesystem::path& kernelFolder,
                                                  const std::filesystem::path& initScript,
                                                  const std::filesystem::path& work,
                                                  const QStringList& optionalModules = {});

// An ext4 image of `folder`'s tree; the error in words.
std::optional<std::string> makeImage(const std::filesystem::path& image, const std::filesystem::path& folder);

// A sparse copy, so that a cut that missed can be tried again on the same disks.
std::optional<std::string> copyImage(const std::filesystem::path& from, const std::filesystem::path& to);

// Where a cut falls: `delay` seconds after the guest printed `opening`, if that is before any of
// `closing` (the window then missed, and its length is known).
struct CutPlan {
    std::string step;
    QString opening;
    QStringList closing;
    double delay = 0;
};

struct BootLog {
    QStringList lines;           // the guest's console
    std::vector<double> arrived; // when each line came, in seconds since the boot began
    bool cut = false;
    double cutAt = 0;    // when the power was cut, as `arrived` counts
    bool opened = false; // the window opened
    double span = -1;    // the window's length in seconds, when it closed before the cut fell
    QString failure;     // the guest did not come to its end
};

// The shell lines of a boot's script that give the guest's programs `home` as HOME, with the
// settings, state and data folders below it, a temporary folder on the guest's own tmpfs, UTF-8,
// and the sanitizers' options.
std::string guestEnvironment(const std::filesystem::path& home);

BootLog bootMachine(const Machine& machine, const std::vector<std::filesystem::path>& images,
                    const std::filesystem::path& script, const std::optional<CutPlan>& cut,
                    int timeoutSeconds);

} // namespace corvalin::test
