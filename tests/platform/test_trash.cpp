// The desktop Trash: info files as file managers read them, the home trash with clashing, long and
// non-UTF-8 names, the info file made before anything moves, the trash of another file system
// (a tmpfs, an ext4 image) and the trash folders it must refuse, and the desktop's own tools
// reading back what was trashed.
#include "platform/file_ops.h"
#include "platform/trash.h"
#include "platform/trash_info.h"

#include "child_process.h"
#include "desktop_trash.h"
#include "disk_helpers.h"
#include "own_trash.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace corvalin;
namespace fs = std::filesystem;
using test::makeEntries;

namespace {

const QRegularExpression kDeletionDate(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"));

std::string uidText() {
    return std::to_string(::getuid());
}

QByteArray withUid(QByteArray text) {
    return text.replace("{uid}", QByteArray::fromStdString(uidText()));
}

std::string pathLineOf(const fs::path& infoFile) {
    const std::string text = readWholeFile(infoFile).value();
    const auto start = text.find("\nPath=") + 6;
    return text.substr(start, text.find('\n', start) - start);
}

// Mounts a file system of the child's own on `top`: "tmpfs", "tmpfs-ro" (read-only once `prepare`
// has filled it) or "ext4" (an image file mounted through a loop device).
bool mountOwnVolume(const QString& kind, const fs::path& top, const fs::path& image,
                    const std::function<bool()>& prepare) {
    if (kind == "ext4") {
        const std::string mount = "mount -o loop '" + image.native() + "' '" + top.native() + "' 2>/dev/null";
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            std::system(mount.c_str()) != 0)
            return false;
    } else if (!test::mountPrivateTmpfs(top)) {
        return false;
    }
    return prepare() && (kind != "tmpfs-ro" ||
                         ::mount(nullptr, top.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
}

bool makeExt4Image(const fs::path& image) {
    const QString mkfs = QStandardPaths::findExecutable("mkfs.ext4", {"/usr/sbin", "/sbin"});
    if (mkfs.isEmpty() || !fs::exists("/dev/loop-control"))
        return false;
    test::writeBytes(image, "");
    fs::resize_file(image, 16 << 20);
    return QProcess::execute(mkfs, {"-q", "-F", QString::fromStdString(image.native())}) == 0;
}

} // namespace

class TestTrash : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::OwnHome> m_home;
    fs::path root() const { return m_dir->path().toStdString(); }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<test::OwnHome>(root() / "home");
    }
    void cleanup() {
        m_home.reset();
        std::error_code ignored;
        fs::remove_all(root(), ignored); // names that are not UTF-8 defeat QTemporaryDir
    }

