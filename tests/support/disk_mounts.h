#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Real disks of the kinds people keep pictures on, made for a test in a temporary folder: an image
// formatted by the file system's own tool on a loop device, mounted by its FUSE driver (exFAT, FAT,
// NTFS, which this machine's kernel lacks) or by the kernel (XFS, btrfs), and an sshfs mount of a
// folder served by an sshd of the test's own on the loopback. Needs root (loop devices, /dev/fuse).
// Everything is unmounted and detached when the disk object goes, whatever the test did.
namespace corvalin::test {

enum class DiskKind { ExFatFuse, FatFuse, Ntfs3g, Sshfs, Xfs, Btrfs, Ext4 };

inline const char* diskKindName(DiskKind kind) {
    switch (kind) {
    case DiskKind::ExFatFuse:
        return "exfat-fuse";
    case DiskKind::FatFuse:
        return "fusefat";
    case DiskKind::Ntfs3g:
        return "ntfs-3g";
    case DiskKind::Sshfs:
        return "sshfs";
    case DiskKind::Xfs:
        return "xfs";
    case DiskKind::Btrfs:
        return "btrfs";
    case DiskKind::Ext4:
        return "ext4";
    }
    return "";
}

// Runs a tool and waits for it. Empty on success, else what went wrong, with the tool's own words.
inline QString runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return program + ": did not finish";
    }
    const QByteArray said = process.readAll();
    if (output)
        *output = said;
    if (process.exitCode() != 0)
        return program + " " + arguments.join(' ') + ": " + QString::fromLocal8Bit(said).trimmed();
    return {};
}

// A free TCP port on the loopback (for the test's sshd).
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

class MountedDisk {
public:
    // Makes and mounts a disk of `kind`, its FUSE driver given `options` ("uid=1000"); on failure
    // `whyNot` says what is missing or failed.
    static std::unique_ptr<MountedDisk> make(DiskKind kind, QString& whyNot, const QString& options = {}) {
        return make(kind, whyNot, options, {}, {});
    }
    // The same with an image of `size` ("4M"; the default where empty) formatted with `formatArguments`
    // added to the formatter's own.
    static std::unique_ptr<MountedDisk> make(DiskKind kind, QString& whyNot, const QString& options,
                                             const QString& size, const QStringList& formatArguments) {
        auto disk = std::unique_ptr<MountedDisk>(new MountedDisk(kind));
        disk->m_options = options;
        disk->m_size = size;
        disk->m_formatArguments = formatArguments;
        whyNot = disk->setUp();
        if (!whyNot.isEmpty())
            return nullptr;
        return disk;
    }
    ~MountedDisk() { tearDown(); }
    MountedDisk(const MountedDisk&) = delete;
    MountedDisk& operator=(const MountedDisk&) = delete;

    DiskKind kind() const { return m_kind; }
    std::filesystem::path mountPoint() const { return m_mountPoint; }
    std::filesystem::path image() const { return work("disk.img"); }

    // The stick pulled out: its FUSE driver killed, so that every call on the mount answers
    // ENOTCONN, as a driver whose device vanished does. False where it is no FUSE image.
    bool pullOut() {
        const pid_t driver = driverProcess();
        return driver > 0 && ::kill(driver, SIGKILL) == 0;
    }
    // The same stick back in: the dead mount cleared and the image mounted again where it was. A
    // mount still held by the run that met it gone lives on detached, and a block device's FUSE
    // mount would be served by it again: the stick comes back as another device, as a stick
    // plugged in again does.
    QString plugBackIn() {
        const QString mountPoint = QString::fromStdString(m_mountPoint.native());
        if (!runTool("umount", {mountPoint}).isEmpty()) {
            runTool("umount", {"-l", mountPoint});
            QByteArray device;
            if (QString why = runTool(
                    "losetup", {"--find", "--show", QString::fromStdString(image().native())}, &device);
                !why.isEmpty())
                return why;
            m_oldLoopDevices << m_loopDevice;
            m_loopDevice = QString::fromLocal8Bit(device).trimmed();
        }
        // The image may have been changed meanwhile: nothing read before may be served again.
        runTool("blockdev", {"--flushbufs", m_loopDevice});
        return mountImage();
    }

private:
    explicit MountedDisk(DiskKind kind) : m_kind(kind) {}

    std::filesystem::path work(const char* name) const {
        return std::filesystem::path(m_work.path().toStdString()) / name;
    }

