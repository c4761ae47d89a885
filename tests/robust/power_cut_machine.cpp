#include "power_cut_machine.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

const QStringList kSystemFolders = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};

} // namespace

QString findTool(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, kSystemFolders) : found;
}

namespace {

// The drivers of the virtual disks and of the shared root, and the file system of the images.
const QStringList kModules = {"virtio_pci", "virtio_blk", "9pnet_virtio", "9p", "ext4"};

// Runs a tool to its end; its output, or nothing with `error` set to what went wrong.
std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments, std::string& error,
                                  const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        error = (program + " " + arguments.join(' ') + " failed: ").toStdString() +
                process.readAllStandardError().trimmed().toStdString();
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

std::optional<fs::path> kernelImage(const fs::path& kernelFolder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kernelFolder / "boot", error))
        if (entry.path().filename().native().starts_with("vmlinuz-"))
            return entry.path();
    return std::nullopt;
}

// The modules in the order they load, dependencies first, as kmod lists them. Each of `optional`
// that the kernel lacks is left out and named in `missing`.
std::variant<std::vector<fs::path>, std::string> modulesInOrder(const fs::path& kernelFolder,
                                                                const std::string& version,
                                                                const QStringList& optional,
                                                                QStringList& missing) {
    std::string error;
    const QString base = QString::fromStdString(kernelFolder.native());
    const QString release = QString::fromStdString(version);
    if (!fs::exists(kernelFolder / "lib/modules" / version / "modules.dep") &&
        !runTool(findTool("depmod"), {"-b", base, release}, error))
        return error;
    std::vector<fs::path> modules;
    for (const QString& module : kModules + optional) {
        const auto listed =
            runTool(findTool("modprobe"), {"-d", base, "-S", release, "--show-depends", module}, error);
        if (!listed && optional.contains(module)) {
            missing << module;
            continue;
        }
        if (!listed)
            return error;
        for (const QByteArray& line : listed->split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.size() >= 2 && words[0] == "insmod" &&
                std::find(modules.begin(), modules.end(), fs::path(words[1].toStdString())) == modules.end())
                modules.emplace_back(words[1].toStdString());
        }
    }
    return modules;
}

// An initramfs of busybox, the modules (numbered in their loading order) and the init script.
std::optional<std::string> makeInitramfs(const fs::path& out, const std::vector<fs::path>& modules,
                                         const fs::path& initScript, const QString& busybox) {
    const fs::path tree = out.parent_path() / "initramfs";
    std::error_code error;
    fs::remove_all(tree, error);
    fs::create_directories(tree / "bin");
    fs::create_directories(tree / "modules");
    fs::copy_file(busybox.toStdString(), tree / "bin/busybox", error);
    fs::copy_file(initScript, tree / "init", error);
    for (std::size_t i = 0; i < modules.size() && !error; ++i) {
        const std::string number = (i < 10 ? "0" : "") + std::to_string(i) + "-";
        fs::copy_file(modules[i], tree / "modules" / (number + modules[i].filename().native()), error);
    }
    if (error)
        return "cannot build the initramfs in " + tree.native() + ": " + error.message();
    QByteArray names;
    for (const auto& entry : fs::recursive_directory_iterator(tree))
        names += QByteArray::fromStdString(fs::relative(entry.path(), tree).native()) + '\n';
    fs::permissions(tree / "init", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read |
                                       fs::perms::group_exec | fs::perms::others_exec);
    QProcess cpio;
    cpio.setWorkingDirectory(QString::fromStdString(tree.native()));
    cpio.setStandardOutputFile(QString::fromStdString(out.native()));
    cpio.start(busybox, {"cpio", "-o", "-H", "newc"});
    cpio.write(names);
    cpio.closeWriteChannel();
    if (!cpio.waitForFinished(60000) || cpio.exitCode() != 0)
        return "busybox cpio failed: " + cpio.readAllStandardError().toStdString();
    return std::nullopt;
}

} // namespace

std::variant<Machine, std::string> prepareMachine(const fs::path& kernelFolder, const fs::path& initScript,
                                                  const fs::path& work, const QStringList& optionalModules) {
#if !defined(__x86_64__)
    return std::string("the guest runs this machine's x86-64 programs: an x86-64 machine is needed");
#endif
    // The script's path goes on the kernel's command line, where a blank ends it.
    if (work.native().find_first_of(" \t\n") != std::string::npos)
        return "the work folder's path holds a blank: " + work.native();
    Machine machine;
    machine.qemu = findTool("qemu-system-x86_64");
    const QString busybox = findTool("busybox");
    std::string missing;
    for (const auto& [tool, package] : {std::pair{machine.qemu, "qemu-system-x86"},
                                        {busybox, "busybox-static"},
                                        {findTool("modprobe"), "kmod"},
                                        {findTool("mke2fs"), "e2fsprogs"}}) {
        if (tool.isEmpty())
            missing += std::string(missing.empty() ? "" : ", ") + package;
    }
    const std::optional<fs::path> kernel = kernelImage(kernelFolder);
    if (!kernel)
        missing +=
            (missing.empty() ? "" : ", ") + ("Debian's kernel package unpacked in " + kernelFolder.native());
    if (!missing.empty())
        return "missing: " + missing + " (scripts/quickstart.sh test sets them up)";
    machine.kernel = *kernel;
    const std::string version = kernel->filename().native().substr(std::string("vmlinuz-").size());
    const auto modules = modulesInOrder(kernelFolder, version, optionalModules, machine.missingModules);
    if (const auto* error = std::get_if<std::string>(&modules))
        return *error;
    machine.initramfs = work / "initramfs.cpio";
    if (auto error = makeInitramfs(machine.initramfs, std::get<0>(modules), initScript, busybox))
        return *error;
    return machine;
}

