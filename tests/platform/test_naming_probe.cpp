#include "platform/absent_name.h"
#include "platform/disk_kind.h"
#include "platform/naming_probe.h"

#include "disk_helpers.h"
#include "platform/posix_io.h"

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

UniqueFd openFolder(const fs::path& folder) {
    return UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// One mount table for the lookups: an exFAT stick mounted over a folder of the home disk, and a
// network share on the same anonymous device number as nothing else.
const char* const kMountTable = "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                "35 27 8:2 / /home rw - ext4 /dev/sda2 rw\n"
                                "40 35 8:17 / /home/u/stick rw - vfat /dev/sdb1 rw\n"
                                "41 35 8:17 / /home/u/stick rw - fuseblk /dev/sdb1 rw\n"
                                "50 27 0:52 / /mnt/share rw - fuse.sshfs u@host: rw\n";

} // namespace

class TestNamingProbe : public QObject {
    Q_OBJECT

private slots:
    // The mount's own entry names the kind; without a mount id, the last entry of the device.
    void typeComesFromTheMountOfTheFolder_data() {
        QTest::addColumn<int>("mountId");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<QString>("expected");
        QTest::newRow("by mount id") << 40 << 8 << 17 << "vfat";
        QTest::newRow("by device, last mount wins") << 0 << 8 << 17 << "fuseblk";
        QTest::newRow("FUSE by device") << 0 << 0 << 52 << "fuse.sshfs";
        QTest::newRow("id unknown to the table") << 99 << 8 << 2 << "ext4";
        QTest::newRow("nothing") << 0 << 9 << 9 << "";
    }
    void typeComesFromTheMountOfTheFolder() {
        QFETCH(int, mountId);
        QFETCH(int, major);
        QFETCH(int, minor);
        const std::vector<MountEntry> entries = parseMountEntries(kMountTable);
        QTEST(QString::fromStdString(fileSystemTypeIn(entries, mountId, ::makedev(major, minor))),
              "expected");
    }

    // Found by the folder's mount, it agrees with the drive list's longest mount point.
    void typeOfALiveFolderIsItsVolumes() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        const UniqueFd fd = openFolder(folder);
        const std::vector<Volume> volumes = listVolumes();
        const fs::path mountPoint = volumeOf(folder, volumes);
        const auto volume = std::find_if(volumes.begin(), volumes.end(),
                                         [&](const Volume& v) { return v.mountPoint == mountPoint; });
        QVERIFY(volume != volumes.end());
        QCOMPARE(fileSystemTypeOf(fd.get()), volume->fileSystemType);
    }

    // The disk of the tests takes links, renames that refuse to replace and every byte, and keeps
    // letter case; the probe finds exactly that and leaves nothing behind.
    void probeOfAnOrdinaryDiskFindsEveryWay() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        const UniqueFd fd = openFolder(folder);
        const Result<NamingProbe> probe = probeNaming(fd.get(), folder);
        QVERIFY(probe.ok());
        QVERIFY(probe.value().exclusiveCreate);
        QVERIFY(probe.value().hardLinks && probe.value().linksShown);
        QVERIFY(probe.value().renameNoReplace);
        QVERIFY(!probe.value().caseInsensitive);
        QVERIFY(!probe.value().refusesNonUtf8 && !probe.value().refusesNonAscii &&
                !probe.value().refusesWindowsCharacters);
        QCOMPARE(copyNamingWay(probe.value()), NamingWay::HardLink);
        QCOMPARE(allNames(folder), QByteArrayList());
    }

    // A lookup that finds no entry of that name, however the disk says it, is no failure; one that
    // cannot tell (no permission to search) is, and so is no error at all.
    void lookupErrorsThatMeanAbsent_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("absent");
        QTest::newRow("missing") << QByteArray("missing.jpg") << true;
        QTest::newRow("through a file") << QByteArray("file.jpg/inner.jpg") << true;
        QTest::newRow("longer than the disk takes") << QByteArray(300, 'a') << true;
        QTest::newRow("behind a folder not to be searched") << QByteArray("closed/inner.jpg") << false;
    }
    void lookupErrorsThatMeanAbsent() {
        QFETCH(QByteArray, name);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        makeEntries(folder, {"f:file.jpg", "d:closed", "f:closed/inner.jpg"});
        QCOMPARE(::chmod((folder / "closed").c_str(), 0), 0);
        struct stat st {};
        const int error = ::lstat((folder / name.toStdString()).c_str(), &st) == 0 ? 0 : errno;
        ::chmod((folder / "closed").c_str(), 0755);
        QTEST(lookupMeansAbsent(error), "absent");
    }

    // Killed at any instant of its probes, a process leaves only what the next start removes.
    void probeKilledAnywhereLeavesNothingAfterTheSweep() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        for (int round = 0; round < 20; ++round) {
            const pid_t child = ::fork();
            if (child == 0) {
                const UniqueFd fd = openFolder(folder);
                for (;;)
                    (void)probeNaming(fd.get(), folder);
            }
            ::usleep(static_cast<useconds_t>(200 + round * 150));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        const UniqueFd fd = openFolder(folder);
        QVERIFY(!allNames(folder).empty()); // the kills did cut probes short
        QVERIFY(removeLeftoverProbes(fd.get(), folder).ok());
        QCOMPARE(allNames(folder), QByteArrayList());
    }

    // What a killed probe left goes at the next start; a running one's probe and every other file
    // stay.
    void leftoverProbesOfDeadProcessesGo() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        const std::string dead = ".corvalin-999999999-3.probe";
        // A second process of this same program, as another instance would be.
        const pid_t other = ::fork();
        if (other == 0) {
            ::pause();
            ::_exit(0);
        }
        const std::string running = ".corvalin-" + std::to_string(other) + "-0.probe";
        makeEntries(folder,
                    {QByteArray::fromStdString("f:" + dead), QByteArray::fromStdString("f:" + dead + "-link"),
                     QByteArray::fromStdString("f:" + dead + "-\x83\x65"), "f:.corvalin-999999999-3.part",
                     "f:.corvalin-999999999-3.from", "f:.corvalin-999999999-x.probe", "f:999999999-3.probe",
                     "d:.corvalin-999999999-4.probe", QByteArray::fromStdString("f:" + running)});
        const UniqueFd fd = openFolder(folder);
        const Status removed = removeLeftoverProbes(fd.get(), folder);
        ::kill(other, SIGKILL);
        ::waitpid(other, nullptr, 0);
        QVERIFY(removed.ok());
        QCOMPARE(allNames(folder),
                 (QByteArrayList{QByteArray::fromStdString(running), ".corvalin-999999999-3.from",
                                 ".corvalin-999999999-3.part", ".corvalin-999999999-4.probe",
                                 ".corvalin-999999999-x.probe", "999999999-3.probe"}));
    }
};

QTEST_GUILESS_MAIN(TestNamingProbe)
#include "test_naming_probe.moc"
