#include "platform/volumes.h"

#include "child_process.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <sys/mount.h>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {

// A desktop's mountinfo, shortened: system trees, a stacked mount, escapes in a USB label.
const char* const sampleMountInfo =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,size=12334792k\n"
    "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw,mode=600\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
    "28 27 0:25 / /run rw,nosuid shared:5 - tmpfs tmpfs rw,mode=755\n"
    "29 28 0:26 / /run/lock rw - tmpfs tmpfs rw\n"
    "30 28 0:27 / /run/user/1000 rw shared:9 - tmpfs tmpfs rw,mode=700\n"
    "31 30 0:28 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "32 28 8:17 / /run/media/u/MY\\040PHOTOS rw shared:10 master:2 - vfat /dev/sdb1 rw\n"
    "33 23 0:29 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
    "34 27 0:30 / /tmp rw - tmpfs tmpfs rw\n"
    "35 27 8:2 / /home rw - ext4 /dev/sda2 rw\n"
    "36 27 0:31 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw\n"
    "37 27 8:3 / /mnt/a rw - xfs /dev/sda3 rw\n"
    "38 27 0:32 / /mnt/a rw - ext4 /dev/sda4 rw\n"
    "39 27 8:5 / /mnt/tab\\011and\\134slash rw - btrfs /dev/sda5 rw\n"
    "40 27 0:33 / /media/cd ro - iso9660 /dev/sr0 ro\n"
    "41 27 0:34 / /mnt/auto rw - autofs systemd-1 rw\n"
    "garbage line\n";

} // namespace

class TestVolumes : public QObject {
    Q_OBJECT

private slots:
    void mountInfoGivesRealVolumesOnce_data() {
        QTest::addColumn<QByteArray>("mountInfo");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("desktop") << QByteArray(sampleMountInfo)
                                 << QStringList{"/ ext4",
                                                "/dev/shm tmpfs",
                                                "/home ext4",
                                                "/media/cd iso9660",
                                                "/mnt/a ext4",
                                                "/mnt/tab\tand\\slash btrfs",
                                                "/run/media/u/MY PHOTOS vfat",
                                                "/run/user/1000 tmpfs",
                                                "/run/user/1000/gvfs fuse.gvfsd-fuse",
                                                "/tmp tmpfs"};
        // A chroot whose root is not a mount point: no line names "/", yet it is offered.
        QTest::newRow("chroot") << QByteArray("22 27 0:21 / /proc rw - proc proc rw\n"
                                              "34 27 0:30 / /tmp rw - tmpfs tmpfs rw\n")
                                << QStringList{"/ ", "/tmp tmpfs"};
        QTest::newRow("ramfs root") << QByteArray("1 1 0:2 / / rw - ramfs ramfs rw\n")
                                    << QStringList{"/ ramfs"};
        QTest::newRow("unreadable") << QByteArray() << QStringList{"/ "};
    }
    void mountInfoGivesRealVolumesOnce() {
        QFETCH(QByteArray, mountInfo);
        QStringList found;
        for (const Volume& volume : parseMountInfo(mountInfo.toStdString()))
            found << QString::fromStdString(volume.mountPoint.native() + " " + volume.fileSystemType);
        QTEST(found, "expected");
    }

    void liveVolumesIncludeTheRoot() {
        const std::vector<Volume> volumes = listVolumes();
        QVERIFY(!volumes.empty());
        QCOMPARE(volumes.front().mountPoint, fs::path("/"));
    }

    // The list is kept between calls: a mount or an unmount made after a reading must still show
    // at the next call, in the namespace the caller is in then.
    void mountPointsFollowMountsMadeAfterAReading() {
        QTemporaryDir dir;
        const fs::path folder = fs::path(dir.path().toStdString()) / "mnt";
        fs::create_directory(folder);
        const auto listed = [&] {
            const auto points = listMountPoints();
            return std::find(points.begin(), points.end(), folder) != points.end();
        };
        QVERIFY(!listed());
        const int result = test::runInChild([&] {
            if (!test::enterOwnUserNamespace() || ::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return test::skipExit;
            if (listed()) // read in the new namespace, before the mount
                return 1;
            if (mountPointInOrBelow(folder.parent_path().native()))
                return 4;
            if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") != 0)
                return test::skipExit;
            if (!listed())
                return 2;
            // Found below its parent and as itself, never below a folder that merely shares the
            // start of its name.
            if (mountPointInOrBelow(folder.parent_path().native()) != folder ||
                mountPointInOrBelow(folder.native()) != folder ||
                mountPointInOrBelow(folder.native() + "2") ||
                mountPointInOrBelow(folder.native().substr(0, folder.native().size() - 1)))
                return 5;
            return ::umount(folder.c_str()) == 0 && !listed() ? 0 : 3;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
    }

    void volumeOfTakesLongestContainingMountPoint_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("volume");
        QTest::newRow("inside /mnt/a") << QByteArray("/mnt/a/pics") << QByteArray("/mnt/a");
        QTest::newRow("mount point itself") << QByteArray("/mnt/a") << QByteArray("/mnt/a");
        QTest::newRow("trailing slash") << QByteArray("/mnt/a/") << QByteArray("/mnt/a");
        QTest::newRow("/mnt/ab is not in /mnt/a") << QByteArray("/mnt/ab/pics") << QByteArray("/");
        QTest::newRow("nested mount") << QByteArray("/mnt/a/b/c") << QByteArray("/mnt/a/b");
        QTest::newRow("root") << QByteArray("/") << QByteArray("/");
    }
    void volumeOfTakesLongestContainingMountPoint() {
        QFETCH(QByteArray, path);
        const std::vector<Volume> volumes = {{"/", "ext4"}, {"/mnt/a", "ext4"}, {"/mnt/a/b", "vfat"}};
        QTEST(QByteArray::fromStdString(volumeOf(path.toStdString(), volumes).native()), "volume");
    }
};

QTEST_APPLESS_MAIN(TestVolumes)
#include "test_volumes.moc"
