// How a run removes things: to the trash or for good, the hook that sees every item before it
// goes, the folders that cannot go in one piece, the check before a run, and read-only folders as
// an unprivileged user meets them.
#include "platform/file_ops.h"
#include "platform/removal.h"

#include "child_process.h"
#include "disk_helpers.h"
#include "own_trash.h"

#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace corvalin;
namespace fs = std::filesystem;
using test::makeEntries;

class TestRemoval : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::OwnHome> m_home;
    fs::path root() const { return m_dir->path().toStdString(); }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<test::OwnHome>(root() / "home");
    }
    void cleanup() { m_home.reset(); }

    // The hook runs once the place is reserved and before anything moves; when it fails, the item
    // stays and its reservation goes.
    void removes_data() {
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("hookFails");
        QTest::newRow("file to the trash") << false << false << false;
        QTest::newRow("folder to the trash") << false << true << false;
        QTest::newRow("file for good") << true << false << false;
        QTest::newRow("folder for good") << true << true << false;
        QTest::newRow("hook stops a trash move") << false << true << true;
        QTest::newRow("hook stops a deletion") << true << false << true;
    }
    void removes() {
        QFETCH(bool, permanent);
        QFETCH(bool, folder);
        QFETCH(bool, hookFails);
        makeEntries(root(), {"d:dl", "f:dl/a.txt", "f:dl/.hidden", "d:dl/ro", "f:dl/ro/x"});
        ::chmod((root() / "dl/a.txt").c_str(), 0444);
        ::chmod((root() / "dl/ro").c_str(), 0555);
        const fs::path item = root() / (folder ? "dl" : "dl/a.txt");
        std::vector<RemovalStep> seen;
        bool inPlaceWhenSeen = false;
        const Removal removal(permanent, [&](const RemovalStep& step) -> Status {
            seen.push_back(step);
            inPlaceWhenSeen = lookupEntry(item) != EntryKind::None &&
                              (!step.place || lookupEntry(step.place->infoFile) == EntryKind::File);
            return hookFails ? Status(Error{"記録", item, EIO, {}}) : Status();
        });
        const auto removed = folder ? removal.removeFolder(item) : removal.removeFile(item);
        QCOMPARE(seen.size(), std::size_t(1));
        QCOMPARE(seen[0].item, item);
        QCOMPARE(seen[0].folder, folder);
        QCOMPARE(seen[0].place.has_value(), !permanent);
        QVERIFY(inPlaceWhenSeen);
        const auto trashed = test::trashedItems(m_home->trash());
        if (hookFails) {
            QCOMPARE(removed.code(), EIO);
            QVERIFY(lookupEntry(item) != EntryKind::None);
            QVERIFY(trashed.empty());
            return;
        }
        QVERIFY(removed.ok());
        QCOMPARE(lookupEntry(item), EntryKind::None);
        QCOMPARE(removed.value().has_value(), !permanent);
        QCOMPARE(trashed.size(), std::size_t(permanent ? 0 : 1));
        if (!permanent) {
            QCOMPARE(trashed.begin()->first, item);
            QCOMPARE(trashed.begin()->second.place.trashedFile, removed.value()->trashedFile);
            const fs::path trashedFile = removed.value()->trashedFile;
            const fs::path kept = folder ? trashedFile / "ro/x" : trashedFile;
            QCOMPARE(lookupEntry(kept), EntryKind::File);
        }
    }

    // A link is no folder of ours, and a mount below would move into the trash with it.
    void refusesWhatCannotGoInOnePiece_data() {
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<bool>("mount"); // else a link to a folder
        QTest::newRow("link, to the trash") << false << false;
        QTest::newRow("link, for good") << true << false;
        QTest::newRow("mount below, to the trash") << false << true;
        QTest::newRow("mount below, for good") << true << true;
    }
    void refusesWhatCannotGoInOnePiece() {
        QFETCH(bool, permanent);
        QFETCH(bool, mount);
        makeEntries(root(),
                    {"d:dl", "d:dl/sub", "d:dl/sub/mnt", "f:dl/sub/x", "l:link>dl", "d:dl/su", "f:dl/su/y"});
        const Removal removal(permanent);
        if (!mount) {
            QCOMPARE(removal.removeFolder(root() / "link").code(), ENOTDIR);
            QCOMPARE(test::allNames(root() / "dl"), (QByteArrayList{"su", "sub"}));
            return;
        }
        const int result = test::runInChild([&] {
            if (!test::mountPrivateTmpfs(root() / "dl/sub/mnt"))
                return test::skipExit;
            const auto removed = removal.removeFolder(root() / "dl");
            const bool named = removed.code() == EXDEV && removed.error().path == root() / "dl/sub/mnt";
            // A folder whose name begins the mount's folder name holds no mount.
            const bool besideGoes = removal.removeFolder(root() / "dl/su").ok() &&
                                    lookupEntry(root() / "dl/su") == EntryKind::None;
            return named && besideGoes && lookupEntry(root() / "dl/sub/x") == EntryKind::File ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
    }

    // Before a run: a trash that cannot be used is named, with the way out; deleting for good
    // needs no trash.
    void checkBeforeTheRun() {
        makeEntries(root(), {"d:dl", "d:elsewhere", "d:home/.local", "d:home/.local/share"});
        fs::create_directory_symlink(root() / "elsewhere", m_home->trash());
        const Status refused = Removal(false).checkUsable(root() / "dl");
        QCOMPARE(refused.error().path, m_home->trash());
        QVERIFY(refused.error().advice.find("「ごみ箱を使わずに完全に削除する」") != std::string::npos);
        QVERIFY(Removal(true).checkUsable(root() / "dl").ok());
        QCOMPARE(test::allNames(root() / "elsewhere"), QByteArrayList{});
        fs::remove(m_home->trash());
        QVERIFY(Removal(false).checkUsable(root() / "dl").ok());
        QCOMPARE(lookupEntry(m_home->trash() / "info"), EntryKind::Folder);
        const Status gone = Removal(false).checkUsable(root() / "gone");
        QCOMPARE(gone.code(), ENOENT);
        QVERIFY(gone.error().advice.empty());
    }

    // Only an unprivileged user meets permissions: a read-only folder still goes (it is given the
    // write permission its move needs), one inside a read-only folder stays, reservation released.
    void readOnlyFolders_data() {
        QTest::addColumn<QByteArray>("readOnly");
        QTest::addColumn<int>("code");
        QTest::newRow("the folder itself") << QByteArray("dl/ro") << 0;
        QTest::newRow("the folder holding it") << QByteArray("dl") << int(EACCES);
    }
    void readOnlyFolders() {
        QFETCH(QByteArray, readOnly);
        QFETCH(int, code);
        if (::geteuid() == 0) {
            QCOMPARE(::chown(root().c_str(), 65534, 65534), 0);
            QCOMPARE(::chown(m_home->folder().c_str(), 65534, 65534), 0);
        }
        const int result = test::runInChild([&] {
            if (!test::dropPrivileges())
                return test::skipExit;
            makeEntries(root(), {"d:dl", "d:dl/ro", "f:dl/ro/x"});
            ::chmod((root() / "dl/ro").c_str(), 0555);
            ::chmod((root() / readOnly.toStdString()).c_str(), 0555);
            const auto removed = Removal(false).removeFolder(root() / "dl/ro");
            const bool stayed = lookupEntry(root() / "dl/ro/x") == EntryKind::File;
            const auto trashed = test::trashedItems(m_home->trash());
            return removed.code() == code && stayed == (code != 0) && trashed.size() == (code ? 0u : 1u) ? 0
                                                                                                         : 1;
        });
        ::chmod((root() / "dl").c_str(), 0755);
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }
};

QTEST_APPLESS_MAIN(TestRemoval)
#include "test_removal.moc"
