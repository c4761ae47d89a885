#include "platform/file_ops.h"

#include "child_process.h"
#include "disk_helpers.h"
#include "disk_mounts.h"
#include "swap_race.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvalin;
namespace fs = std::filesystem;
using test::makeEntries;

class TestRemoveTree : public QObject {
    Q_OBJECT

private slots:
    // Each tree holds links to the canary folder outside it; the canary must survive.
    void deletesTheTreeButNoLinkTarget_data() {
        QTest::addColumn<QByteArrayList>("tree");
        QTest::newRow("link to an outside folder")
            << QByteArrayList{"d:a", "f:a/1.jpg", "l:a/out>../../canary"};
        QTest::newRow("link to an outside file")
            << QByteArrayList{"f:1.jpg", "l:keep.jpg>../canary/keep.jpg"};
        QTest::newRow("deep, hidden, FIFO, non-UTF-8") << QByteArrayList{
            "d:a", "d:a/b", "d:a/b/.c", "f:a/b/.c/x", "p:a/p", "f:\x93\xfa.jpg", "l:a/b/l>../../../canary"};
        QTest::newRow("read-only entries")
            << QByteArrayList{"d:ro", "f:ro/1.jpg", "f:2.jpg", "l:ro/l>../../canary"};
    }
    void deletesTheTreeButNoLinkTarget() {
        QFETCH(QByteArrayList, tree);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:canary", "f:canary/keep.jpg", "d:top"});
        makeEntries(root / "top", tree);
        ::chmod((root / "top/ro").c_str(), 0555);
        ::chmod((root / "top/2.jpg").c_str(), 0444);
        QVERIFY(test::removeTreeAt(root / "top").ok());
        QCOMPARE(lookupEntry(root / "top"), EntryKind::None);
        QCOMPARE(test::allNames(root / "canary"), QByteArrayList{"keep.jpg"});
    }

