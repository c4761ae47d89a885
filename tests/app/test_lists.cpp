// The drive, folder and file lists: what they show, and the snapshot that the runs rely on.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "platform/volumes.h"
#include "temp_tree.h"

#include <QSignalSpy>

#include <QtTest>
#include <sys/stat.h>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

class TestLists : public QObject {
    Q_OBJECT

    static QStringList namesOf(const FileList& list) {
        QStringList names;
        for (int i = 0; i < list.entryCount(); ++i)
            names << QString::fromStdString(list.entry(i));
        return names;
    }

private slots:
    // Only regular files that are not hidden, in the order of their bytes.
    void fileListShowsPlainFilesInOrder() {
        QTemporaryDir dir;
        const fs::path root = pathOf(dir);
        for (const char* name : {"b.jpg", "A.JPG", ".hidden.jpg", "a.txt", "\x93\xfa.jpg"})
            writeFile(root / name);
        fs::create_directory(root / "folder");
        fs::create_symlink(root / "b.jpg", root / "link.jpg");
        QVERIFY(::mkfifo((root / "fifo").c_str(), 0600) == 0);
        FileList list(FileList::Selection::Single);
        QVERIFY(list.setPath(root));
        QCOMPARE(list.entryCount(), 4);
        QCOMPARE(namesOf(list).mid(0, 3), QStringList({"A.JPG", "a.txt", "b.jpg"}));
        QCOMPARE(list.entry(3), std::string("\x93\xfa.jpg"));
        QCOMPARE(list.model()->index(3, 0).data().toString(), QString("日.jpg")); // Shift-JIS
    }

    // The entries stay as read while the files are deleted, until the list is refreshed.
    void fileListKeepsItsSnapshotUntilRefreshed() {
        QTemporaryDir dir;
        const fs::path root = pathOf(dir);
        for (const char* name : {"1.jpg", "2.jpg", "3.txt"})
            writeFile(root / name);
        FileList list(FileList::Selection::Single);
        QVERIFY(list.setPath(root));
        for (const char* name : {"1.jpg", "2.jpg", "3.txt"})
            fs::remove(root / name);
        QCOMPARE(namesOf(list), QStringList({"1.jpg", "2.jpg", "3.txt"}));
        QVERIFY(list.refresh());
        QCOMPARE(list.entryCount(), 0);
    }

    void fileListOfHiddenFilesIsEmpty() {
        QTemporaryDir dir;
        writeFile(pathOf(dir) / ".a.jpg");
        FileList list(FileList::Selection::Single);
        QVERIFY(list.setPath(pathOf(dir)));
        QCOMPARE(list.entryCount(), 0);
    }

    void fileListKeepsItsFolderWhenANewOneFails() {
        QTemporaryDir dir;
        writeFile(pathOf(dir) / "a.jpg");
        FileList list(FileList::Selection::Single);
        QVERIFY(list.setPath(pathOf(dir)));
        const Status failed = list.setPath(pathOf(dir) / "gone");
        QVERIFY(!failed);
        QCOMPARE(failed.error().path, pathOf(dir) / "gone");
        QCOMPARE(list.path(), pathOf(dir));
        QCOMPARE(list.entryCount(), 1);
    }

    void extendedSelection() {
        QTemporaryDir dir;
        for (const char* name : {"a", "b", "c"})
            writeFile(pathOf(dir) / name);
        FileList list(FileList::Selection::Extended);
        QVERIFY(list.setPath(pathOf(dir)));
        list.selectionModel()->select(list.model()->index(0, 0), QItemSelectionModel::Select);
        list.selectionModel()->select(list.model()->index(2, 0), QItemSelectionModel::Select);
        QVERIFY(list.isSelected(0) && !list.isSelected(1) && list.isSelected(2));
    }

    // Ancestors above the folder, its subfolders below; subfolders are a snapshot until refresh.
    void folderListShowsAncestorsAndSubfolders() {
        QTemporaryDir dir;
        const fs::path root = pathOf(dir) / "top";
        fs::create_directories(root / "b");
        fs::create_directories(root / "a");
        fs::create_directories(root / ".hidden");
        FolderList list;
        QSignalSpy changed(&list, &FolderList::folderChanged);
        QVERIFY(list.setPath(root / ""));
        QCOMPARE(list.path(), root);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(list.subfolderCount(), 2);
        QCOMPARE(list.subfolder(0), root / "a");
        int depth = 0;
        for (const auto& part : root)
            depth += part.empty() ? 0 : 1;
        QCOMPARE(list.count(), depth + 2);
        QCOMPARE(list.currentItem()->text().trimmed(), QString("top"));

        fs::create_directories(root / "c");
        QCOMPARE(list.subfolderCount(), 2);
        QVERIFY(list.refresh());
        QCOMPARE(list.subfolderCount(), 3);
        QVERIFY(list.setPath(root));
        QCOMPARE(changed.count(), 1); // same folder: no change event
    }