    // Percent-encoded bytes, whatever the name's encoding, and back.
    void pathEncoding_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("plain") << QByteArray("/home/u/a_b-c.~1.txt") << QByteArray("/home/u/a_b-c.~1.txt");
        QTest::newRow("blank, percent, hash") << QByteArray("/a b%c#d?e") << QByteArray("/a%20b%25c%23d%3Fe");
        QTest::newRow("UTF-8") << QByteArray("dl/日本.jpg") << QByteArray("dl/%E6%97%A5%E6%9C%AC.jpg");
        QTest::newRow("Shift-JIS bytes") << QByteArray("dl/\x93\xfa.txt") << QByteArray("dl/%93%FA.txt");
        QTest::newRow("control characters") << QByteArray("a\nb\tc") << QByteArray("a%0Ab%09c");
    }
    void pathEncoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, encoded);
        QCOMPARE(QByteArray::fromStdString(encodeTrashPath(bytes.toStdString())), encoded);
        QCOMPARE(decodeTrashPath(encoded.toStdString()), std::optional(bytes.toStdString()));
    }

    // What another program wrote is read as the format allows; what cannot be a path is refused.
    void infoFileText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("path"); // empty: refused
        QTest::newRow("as written") << QByteArray(trashInfoText("/a b", 0).c_str()) << QByteArray("/a b");
        QTest::newRow("CR LF, blanks, other groups first")
            << QByteArray("[Other]\r\nPath=/no\r\n[Trash Info]\r\n DeletionDate = x\r\nPath = rel/%41\r\n")
            << QByteArray("rel/A");
        QTest::newRow("broken escape") << QByteArray("[Trash Info]\nPath=/a%4\n") << QByteArray();
        QTest::newRow("no path") << QByteArray("[Trash Info]\nDeletionDate=2024-01-01T00:00:00\n")
                                 << QByteArray();
        QTest::newRow("no group") << QByteArray("Path=/a\n") << QByteArray();
    }
    void infoFileText() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, path);
        const std::optional<TrashInfoFields> fields = parseTrashInfo(text.toStdString());
        QCOMPARE(fields.has_value(), !path.isEmpty());
        if (fields)
            QCOMPARE(QByteArray::fromStdString(fields->path), path);
    }

    // Into the home trash by one rename: the place is exact, the name unique and short enough, and
    // the info file records the absolute original path.
    void homeTrash_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArrayList>("inTrash"); // already there, below the trash
        QTest::addColumn<QByteArray>("trashName");
        QTest::newRow("file") << QByteArrayList{"f:notes.txt"} << QByteArray("notes.txt") << QByteArrayList{}
                              << QByteArray("notes.txt");
        QTest::newRow("folder with hidden content")
            << QByteArrayList{"d:dl", "f:dl/.hidden", "d:dl/ro", "f:dl/ro/x"} << QByteArray("dl")
            << QByteArrayList{} << QByteArray("dl");
        QTest::newRow("name taken in info")
            << QByteArrayList{"f:notes.txt"} << QByteArray("notes.txt")
            << QByteArrayList{"f:info/notes.txt.trashinfo"} << QByteArray("notes.txt.2");
        QTest::newRow("name taken in files only")
            << QByteArrayList{"f:notes.txt"} << QByteArray("notes.txt")
            << QByteArrayList{"f:files/notes.txt", "f:info/notes.txt.2.trashinfo"}
            << QByteArray("notes.txt.3");
        QTest::newRow("not UTF-8") << QByteArrayList{"f:\x93\xfa.txt"} << QByteArray("\x93\xfa.txt")
                                   << QByteArrayList{} << QByteArray("\x93\xfa.txt");
        const QByteArray longest(255, 'n');
        QTest::newRow("longest name")
            << QByteArrayList{"f:" + longest} << longest << QByteArrayList{} << QByteArray(245, 'n');
        const QByteArray kana = QByteArray("あ").repeated(85); // 255 bytes
        QTest::newRow("UTF-8 cut between characters")
            << QByteArrayList{"f:" + kana} << kana << QByteArrayList{} << QByteArray("あ").repeated(81);
    }
    void homeTrash() {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, item);
        QFETCH(QByteArrayList, inTrash);
        QFETCH(QByteArray, trashName);
        const fs::path trash = m_home->trash();
        makeEntries(root(), entries);
        fs::create_directories(trash / "files");
        fs::create_directories(trash / "info");
        makeEntries(trash, inTrash);
        const fs::path original = root() / item.toStdString();
        const Result<TrashPlace> place = reserveTrashPlace(original);
        QVERIFY2(place.ok(), place.ok() ? "" : place.error().reason().c_str());
        QCOMPARE(place.value().original, original);
        QCOMPARE(place.value().trashedFile, trash / "files" / trashName.toStdString());
        QCOMPARE(place.value().infoFile, trash / "info" / (trashName + ".trashinfo").toStdString());
        QVERIFY(moveIntoTrash(place.value()).ok());
        QCOMPARE(lookupEntry(original), EntryKind::None);
        QVERIFY(lookupEntry(place.value().trashedFile) != EntryKind::None);
        const Result<TrashInfo> info = readTrashInfo(place.value().infoFile);
        QVERIFY(info.ok());
        QCOMPARE(info.value().place.original, original);
        QCOMPARE(info.value().place.trashedFile, place.value().trashedFile);
        QVERIFY(kDeletionDate.match(QString::fromStdString(info.value().deletionDate)).hasMatch());
        QCOMPARE(pathLineOf(place.value().infoFile), encodeTrashPath(original.native()));
    }

    // The info file exists before the item moves; a reservation can be given back, a failed move
    // takes its info file along, and the way back never replaces anything.
    void reserveMoveRestore() {
        makeEntries(root(), {"f:a.txt"});
        const fs::path item = root() / "a.txt";
        Result<TrashPlace> place = reserveTrashPlace(item);
        QVERIFY(place.ok());
        QCOMPARE(lookupEntry(place.value().infoFile), EntryKind::File);
        QCOMPARE(lookupEntry(item), EntryKind::File);
        QCOMPARE(lookupEntry(place.value().trashedFile), EntryKind::None);
        QVERIFY(releaseTrashPlace(place.value()).ok());
        QCOMPARE(lookupEntry(place.value().infoFile), EntryKind::None);

        place = reserveTrashPlace(item);
        QVERIFY(moveIntoTrash(place.value()).ok());
        makeEntries(root(), {"f:a.txt"});
        QCOMPARE(restoreFromTrash(place.value(), item).code(), EEXIST);
        QCOMPARE(lookupEntry(place.value().trashedFile), EntryKind::File);
        QVERIFY(removeFile(item).ok());
        QVERIFY(restoreFromTrash(place.value(), item).ok());
        QCOMPARE(lookupEntry(item), EntryKind::File);
        QCOMPARE(lookupEntry(place.value().infoFile), EntryKind::None);

        place = reserveTrashPlace(item);
        QVERIFY(removeFile(item).ok()); // gone before its move
        QCOMPARE(moveIntoTrash(place.value()).code(), ENOENT);
        QCOMPARE(lookupEntry(place.value().infoFile), EntryKind::None);
    }

    // A run keeps its trash open between items; what happens to the trash meanwhile is seen at the
    // next item, before its reservation or at its rename: a trash removed is made again, a trash
    // renamed away is not followed, a folder replaced by a link is refused.
    void keptTrashChangedBetweenItems_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("atRename");      // else before the reservation
        QTest::addColumn<QByteArray>("refused"); // the folder named, below the trash; empty: trashed
        for (const bool atRename : {false, true}) {
            const char* when = atRename ? ", at the rename" : "";
            QTest::addRow("unchanged%s", when) << "" << atRename << QByteArray();
            QTest::addRow("trash removed%s", when) << "trash" << atRename << QByteArray();
            QTest::addRow("files removed%s", when) << "files" << atRename << QByteArray();
            QTest::addRow("info removed%s", when) << "info" << atRename << QByteArray();
            QTest::addRow("trash renamed away, a new one made%s", when)
                << "renamed" << atRename << QByteArray();
            QTest::addRow("trash a link%s", when) << "trashLink" << atRename << QByteArray(".");
            QTest::addRow("files a link%s", when) << "filesLink" << atRename << QByteArray("files");
        }
    }
    void keptTrashChangedBetweenItems() {
        QFETCH(QString, change);
        QFETCH(bool, atRename);
        QFETCH(QByteArray, refused);
        const fs::path trash = m_home->trash();
        makeEntries(root(), {"d:dl", "f:dl/1.txt", "f:dl/2.txt", "d:away", "d:outside"});
        OpenTrashes trashes;
        const Result<TrashPlace> first = trashes.reserve(root() / "dl/1.txt");
        QVERIFY(first.ok() && trashes.moveInto(first.value()).ok());
        const auto changeTrash = [&] {
            if (change == "trash" || change == "files" || change == "info")
                fs::remove_all(change == "trash" ? trash : trash / change.toStdString());
            if (change == "renamed" || change == "trashLink")
                fs::rename(trash, root() / "away/Trash");
            if (change == "renamed")
                fs::create_directories(trash);
            if (change == "trashLink")
                fs::create_directory_symlink(root() / "away/Trash", trash);
            if (change == "filesLink") {
                fs::rename(trash / "files", root() / "away/files");
                fs::create_directory_symlink(root() / "outside", trash / "files");
            }
        };
        if (!atRename)
            changeTrash();
        Result<TrashPlace> second = trashes.reserve(root() / "dl/2.txt");
        Status moved = second.status();
        if (second) {
            if (atRename)
                changeTrash();
            moved = trashes.moveInto(second.value());
        }
        QCOMPARE(test::allNames(root() / "outside"), QByteArrayList{});
        if (!refused.isEmpty()) {
            QVERIFY(!moved.ok());
            QCOMPARE(moved.error().path, refused == "." ? trash : trash / refused.toStdString());
            QCOMPARE(lookupEntry(root() / "dl/2.txt"), EntryKind::File);
            const fs::path info = change == "trashLink" ? root() / "away/Trash/info" : trash / "info";
            QCOMPARE(test::allNames(info), QByteArrayList{"1.txt.trashinfo"});
            return;
        }
        QVERIFY2(moved.ok(), moved.ok() ? "" : moved.error().reason().c_str());
        QCOMPARE(second.value().trashedFile, trash / "files/2.txt");
        QCOMPARE(lookupEntry(trash / "files/2.txt"), EntryKind::File);
        QCOMPARE(readTrashInfo(trash / "info/2.txt.trashinfo").value().place.original, root() / "dl/2.txt");
        if (change == "renamed")
            QCOMPARE(test::allNames(root() / "away/Trash/files"), QByteArrayList{"1.txt"});
    }

    // Another file system has its trash at its top folder, with Path= relative to it; trash
    // folders that are links, or someone else's, or on a read-only volume are refused before
    // anything moves. Each case runs in a child with a volume of its own.
    void volumeTrash_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("trash"); // relative to the top; empty: refused
        QTest::addColumn<QByteArray>("named"); // the folder a refusal names
        QTest::newRow("tmpfs") << "tmpfs"
                               << "" << withUid(".Trash-{uid}") << QByteArray();
        QTest::newRow("ext4 from a loop file") << "ext4"
                                               << "" << withUid(".Trash-{uid}") << QByteArray();
        QTest::newRow("shared .Trash with the sticky bit")
            << "tmpfs"
            << "sticky" << withUid(".Trash/{uid}") << QByteArray();
        QTest::newRow("shared .Trash without it") << "tmpfs"
                                                  << "plain" << withUid(".Trash-{uid}") << QByteArray();
        QTest::newRow("shared .Trash a link") << "tmpfs"
                                              << "sharedLink" << withUid(".Trash-{uid}") << QByteArray();
        QTest::newRow("shared trash, own folder someone else's")
            << "tmpfs"
            << "sharedForeign" << withUid(".Trash-{uid}") << QByteArray();
        QTest::newRow("own trash a link") << "tmpfs"
                                          << "ownLink" << QByteArray() << withUid(".Trash-{uid}");
        QTest::newRow("its files folder a link")
            << "tmpfs"
            << "filesLink" << QByteArray() << withUid(".Trash-{uid}/files");
        QTest::newRow("own trash someone else's") << "tmpfs"
                                                  << "foreign" << QByteArray() << withUid(".Trash-{uid}");
        QTest::newRow("read-only volume") << "tmpfs-ro"
                                          << "" << QByteArray() << withUid(".Trash-{uid}");
    }
    void volumeTrash() {
        QFETCH(QString, kind);
        QFETCH(QString, setup);
        QFETCH(QByteArray, trash);
        QFETCH(QByteArray, named);
        const fs::path top = root() / "volume";
        const fs::path image = root() / "volume.img";
        fs::create_directories(top);
        makeEntries(root(), {"d:outside"});
        if (kind == "ext4" && !makeExt4Image(image))
            QSKIP("cannot make an ext4 image here (mkfs.ext4 or loop devices missing)");
        const std::string own = ".Trash-" + uidText();
        // In the child: plain calls, no test macros.
        const auto prepare = [&] {
            makeEntries(top, {"d:dl", "f:dl/notes.txt", "d:shared"});
            ::chmod((top / "shared").c_str(), 01777);
            const fs::path trashPath = top / own;
            if (setup == "sticky" || setup == "plain")
                return ::mkdir((top / ".Trash").c_str(), setup == "sticky" ? 01777 : 0777) == 0;
            if (setup == "sharedForeign") // as the desktop's client does, the volume's own trash instead
                return ::mkdir((top / ".Trash").c_str(), 01777) == 0 &&
                       ::mkdir((top / ".Trash" / uidText()).c_str(), 0700) == 0 &&
                       ::chown((top / ".Trash" / uidText()).c_str(), ::getuid() + 1, ::getgid()) == 0;
            if (setup == "sharedLink")
                return ::symlink("shared", (top / ".Trash").c_str()) == 0;
            if (setup == "ownLink")
                return ::symlink((root() / "outside").c_str(), trashPath.c_str()) == 0;
            if (setup == "filesLink")
                return ::mkdir(trashPath.c_str(), 0700) == 0 &&
                       ::mkdir((trashPath / "info").c_str(), 0700) == 0 &&
                       ::symlink((root() / "outside").c_str(), (trashPath / "files").c_str()) == 0;
            if (setup == "foreign") // only root may give a folder away
                return ::mkdir(trashPath.c_str(), 0700) == 0 &&
                       ::chown(trashPath.c_str(), ::getuid() + 1, ::getgid()) == 0;
            return true;
        };
        const fs::path report = root() / "report";
        const int result = test::runInChild([&] {
            if (!mountOwnVolume(kind, top, image, prepare))
                return test::skipExit;
            const Status usable = checkTrashUsable(top / "dl");
            const Result<TrashPlace> place = reserveTrashPlace(top / "dl/notes.txt");
            const bool moved = place.ok() && moveIntoTrash(place.value()).ok();
            std::string text = usable ? "usable\n" : "refused " + usable.error().path.native() + "\n";
            if (moved) {
                const fs::path folder = place.value().trashedFile.parent_path().parent_path();
                struct stat st {};
                ::lstat(folder.c_str(), &st);
                text += fs::relative(folder, top).native() + "\n" + pathLineOf(place.value().infoFile) +
                        "\n" + std::to_string(st.st_mode & 07777) + "\n";
            }
            text += lookupEntry(top / "dl/notes.txt") == EntryKind::File ? "kept" : "gone";
            test::writeBytes(report, text);
            // The desktop's trash client, in this child's mounts, for the volume it can see.
            if (kind == "ext4" && !test::gioListing().isEmpty())
                test::writeBytes(root() / "listed", test::gioListing().toStdString());
            return 0;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
        const QByteArrayList lines = QByteArray::fromStdString(readWholeFile(report).value()).split('\n');
        if (trash.isEmpty()) {
            QCOMPARE(lines, QByteArrayList(
                                {"refused " + QByteArray::fromStdString((top / named.toStdString()).native()),
                                 "kept"}));
            QCOMPARE(test::allNames(root() / "outside"), QByteArrayList{});
            return;
        }
        QCOMPARE(lines, QByteArrayList({"usable", trash, "dl/notes.txt", QByteArray::number(0700), "gone"}));
        if (fs::exists(root() / "listed")) {
            const std::string listed = readWholeFile(root() / "listed").value();
            QVERIFY2(listed.find("trash::orig-path=" + (top / "dl/notes.txt").native()) != std::string::npos,
                     listed.c_str());
        }
    }

    // The desktop's own trash client lists what was trashed under its original path and puts it
    // back there, names that are not UTF-8 included.
    void desktopClientReadsTheTrash() {
        makeEntries(root(), {"d:dl", "f:dl/\x93\xfa.txt", "f:dl/日本.txt", "d:dl/sub", "f:dl/sub/x"});
        for (const char* name : {"dl/\x93\xfa.txt", "dl/日本.txt", "dl/sub"}) {
            const Result<TrashPlace> place = reserveTrashPlace(root() / name);
            QVERIFY(place.ok() && moveIntoTrash(place.value()).ok());
        }
        const QByteArray listed = test::gioListing();
        if (listed.isEmpty())
            QSKIP("gio or dbus-run-session is missing (packages libglib2.0-bin, gvfs, dbus)");
        for (const char* name : {"dl/\x93\xfa.txt", "dl/日本.txt", "dl/sub"}) {
            const QByteArray shown = "trash::orig-path=" + test::asGioPrints((root() / name).native());
            QVERIFY2(listed.contains(shown), listed.constData());
        }
        QProcess::execute(
            QStandardPaths::findExecutable("dbus-run-session"),
            {"--", QStandardPaths::findExecutable("gio"), "trash", "--restore", "trash:///sub"});
        QCOMPARE(test::allNames(root() / "dl"), QByteArrayList{"sub"});
        QCOMPARE(test::allNames(root() / "dl/sub"), QByteArrayList{"x"});
    }
};

QTEST_APPLESS_MAIN(TestTrash)
#include "test_trash.moc"
