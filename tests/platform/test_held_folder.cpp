#include "platform/held_folder.h"

#include "child_process.h"
#include "disk_helpers.h"

#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvalin;
namespace fs = std::filesystem;
using test::makeEntries;

namespace {

HeldFolder held(const fs::path& path) {
    Result<HeldFolder> opened = HeldFolder::open(path);
    if (!opened)
        qFatal("cannot open %s", path.c_str());
    return std::move(opened.value());
}

std::uint64_t inodeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestHeldFolder : public QObject {
    Q_OBJECT

private slots:
    void childIsOnlyARealFolderBelow_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("a folder") << QByteArray("sub") << 0;
        QTest::newRow("a link to a folder") << QByteArray("link") << ENOTDIR;
        QTest::newRow("a file") << QByteArray("file.jpg") << ENOTDIR;
        QTest::newRow("a FIFO") << QByteArray("fifo") << ENOTDIR;
        QTest::newRow("nothing") << QByteArray("missing") << ENOENT;
        QTest::newRow("dot dot") << QByteArray("..") << EINVAL;
        QTest::newRow("dot") << QByteArray(".") << EINVAL;
        QTest::newRow("empty") << QByteArray("") << EINVAL;
        QTest::newRow("two components") << QByteArray("sub/deep") << EINVAL;
    }
    void childIsOnlyARealFolderBelow() {
        QFETCH(QByteArray, name);
        QFETCH(int, code);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:top", "d:top/sub", "d:top/sub/deep", "d:outside", "l:top/link>../outside",
                           "f:top/file.jpg", "p:top/fifo"});
        const Result<HeldFolder> child = held(root / "top").child(name.toStdString());
        QCOMPARE(child.code(), code);
        if (code != 0)
            QCOMPARE(child.error().path, root / "top" / name.toStdString());
    }

    // A folder seen before and found again by its name must be that very folder.
    void childWithAnIdentityRefusesAnotherFolderOfThatName() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:sub", "d:other"});
        const HeldFolder top = held(root);
        const FolderId seen = top.child("sub").value().id();
        QVERIFY(top.child("sub", seen).ok());
        QCOMPARE(::rename((root / "sub").c_str(), (root / "was").c_str()), 0);
        QCOMPARE(::rename((root / "other").c_str(), (root / "sub").c_str()), 0);
        QCOMPARE(top.child("sub", seen).code(), ESTALE);
    }

    void belowWalksOnlyPlainComponents_data() {
        QTest::addColumn<QByteArray>("below"); // appended to the top folder's path
        QTest::addColumn<int>("code");
        QTest::newRow("the top itself") << QByteArray("") << 0;
        QTest::newRow("two levels") << QByteArray("/a/b") << 0;
        QTest::newRow("a trailing slash") << QByteArray("/a/b/") << EINVAL;
        QTest::newRow("an empty component") << QByteArray("/a//b") << EINVAL;
        QTest::newRow("a dot") << QByteArray("/a/./b") << EINVAL;
        QTest::newRow("up and down again") << QByteArray("/a/../a/b") << EINVAL;
        QTest::newRow("up and out") << QByteArray("/a/../../outside") << EINVAL;
        QTest::newRow("a sibling sharing the prefix") << QByteArray("x/a") << EINVAL;
        QTest::newRow("a link on the way") << QByteArray("/link/inner") << ENOTDIR;
        QTest::newRow("a file on the way") << QByteArray("/a/f/b") << ENOTDIR;
    }
    void belowWalksOnlyPlainComponents() {
        QFETCH(QByteArray, below);
        QFETCH(int, code);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:top", "d:top/a", "d:top/a/b", "f:top/a/f", "d:outside", "d:outside/inner",
                           "d:topx", "d:topx/a", "l:top/link>../outside"});
        const fs::path path = (root / "top").native() + below.toStdString();
        const Result<HeldFolder> found = held(root / "top").below(path);
        QCOMPARE(found.code(), code);
        if (found)
            QCOMPARE(found.value().id().inode, inodeOf(path));
    }

    // What the run does through a held folder stays in it after a swap of its path for a link.
    void workGoesOnInTheHeldFolderAfterItsPathIsSwapped() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:tree", "d:tree/sub", "f:tree/sub/1.jpg", "d:victim", "f:victim/keep.jpg"});
        const HeldFolder top = held(root / "tree");
        const HeldFolder sub = std::move(top.child("sub").value());
        QCOMPARE(::rename((root / "tree/sub").c_str(), (root / "moved").c_str()), 0);
        QCOMPARE(::symlink("../victim", (root / "tree/sub").c_str()), 0);
        QVERIFY(sub.makeFolder("made").ok());
        QVERIFY(sub.moveTo("1.jpg", sub, "2.jpg").ok());
        QVERIFY(sub.removeFile("2.jpg").ok());
        QVERIFY(sub.enter().ok());
        QCOMPARE(::access("made", F_OK), 0);
        QCOMPARE(test::allNames(root / "moved"), QByteArrayList{"made"});
        QCOMPARE(test::allNames(root / "victim"), QByteArrayList{"keep.jpg"});
        QCOMPARE(top.child("sub").code(), ENOTDIR);
        QCOMPARE(::chdir("/"), 0);
    }

    void moveNeverReplaces() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"d:a", "d:b", "f:a/1.jpg", "f:b/taken.jpg"});
        const HeldFolder a = held(root / "a");
        const HeldFolder b = held(root / "b");
        const Status taken = a.moveTo("1.jpg", b, "taken.jpg");
        QCOMPARE(taken.code(), EEXIST);
        QCOMPARE(taken.error().path, root / "a/1.jpg");
        QVERIFY(a.moveTo("1.jpg", b, "free.jpg").ok());
        QCOMPARE(test::allNames(root / "a"), QByteArrayList{});
        QCOMPARE(test::allNames(root / "b"), (QByteArrayList{"free.jpg", "taken.jpg"}));
        QCOMPARE(a.moveTo("../b/free.jpg", a, "x").code(), EINVAL);
    }

    // Never by opening the file: a mode of 000 or a FIFO would stop that.
    void makeWritableChangesOnlyTheEntryItself_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<unsigned>("before");
        QTest::addColumn<unsigned>("after");
        QTest::newRow("read-only") << QByteArray("ro.jpg") << 0444u << 0644u;
        QTest::newRow("no rights at all") << QByteArray("none.jpg") << 0000u << 0200u;
        QTest::newRow("a FIFO") << QByteArray("fifo") << 0444u << 0644u;
        QTest::newRow("writable already") << QByteArray("rw.jpg") << 0640u << 0640u;
    }
    void makeWritableChangesOnlyTheEntryItself() {
        QFETCH(QByteArray, name);
        QFETCH(unsigned, before);
        QFETCH(unsigned, after);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root,
                    {"f:ro.jpg", "f:none.jpg", "p:fifo", "f:rw.jpg", "f:target.jpg", "l:link>target.jpg"});
        const fs::path file = root / name.toStdString();
        QCOMPARE(::chmod(file.c_str(), before), 0);
        QCOMPARE(::chmod((root / "target.jpg").c_str(), 0444), 0);
        const HeldFolder folder = held(root);
        QVERIFY(folder.makeWritable(name.toStdString()).ok());
        QCOMPARE(modeOf(file), after);
        // A link has no mode of its own: its target stays as it is.
        QVERIFY(folder.makeWritable("link").ok());
        QCOMPARE(modeOf(root / "target.jpg"), 0444u);
        QCOMPARE(folder.makeWritable("missing").code(), ENOENT);
    }

    void filesAreTheRegularVisibleOnesInByteOrder() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        makeEntries(root, {"f:b.jpg", "f:A.jpg", "f:.hidden.jpg", "d:folder", "p:fifo", "l:link.jpg>b.jpg"});
        const HeldFolder folder = held(root);
        QCOMPARE(folder.files().value(), (std::vector<std::string>{"A.jpg", "b.jpg"}));
        const Result<HeldEntry> link = folder.lookup("link.jpg");
        QCOMPARE(int(link.value().kind), int(HeldEntry::Kind::Link));
        QCOMPARE(int(folder.lookup("gone").value().kind), int(HeldEntry::Kind::None));
    }

    // Write and search rights without read: the folder is held, worked in, but cannot be listed.
    void aFolderThatCannotBeReadIsStillWorkedInByName() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        if (::geteuid() == 0)
            QCOMPARE(::chown(root.c_str(), 65534, 65534), 0);
        const int result = test::runInChild([&] {
            if (!test::dropPrivileges())
                return test::skipExit;
            const fs::path locked = root / "locked";
            if (::mkdir(locked.c_str(), 0300) != 0)
                return 2;
            Result<HeldFolder> folder = HeldFolder::open(locked);
            if (!folder || !folder.value().makeFolder("made").ok())
                return 3;
            return folder.value().list().code() == EACCES && folder.value().child("made").ok() ? 0 : 4;
        });
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }
};

QTEST_APPLESS_MAIN(TestHeldFolder)
#include "test_held_folder.moc"