    // Choosing a volume again comes back to the folder last shown on it, or, when that folder has
    // gone, to its nearest ancestor still there on that volume.
    void folderListRemembersAFolderPerVolume() {
        QTemporaryDir dir;
        const fs::path stick = pathOf(dir) / "stick";
        fs::create_directories(stick / "a" / "b" / "c");
        fs::create_directories(pathOf(dir) / "home");
        const std::vector<Volume> volumes{{"/", "ext4"}, {stick, "vfat"}};
        FolderList list;
        QCOMPARE(list.folderOnVolume(stick, volumes), stick);
        QVERIFY(list.setPath(stick / "a"));
        QVERIFY(list.setPath(stick / "a" / "b" / "c"));
        QVERIFY(list.setPath(pathOf(dir) / "home"));
        QCOMPARE(list.folderOnVolume(stick, volumes), stick / "a" / "b" / "c");
        QCOMPARE(list.folderOnVolume("/", volumes), pathOf(dir) / "home");
        fs::remove_all(stick / "a" / "b");
        QCOMPARE(list.folderOnVolume(stick, volumes), stick / "a");
        fs::remove_all(stick);
        QCOMPARE(list.folderOnVolume(stick, volumes), stick);
        const Status gone = list.setPath(stick);
        QCOMPARE(gone.code(), ENOENT); // the real reason, not "Not a directory"
    }

    // A name with control characters is one entry, drawn with visible stand-ins; the bytes on disk
    // are what the lists use.
    void controlCharactersAreDrawnVisibly_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("newline") << QByteArray("line\nbreak") << "line<LF>break";
        QTest::newRow("tab") << QByteArray("tab\there") << "tab<TAB>here";
        QTest::newRow("escape sequence") << QByteArray("\x1b[2J") << "<ESC>[2J";
        QTest::newRow("right-to-left override") << QByteArray("abc\u202Egpj.exe") << "abc<U+202E>gpj.exe";
        QTest::newRow("Shift-JIS with control bytes") << QByteArray("\x82\xa0\r\n\x82\xa2") << "あ<CR><LF>い";
    }
    void controlCharactersAreDrawnVisibly() {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        const fs::path raw = name.toStdString();
        fs::create_directories(pathOf(dir) / "folders" / raw);
        writeFile(pathOf(dir) / raw);
        FolderList folders;
        QVERIFY(folders.setPath(pathOf(dir) / "folders"));
        QCOMPARE(folders.subfolderCount(), 1);
        QListWidgetItem* entry = folders.item(folders.count() - 1);
        QCOMPARE(entry->text().trimmed(), shown);
        emit folders.itemActivated(entry);
        QCOMPARE(folders.path(), pathOf(dir) / "folders" / raw);
        QCOMPARE(folders.currentItem()->text().trimmed(), shown);
        FileList files(FileList::Selection::Single);
        QVERIFY(files.setPath(pathOf(dir)));
        QCOMPARE(files.entryCount(), 1);
        QCOMPARE(files.entry(0), raw.native());
        QCOMPARE(files.model()->index(0, 0).data().toString(), shown);
        fs::remove_all(pathOf(dir) / "folders"); // names that are not UTF-8 defeat QTemporaryDir
        fs::remove(pathOf(dir) / raw);
    }

    void folderListOpensAnEntry() {
        QTemporaryDir dir;
        fs::create_directories(pathOf(dir) / "sub");
        FolderList list;
        QVERIFY(list.setPath(pathOf(dir)));
        QListWidgetItem* sub = list.item(list.count() - 1);
        emit list.itemActivated(sub);
        QCOMPARE(list.path(), pathOf(dir) / "sub");
        QVERIFY(!list.setPath(pathOf(dir) / "gone"));
        QCOMPARE(list.path(), pathOf(dir) / "sub");
    }
};

QTEST_MAIN(TestLists)
#include "test_lists.moc"