    // The tools a kind needs: the formatter, then the driver.
    QStringList tools() const {
        switch (m_kind) {
        case DiskKind::ExFatFuse:
            return {"mkfs.exfat", "mount.exfat-fuse"};
        case DiskKind::FatFuse:
            return {"mkfs.vfat", "fusefat"};
        case DiskKind::Ntfs3g:
            return {"mkntfs", "ntfs-3g"};
        case DiskKind::Sshfs:
            return {"sshd", "ssh-keygen", "sshfs"};
        case DiskKind::Xfs:
            return {"mkfs.xfs"};
        case DiskKind::Btrfs:
            return {"mkfs.btrfs"};
        case DiskKind::Ext4:
            return {"mkfs.ext4"};
        }
        return {};
    }

    QString setUp() {
        if (::geteuid() != 0)
            return "needs root for loop devices and FUSE";
        if (!m_work.isValid())
            return "no temporary folder";
        for (const QString& tool : tools()) {
            const QStringList paths{"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
            if (QStandardPaths::findExecutable(tool, paths).isEmpty())
                return tool + " is not installed";
        }
        std::filesystem::create_directory(work("mnt"));
        m_mountPoint = work("mnt");
        return m_kind == DiskKind::Sshfs ? setUpSshfs() : setUpImage();
    }

    QString setUpImage() {
        const QString image = QString::fromStdString(work("disk.img").native());
        // XFS takes no less than 300 MB; the file is sparse.
        const QString size = !m_size.isEmpty() ? m_size : m_kind == DiskKind::Xfs ? "320M" : "128M";
        if (QString why = runTool("truncate", {"-s", size, image}); !why.isEmpty())
            return why;
        if (QString why = format(image); !why.isEmpty())
            return why;
        QByteArray device;
        if (QString why = runTool("losetup", {"--find", "--show", image}, &device); !why.isEmpty())
            return why;
        m_loopDevice = QString::fromLocal8Bit(device).trimmed();
        return mountImage();
    }

    QString mountImage() {
        const QString mountPoint = QString::fromStdString(m_mountPoint.native());
        const QStringList options = m_options.isEmpty() ? QStringList() : QStringList{"-o", m_options};
        QString why;
        switch (m_kind) {
        case DiskKind::ExFatFuse:
            why = runTool("mount.exfat-fuse", options + QStringList{m_loopDevice, mountPoint});
            break;
        case DiskKind::FatFuse:
            why = runTool("fusefat",
                          {"-o", m_options.isEmpty() ? "rw+" : "rw+," + m_options, m_loopDevice, mountPoint});
            break;
        case DiskKind::Ntfs3g:
            why = runTool("ntfs-3g", options + QStringList{m_loopDevice, mountPoint});
            break;
        default:
            why = runTool("mount", {m_loopDevice, mountPoint});
            break;
        }
        m_mounted = why.isEmpty();
        return why;
    }

    QString format(const QString& image) const {
        const QStringList more = m_formatArguments;
        switch (m_kind) {
        case DiskKind::ExFatFuse:
            return runTool("mkfs.exfat", more + QStringList{image});
        case DiskKind::FatFuse:
            return runTool("mkfs.vfat",
                           (more.isEmpty() ? QStringList{"-F", "32"} : more) + QStringList{image});
        case DiskKind::Ntfs3g:
            return runTool("mkntfs", {"-F", "-Q", image});
        case DiskKind::Xfs:
            return runTool("mkfs.xfs", {"-q", image});
        case DiskKind::Btrfs:
            return runTool("mkfs.btrfs", {"-q", image});
        case DiskKind::Ext4:
            return runTool("mkfs.ext4", {"-q", image});
        default:
            return "no image for this kind";
        }
    }

    // An sshd of the test's own, on a free port of the loopback, with a throwaway host key and
    // one authorised key; sshfs mounts a folder of the test's through it.
    QString setUpSshfs() {
        const QString dir = m_work.path();
        std::filesystem::create_directory(work("served"));
        for (const char* key : {"host_key", "client_key"}) {
            if (QString why = runTool("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", dir + "/" + key});
                !why.isEmpty())
                return why;
        }
        std::filesystem::copy_file(work("client_key.pub"), work("authorized_keys"));
        const int port = freeLoopbackPort();
        QFile config(dir + "/sshd_config");
        if (port == 0 || !config.open(QIODevice::WriteOnly))
            return "no port or configuration for sshd";
        config.write(QString("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\n"
                             "AuthorizedKeysFile %2/authorized_keys\nPasswordAuthentication no\n"
                             "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n"
                             "StrictModes no\nUsePAM no\nPidFile none\nSubsystem sftp internal-sftp\n")
                         .arg(port)
                         .arg(dir)
                         .toUtf8());
        config.close();
        std::filesystem::create_directories("/run/sshd"); // its privilege separation folder
        m_sshd.setProcessChannelMode(QProcess::MergedChannels);
        m_sshd.start(QStandardPaths::findExecutable("sshd", {"/usr/sbin", "/sbin"}),
                     {"-D", "-e", "-f", dir + "/sshd_config"});
        if (!m_sshd.waitForStarted())
            return "sshd did not start";
        const QStringList options{"-p", QString::number(port), "-o",
                                  "IdentityFile=" + dir +
                                      "/client_key,StrictHostKeyChecking=no,"
                                      "UserKnownHostsFile=/dev/null,BatchMode=yes"};
        QString why;
        for (int attempt = 0; attempt < 50; ++attempt) { // until sshd listens
            why = runTool("sshfs", options + QStringList{"root@127.0.0.1:" + dir + "/served",
                                                         QString::fromStdString(m_mountPoint.native())});
            if (why.isEmpty())
                break;
            QTest::qWait(100);
        }
        m_mounted = why.isEmpty();
        return why.isEmpty() ? why : why + " / sshd: " + QString::fromLocal8Bit(m_sshd.readAll());
    }