    // Only an unprivileged user meets permissions; root would pass without the forcing.
    void forcesItsWayIntoProtectedSubfolders() {
        QTemporaryDir dir;
        const fs::path top = fs::path(dir.path().toStdString()) / "top";
        if (::geteuid() == 0)
            QCOMPARE(::chown(dir.path().toLocal8Bit().constData(), 65534, 65534), 0);
        const int result = test::runInChild([&] {
            if (!test::dropPrivileges())
                return test::skipExit;
            makeEntries(top,
                        {"d:", "d:ro", "f:ro/1.jpg", "d:locked", "d:locked/deep", "f:locked/deep/2.jpg"});
            ::chmod((top / "locked/deep").c_str(), 0);
            ::chmod((top / "locked").c_str(), 0);
            ::chmod((top / "ro").c_str(), 0555);
            ::chmod(top.c_str(), 0555);
            return test::removeTreeAt(top).ok() && lookupEntry(top) == EntryKind::None ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }

    void refusesWhatIsNotARealFolder_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("link to a folder") << QByteArray("link") << ENOTDIR;
        QTest::newRow("link, trailing slash") << QByteArray("link/") << ENOTDIR;
        QTest::newRow("file") << QByteArray("canary/keep.jpg") << ENOTDIR;
        QTest::newRow("missing") << QByteArray("none") << ENOENT;
        QTest::newRow("dot-dot") << QByteArray("canary/..") << EINVAL;
    }
    void refusesWhatIsNotARealFolder() {
        QFETCH(QByteArray, name);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:canary", "f:canary/keep.jpg", "l:link>canary"});
        const Status status = test::removeTreeAt(root / name.toStdString());
        QTEST(status.code(), "code");
        QCOMPARE(status.error().operation, std::string("フォルダの削除"));
        QCOMPARE(test::allNames(root / "canary"), QByteArrayList{"keep.jpg"});
    }

    void neverEntersAnotherMount_data() {
        QTest::addColumn<bool>("bind"); // else a tmpfs of its own
        QTest::newRow("other file system") << false;
        QTest::newRow("bind mount of the same file system") << true;
    }
    void neverEntersAnotherMount() {
        QFETCH(bool, bind);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:canary", "f:canary/keep.jpg", "d:top", "d:top/mnt"});
        const int result = test::runInChild([&] {
            if (!test::mountPrivateTmpfs(root / "top/mnt"))
                return test::skipExit;
            if (bind && (::umount((root / "top/mnt").c_str()) != 0 ||
                         ::mount((root / "canary").c_str(), (root / "top/mnt").c_str(), nullptr, MS_BIND,
                                 nullptr) != 0))
                return test::skipExit;
            if (!bind)
                makeEntries(root / "top/mnt", {"f:keep.jpg"});
            const Status status = test::removeTreeAt(root / "top");
            const bool named = status.code() == EXDEV && status.error().path == root / "top/mnt";
            return named && test::allNames(root / "top/mnt") == QByteArrayList{"keep.jpg"} ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
    }

    // A deletion that goes by a listing removes what the listing saw and nothing that arrived
    // after it: the newcomer stays, and so do the folders that hold it.
    void deletesOnlyWhatItListed_data() {
        QTest::addColumn<QByteArrayList>("arrivals"); // made after the listing
        QTest::addColumn<QByteArray>("named");        // the folder that stays, below top; empty: all gone
        QTest::addColumn<QByteArrayList>("left");     // every name left below top
        QTest::newRow("nothing arrived") << QByteArrayList{} << QByteArray() << QByteArrayList{};
        QTest::newRow("a file in the top folder")
            << QByteArrayList{"f:new.jpg.part"} << QByteArray(".") << QByteArrayList{"new.jpg.part"};
        QTest::newRow("a file deep down")
            << QByteArrayList{"f:a/b/new"} << QByteArray("a/b") << QByteArrayList{"a", "a/b", "a/b/new"};
        QTest::newRow("a folder under a listed file's name")
            << QByteArrayList{"r:1.jpg", "d:1.jpg", "f:1.jpg/x"} << QByteArray(".")
            << QByteArrayList{"1.jpg", "1.jpg/x"};
    }
    // FAT through FUSE refuses to remove a folder that still holds something with EPERM: a file
    // that arrived after the listing still keeps its folder, as elsewhere, and is no failure.
    void keepsWhatArrivedOnDisksWithoutOwners_data() {
        QTest::addColumn<test::DiskKind>("kind");
        QTest::newRow("fusefat") << test::DiskKind::FatFuse;
        QTest::newRow("exfat-fuse") << test::DiskKind::ExFatFuse;
    }
    void keepsWhatArrivedOnDisksWithoutOwners() {
        QFETCH(test::DiskKind, kind);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        const fs::path top = disk->mountPoint() / "top";
        makeEntries(top, {"d:", "f:1.jpg", "d:a", "f:a/2.jpg"});
        const Result<FolderTree> listed = readFolderTree(top);
        QVERIFY(listed.ok());
        makeEntries(top, {"f:a/new.part"});
        const Status removed = test::removeTreeAt(top, &listed.value());
        QCOMPARE(removed.code(), ENOTEMPTY);
        QCOMPARE(removed.error().path, top / "a");
        QCOMPARE(lookupEntry(top / "a/new.part"), EntryKind::File);
        QCOMPARE(lookupEntry(top / "1.jpg"), EntryKind::None);
    }
    void deletesOnlyWhatItListed() {
        QFETCH(QByteArrayList, arrivals);
        QFETCH(QByteArray, named);
        QFETCH(QByteArrayList, left);
        QTemporaryDir dir;
        const fs::path top = fs::path(dir.path().toStdString()) / "top";
        makeEntries(top, {"d:", "f:1.jpg", "f:.hidden", "d:a", "d:a/b", "f:a/b/2.jpg", "l:a/l>../.."});
        const Result<FolderTree> listed = readFolderTree(top);
        QVERIFY(listed.ok());
        for (const QByteArray& arrival : arrivals) {
            if (arrival.startsWith("r:"))
                fs::remove(top / arrival.mid(2).toStdString());
            else
                makeEntries(top, {arrival});
        }
        const Status removed = test::removeTreeAt(top, &listed.value());
        if (named.isEmpty()) {
            QVERIFY(removed.ok());
            QCOMPARE(lookupEntry(top), EntryKind::None);
            return;
        }
        QCOMPARE(removed.code(), ENOTEMPTY);
        QCOMPARE(removed.error().path, named == "." ? top : top / named.toStdString());
        QByteArrayList below;
        for (const auto& entry : fs::recursive_directory_iterator(top))
            below << QByteArray::fromStdString(entry.path().lexically_relative(top).native());
        std::sort(below.begin(), below.end());
        QCOMPARE(below, left);
    }

    // Another program keeps swapping a subfolder with a link to the canary while deletions run
    // (tests/robust runs the same race longer, over varied trees).
    void survivesASubfolderSwappedForALink() {
        QTemporaryDir dir;
        test::SwapRace race(dir.path().toStdString(), "sub");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1500 && race.canaryIntact())
            race.runRound({"d:sub"}); // may fail when it meets a swap; must never harm the canary
        QVERIFY(race.canaryIntact());
    }
};

QTEST_APPLESS_MAIN(TestRemoveTree)
#include "test_remove_tree.moc"