std::optional<std::string> makeImage(const fs::path& image, const fs::path& folder) {
    std::string error;
    std::error_code ignored;
    fs::remove(image, ignored);
    const QStringList arguments = {"-q",
                                   "-F",
                                   "-t",
                                   "ext4",
                                   "-b",
                                   "4096",
                                   "-d",
                                   QString::fromStdString(folder.native()),
                                   QString::fromStdString(image.native()),
                                   "32M"};
    if (!runTool(findTool("mke2fs"), arguments, error))
        return error;
    return std::nullopt;
}

std::optional<std::string> copyImage(const fs::path& from, const fs::path& to) {
    std::string error;
    if (!runTool(
            "cp",
            {"--sparse=always", QString::fromStdString(from.native()), QString::fromStdString(to.native())},
            error))
        return error;
    return std::nullopt;
}

namespace {

// no_timer_check: on a loaded host the emulated timer can look broken to the kernel, which then
// stops at boot.
QStringList qemuArguments(const Machine& machine, const std::vector<fs::path>& images,
                          const fs::path& script) {
    QStringList arguments = {"-nodefaults",
                             "-accel",
                             "tcg",
                             "-cpu",
                             "max",
                             "-m",
                             "1024",
                             "-smp",
                             "1",
                             "-display",
                             "none",
                             "-serial",
                             "stdio",
                             "-no-reboot",
                             "-kernel",
                             QString::fromStdString(machine.kernel.native()),
                             "-initrd",
                             QString::fromStdString(machine.initramfs.native()),
                             "-append",
                             "console=ttyS0 quiet panic=-1 no_timer_check pcscript=" +
                                 QString::fromStdString(script.native()),
                             "-virtfs",
                             "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap"};
    for (const fs::path& image : images) {
        // A comma in a file name is written twice on QEMU's command line.
        const QString file = QString::fromStdString(image.native()).replace(',', ",,");
        arguments << "-drive"
                  << "file=" + file + ",format=raw,if=virtio,cache=writeback";
    }
    return arguments;
}

} // namespace

std::string guestEnvironment(const fs::path& home) {
    const std::string folder = home.native();
    return "export HOME='" + folder + "' XDG_CONFIG_HOME='" + folder + "/.config' XDG_STATE_HOME='" + folder +
           "/.local/state' XDG_DATA_HOME='" + folder + "/.local/share'\n" +
           "export TMPDIR=/run XDG_RUNTIME_DIR=/run LANG=C.UTF-8 ASAN_OPTIONS=detect_leaks=0:color=never "
           "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1\n";
}

BootLog bootMachine(const Machine& machine, const std::vector<fs::path>& images, const fs::path& script,
                    const std::optional<CutPlan>& cut, int timeoutSeconds) {
    BootLog log;
    QProcess qemu;
    qemu.setProcessChannelMode(QProcess::MergedChannels);
    qemu.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    qemu.start(machine.qemu, qemuArguments(machine, images, script));
    QElapsedTimer clock;
    clock.start();
    qint64 opened = -1;
    while (qemu.state() != QProcess::NotRunning || qemu.canReadLine()) {
        qemu.waitForReadyRead(2);
        while (qemu.canReadLine()) {
            log.lines << QString::fromUtf8(qemu.readLine()).trimmed();
            log.arrived.push_back(double(clock.elapsed()) / 1000);
            if (opened < 0 && cut && log.lines.last() == cut->opening)
                opened = clock.elapsed();
            else if (opened >= 0 && log.span < 0 && cut->closing.contains(log.lines.last()))
                log.span = double(clock.elapsed() - opened) / 1000;
        }
        log.opened = opened >= 0;
        const bool cutNow =
            opened >= 0 && log.span < 0 && clock.elapsed() >= opened + qint64(cut->delay * 1000);
        if (cutNow || clock.elapsed() > timeoutSeconds * 1000LL) {
            qemu.kill(); // SIGKILL: the power cut
            qemu.waitForFinished();
            log.cut = cutNow;
            log.cutAt = double(clock.elapsed()) / 1000;
            if (!cutNow)
                log.failure = "the guest did not finish within " + QString::number(timeoutSeconds) + " s";
            return log;
        }
    }
    if (!log.lines.contains("PC-HALT"))
        log.failure = "the guest stopped before its end (exit " + QString::number(qemu.exitCode()) + ")";
    return log;
}

} // namespace corvalin::test
