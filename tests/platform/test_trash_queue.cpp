// Items waiting in their folders for their info files to reach the disk: nothing moves before the
// queue is told to, an item is found again by what it was (a file or folder put in its place
// meanwhile stays where it is), and no folder goes after a failure.
#include "platform/file_ops.h"
#include "platform/removal.h"
#include "platform/trash_queue.h"

#include "disk_helpers.h"
#include "own_trash.h"

#include <QTemporaryDir>
#include <QTest>

using namespace corvalin;
namespace fs = std::filesystem;
using test::makeEntries;

class TestTrashQueue : public QObject {
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

    // Three items wait: a.txt, then b.txt, then the folder dl/sub. `change` is done to one of them
    // while they wait.
    void waitingItemsAreFoundAgain_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("trashed"); // what is in the trash afterwards
        QTest::addColumn<QStringList>("told");    // what the queue says did not go
        QTest::addColumn<int>("code");            // of the failure returned; -1 none
        QTest::addColumn<QStringList>("left");    // folders left as they are: "name errno"
        QTest::newRow("nothing") << "" << QStringList{"a.txt", "b.txt", "sub"} << QStringList{} << -1
                                 << QStringList{};
        QTest::newRow("a.txt replaced by another file")
            << "replace a.txt" << QStringList{"b.txt"} << QStringList{"a.txt", "sub"} << 0 << QStringList{};
        // The freed inode is often given to the new file: its change of status tells them apart.
        QTest::newRow("a.txt deleted and made again") << "make a.txt again" << QStringList{"b.txt"}
                                                      << QStringList{"a.txt", "sub"} << 0 << QStringList{};
        QTest::newRow("a.txt gone") << "remove a.txt" << QStringList{"b.txt"} << QStringList{"a.txt", "sub"}
                                    << int(ENOENT) << QStringList{};
        // A folder moved away is no longer the one the items were taken from (it may lie outside
        // the folders the run was given now): all stay in it, and what took its name is untouched.
        // That is no failure: the run names the folder and goes on.
        QTest::newRow("its folder replaced, a file of the same name in it")
            << "swap folder" << QStringList{} << QStringList{"a.txt", "b.txt", "sub"} << -1
            << QStringList{"dl " + QString::number(ENOENT)};
        QTest::newRow("its folder moved out")
            << "move folder out" << QStringList{} << QStringList{"a.txt", "b.txt", "sub"} << -1
            << QStringList{"dl " + QString::number(ENOENT)};
        QTest::newRow("the folder replaced by another")
            << "replace sub" << QStringList{"a.txt", "b.txt"} << QStringList{"sub"} << -1
            << QStringList{"sub " + QString::number(ESTALE)};
        QTest::newRow("the folder replaced by a link")
            << "link sub" << QStringList{"a.txt", "b.txt"} << QStringList{"sub"} << -1
            << QStringList{"sub " + QString::number(ENOTDIR)};
        QTest::newRow("the folder gone")
            << "move sub out" << QStringList{"a.txt", "b.txt"} << QStringList{"sub"} << -1
            << QStringList{"sub " + QString::number(ENOENT)};
        // The folder waiting for the Trash holds one that changed: it stays with it.
        QTest::newRow("a folder below the waiting one moved")
            << "move deep" << QStringList{"a.txt", "b.txt"} << QStringList{"c.txt", "sub"} << -1
            << QStringList{"deep " + QString::number(ENOENT)};
    }
    void waitingItemsAreFoundAgain() {
        QFETCH(QString, change);
        QFETCH(QStringList, told);
        makeEntries(root(), {"d:dl", "f:dl/a.txt", "f:dl/b.txt", "d:dl/sub", "f:dl/sub/c.txt",
                             "d:dl/sub/deep", "f:dl/sub/deep/c.txt"});
        const Removal removal = Removal(false).waiting();
        const std::shared_ptr<TrashQueue> queue = removal.waitingItems();
        if (change == "move deep")
            QVERIFY(removal.removeFile(root() / "dl/sub/deep/c.txt").ok());
        for (const char* item : {"dl/a.txt", "dl/b.txt"})
            QVERIFY(removal.removeFile(root() / item).ok());
        QVERIFY(removal.removeFolder(root() / "dl/sub").ok());
        // Reserved and waiting: the info files are there, the items still in their folder.
        QCOMPARE(queue->size(), std::size_t(change == "move deep" ? 4 : 3));
        QCOMPARE(test::allNames(root() / "dl"), (QByteArrayList{"a.txt", "b.txt", "sub"}));
        QCOMPARE(test::allNames(m_home->trash() / "info").size(), int(queue->size()));

        if (change == "replace a.txt") {
            test::writeBytes(root() / "new.txt", "someone else's");
            fs::rename(root() / "new.txt", root() / "dl/a.txt");
        }
        if (change == "remove a.txt" || change == "make a.txt again")
            fs::remove(root() / "dl/a.txt");
        if (change == "make a.txt again") {
            QTest::qSleep(20); // past the coarse clock that stamps files
            test::writeBytes(root() / "dl/a.txt", "someone else's");
        }
        if (change == "swap folder") {
            fs::rename(root() / "dl", root() / "dl-old");
            makeEntries(root(), {"d:dl", "f:dl/a.txt", "f:dl/b.txt", "d:dl/sub"});
        }
        if (change == "move folder out")
            fs::rename(root() / "dl", root() / "home/dl");
        if (change == "link sub" || change == "move sub out")
            fs::rename(root() / "dl/sub", root() / "sub-old");
        if (change == "link sub")
            fs::create_directory_symlink(root() / "sub-old", root() / "dl/sub");
        if (change == "move deep")
            fs::rename(root() / "dl/sub/deep", root() / "dl/sub/deep2");
        if (change == "replace sub") {
            fs::rename(root() / "dl/sub", root() / "sub-old");
            makeEntries(root(), {"d:dl/sub"});
        }

        QVERIFY(queue->makeDurable().ok());
        QStringList notMoved;
        const Status moved = queue->moveAll([&](const WaitingItem& item) {
            notMoved << QString::fromStdString(item.place.original.filename().native());
        });
        QCOMPARE(notMoved, told);
        QTEST(moved ? -1 : moved.code(), "code");
        QVERIFY(queue->empty());
        QStringList left;
        for (const FolderLeft& folder : queue->takeFoldersLeft())
            left << QString::fromStdString(folder.folder.filename().native()) + " " +
                        QString::number(folder.reason);
        QTEST(left, "left");
        QStringList trashed;
        for (const auto& [original, info] : test::trashedItems(m_home->trash())) {
            trashed << QString::fromStdString(original.filename().native());
            QVERIFY(fs::exists(info.place.trashedFile));
        }
        QTEST(trashed, "trashed");
        // What did not go has no info file left, and whatever stands in its place is untouched.
        QCOMPARE(test::allNames(m_home->trash() / "info").size(), trashed.size());
        if (change.endsWith("a.txt again") || change == "replace a.txt")
            QCOMPARE(test::allNames(root() / "dl"), (QByteArrayList{"a.txt", "sub"}));
        if (change == "move folder out")
            QCOMPARE(test::allNames(root() / "home/dl"), (QByteArrayList{"a.txt", "b.txt", "sub"}));
        if (change == "move deep")
            QCOMPARE(test::allNames(root() / "dl/sub/deep2"), QByteArrayList{"c.txt"});
        if (change == "swap folder") {
            QCOMPARE(test::allNames(root() / "dl-old"), (QByteArrayList{"a.txt", "b.txt", "sub"}));
            QCOMPARE(test::allNames(root() / "dl"), (QByteArrayList{"a.txt", "b.txt", "sub"}));
        }
    }

    // A flush that failed: nothing goes in, every info file goes again.
    void releasedItemsStay() {
        makeEntries(root(), {"d:dl", "f:dl/a.txt", "d:dl/sub"});
        const Removal removal = Removal(false).waiting();
        QVERIFY(removal.removeFile(root() / "dl/a.txt").ok());
        QVERIFY(removal.removeFolder(root() / "dl/sub").ok());
        int told = 0;
        removal.waitingItems()->releaseAll([&](const WaitingItem&) { ++told; });
        QCOMPARE(told, 2);
        QCOMPARE(test::allNames(root() / "dl"), (QByteArrayList{"a.txt", "sub"}));
        QCOMPARE(test::allNames(m_home->trash() / "info"), QByteArrayList{});
    }
};

QTEST_APPLESS_MAIN(TestTrashQueue)
#include "test_trash_queue.moc"