    // The FUSE driver serving this disk's loop device, found by its command line.
    pid_t driverProcess() const {
        if (m_loopDevice.isEmpty())
            return 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const QString pid = QString::fromStdString(entry.path().filename().native());
            QFile cmdline("/proc/" + pid + "/cmdline");
            if (pid.toInt() <= 0 || !cmdline.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> words = cmdline.readAll().split('\0');
            const bool driver =
                words.size() > 1 && (words[0].endsWith("exfat-fuse") || words[0].endsWith("fusefat") ||
                                     words[0].endsWith("ntfs-3g"));
            if (driver && words.contains(m_loopDevice.toLocal8Bit()))
                return pid.toInt();
        }
        return 0;
    }

    void tearDown() {
        const QString mountPoint = QString::fromStdString(m_mountPoint.native());
        if (m_mounted && !runTool("umount", {mountPoint}).isEmpty())
            runTool("umount", {"-l", mountPoint}); // busy: gone once the last user lets go
        for (const QString& device : m_oldLoopDevices + QStringList{m_loopDevice}) {
            if (!device.isEmpty())
                runTool("losetup", {"-d", device}); // a device still held goes once let go
        }
        if (m_sshd.state() != QProcess::NotRunning) {
            m_sshd.kill();
            m_sshd.waitForFinished();
        }
        // Qt's removal cannot name what is not UTF-8; the served folder may hold such names.
        std::error_code ignored;
        std::filesystem::remove_all(work("served"), ignored);
    }

    DiskKind m_kind;
    QString m_options;
    QString m_size;
    QStringList m_formatArguments;
    QTemporaryDir m_work{QDir::tempPath() + "/corvalin-disk-XXXXXX"};
    std::filesystem::path m_mountPoint;
    QString m_loopDevice;
    QStringList m_oldLoopDevices; // of a stick pulled out and plugged in again
    QProcess m_sshd;
    bool m_mounted = false;
};

// The disks with neither links nor a rename that refuses to replace, each with the column `column`
// off and on, the row named by the disk and the suffix for each.
inline void addRowsOfSticksWithoutSafeRenames(const char* column, const char* off, const char* on) {
    QTest::addColumn<DiskKind>("kind");
    QTest::addColumn<bool>(column);
    for (const bool value : {false, true}) {
        QTest::addRow("exfat-fuse%s", value ? on : off) << DiskKind::ExFatFuse << value;
        QTest::addRow("fusefat%s", value ? on : off) << DiskKind::FatFuse << value;
    }
}

// Makes a disk of `kind` or ends the test: a skip with the reason, or under CI (which installs
// every tool and runs as root) a failure.
#define CORVALIN_MOUNT_OR_SKIP(disk, kind, ...)                                                              \
    QString whyNot_##disk;                                                                                   \
    const std::unique_ptr<corvalin::test::MountedDisk> disk =                                                \
        corvalin::test::MountedDisk::make(kind, whyNot_##disk __VA_OPT__(, ) __VA_ARGS__);                   \
    if (!disk) {                                                                                             \
        const QByteArray reason =                                                                            \
            (QString(corvalin::test::diskKindName(kind)) + ": " + whyNot_##disk).toLocal8Bit();              \
        if (qEnvironmentVariableIsSet("CORVALIN_CI"))                                                        \
            QFAIL(reason.constData());                                                                       \
        QSKIP(reason.constData());                                                                           \
    }

} // namespace corvalin::test
