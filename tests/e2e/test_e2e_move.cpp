// The move-and-number run of the real program in a real X session, started with a click on its
// button: a complete run, a cancelled one, one ended by SIGTERM, and one undone from the history
// window. Whatever happens, every picture exists exactly once, with its bytes unchanged.
#include "e2e_test.h"
#include "held_move.h"
#include "picture_files.h"
#include "places.h"
#include "temp_tree.h"

#include <QCryptographicHash>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>

using namespace corvalin::e2e;
using corvalin::testing::readFile;
using corvalin::testing::writeFile;
namespace fs = std::filesystem;

namespace {

constexpr int kFirstSerial = 40;
// Large enough that a run is still going when the person reacts to its first moved picture.
constexpr int kBigTreeFolders = 200;
constexpr int kPicturesPerFolder = 5;

int filesIn(const fs::path& folder) {
    int count = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        count += it->is_regular_file() ? 1 : 0;
    return count;
}

// Every folder and file below `root` by its path from there (folders end in "/"), with the digest
// of each file: the whole tree, to compare before and after.
std::map<std::string, QByteArray> treeOf(const fs::path& root) {
    std::map<std::string, QByteArray> tree;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const std::string name = fs::relative(it->path(), root).native();
        if (it->is_directory())
            tree[name + "/"] = {};
        else // read as raw bytes: Qt cannot open a name that is not UTF-8
            tree[name] = QCryptographicHash::hash(QByteArray::fromStdString(readFile(it->path())),
                                                  QCryptographicHash::Sha256);
    }
    return tree;
}

} // namespace

class TestE2eMove : public E2eTest {
    Q_OBJECT

    fs::path source() const { return root() / "source"; }
    fs::path destination() const { return root() / "destination"; }

    void startProgram(int deleteOption) {
        fs::create_directories(destination());
        writeFile(program().settingsFile(), settingsLine(source(), destination(), "", 0, deleteOption));
        writeFile(program().counterFile(), std::to_string(kFirstSerial) + "\r\n");
        const QString error = program().start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // Many child folders of pictures, a note in each; the digest of every picture.
    std::map<QByteArray, int> makeBigTree() {
        std::map<QByteArray, int> pictures;
        int seed = 1;
        for (int f = 0; f < kBigTreeFolders; ++f) {
            const fs::path folder = source() / QString("f%1").arg(f, 3, 10, QChar('0')).toStdString();
            fs::create_directories(folder);
            writeFile(folder / "note.txt", "note " + std::to_string(f));
            for (int p = 0; p < kPicturesPerFolder; ++p) {
                const fs::path file = folder / (std::to_string(p) + (p % 2 ? ".bmp" : ".jpg"));
                if (!writePicture(file, seed++))
                    return {};
                ++pictures[digestOf(file)];
            }
        }
        return pictures;
    }

    // Every picture is in the source tree or the destination exactly once, and the destination
    // holds nothing else: the numbers given in order from the first serial number on. Answers the
    // number of pictures moved.
    int checkEveryPictureOnce(const std::map<QByteArray, int>& pictures) {
        auto found = contentsBelow(source());
        for (const auto& [digest, count] : contentsBelow(destination()))
            found[digest] += count;
        for (const auto& [digest, count] : pictures) {
            if (found[digest] != 1) {
                qWarning("a picture exists %d times", found[digest]);
                return -1;
            }
        }
        const QStringList moved = namesIn(destination());
        for (int i = 0; i < moved.size(); ++i) {
            if (!moved[i].startsWith(QString("%1 ").arg(kFirstSerial + i, 6, 10, QChar('0'))) ||
                !pictures.contains(digestOf(destination() / moved[i].toStdString()))) {
                qWarning("unexpected in the destination: %s", qPrintable(moved[i]));
                return -1;
            }
        }
        return int(moved.size());
    }

    void checkNoFolderDeleted() {
        const QStringList left = namesIn(source());
        QCOMPARE(left.size(), kBigTreeFolders);
        QVERIFY(
            std::all_of(left.begin(), left.end(), [](const QString& name) { return name.endsWith('/'); }));
    }

private slots:
    void moveRun_data() {
        QTest::addColumn<int>("deleteOption");
        QTest::addColumn<QStringList>("sourceAfter");
        QTest::addColumn<QStringList>("trashed"); // below the source, by their trash names
        QTest::newRow("child folders deleted") << 1 << QStringList{".keep", "loose.jpg"}
                                               << QStringList{"a", "a/img.png", "a/notes.txt", "b", "c"};
        QTest::newRow("child folders kept") << 0 << QStringList{".keep", "a/", "b/", "c/", "loose.jpg"}
                                            << QStringList{"a/img.png", "a/notes.txt"};
    }
    // A small tree of real JPEG and BMP files with other files among them. The version window is
    // opened and closed first: the move button stays usable after it.
    void moveRun() {
        QFETCH(int, deleteOption);
        QFETCH(QStringList, sourceAfter);
        QFETCH(QStringList, trashed);
        // Named as in the source, then as expected in the destination, in the order of the run:
        // folder by folder as the survey found them (a, b, c, then a's own subfolder), each
        // folder's files in name order; an old number is replaced.
        const QList<std::pair<QString, QString>> pictures = {{"a/000007 dog.JPG", "000040 dog.JPG"},
                                                             {"a/cat.jpg", "000041 cat.jpg"},
                                                             {"a/y.bmp", "000042 y.bmp"},
                                                             {"b/p.bmp", "000043 p.bmp"},
                                                             {"b/q.jpg", "000044 q.jpg"},
                                                             {"a/deep/z.jpeg", "000045 z.jpeg"}};
        fs::create_directories(source() / "a" / "deep");
        fs::create_directories(source() / "b");
        fs::create_directories(source() / "c");
        std::map<QString, QByteArray> expected;
        int seed = 1;
        for (const auto& [from, to] : pictures) {
            QVERIFY(writePicture(source() / from.toStdString(), seed++));
            expected[to] = digestOf(source() / from.toStdString());
        }
        // Not pictures, deleted by the run; a hidden file, which no list shows; the parent's own
        // files, which the run never touches.
        QVERIFY(writePicture(source() / "a" / "img.png", seed++));
        writeFile(source() / "a" / "notes.txt", "notes");
        QVERIFY(writePicture(source() / "a" / ".hidden.jpg", seed++));
        QVERIFY(writePicture(source() / "loose.jpg", seed++));
        const QByteArray loose = digestOf(source() / "loose.jpg");
        writeFile(source() / ".keep", "keep");
        startProgram(deleteOption);

        QVERIFY(program().chooseMenuEntry(1, 1)); // バージョン情報
        const auto about = m_x.waitForWindow("^Corvalinのﾊﾞｰｼﾞｮﾝ情報$", kWindowTimeoutMs);
        QVERIFY2(about, "the version window did not open");
        QVERIFY(m_x.waitUntilActive(*about, kWindowTimeoutMs));
        QVERIFY(m_x.key({"Return"}));
        QVERIFY(m_x.waitForNoWindow(*about, kWindowTimeoutMs));
        QVERIFY(m_x.waitUntilActive(program().mainWindow(), kWindowTimeoutMs));

        QVERIFY(program().clickControl(places::ButtonSlot)); // ファイル移動
        QVERIFY2(waitUntil(
                     [&] {
                         return filesIn(destination()) == int(expected.size()) &&
                                namesIn(source()) == sourceAfter;
                     },
                     kRunTimeoutMs),
                 qPrintable(namesIn(destination()).join(" | ") + " / " + namesIn(source()).join(" | ")));
        QVERIFY(m_scenario->waitUntilIdle());
        for (const auto& [name, digest] : expected)
            QVERIFY2(digestOf(destination() / name.toStdString()) == digest, qPrintable(name));
        QCOMPARE(digestOf(source() / "loose.jpg"), loose);
        if (!deleteOption)
            QCOMPARE(namesIn(source() / "a"), QStringList({".hidden.jpg", "deep/"}));
        // Written before each file: the last one was handed 45.
        QCOMPARE(readFile(program().counterFile()), std::string("45\r\n"));
        // What went, went to the program's own trash, each with where it came from.
        for (const QString& item : trashed) {
            const std::string name = fs::path(item.toStdString()).filename().native();
            const std::string info = readFile(program().trash() / "info" / (name + ".trashinfo"));
            QVERIFY2(info.find("\nPath=" + (source() / item.toStdString()).native() + "\n") !=
                         std::string::npos,
                     qPrintable(item));
        }
        QCOMPARE(namesIn(program().trash() / "files").size(), trashed.size());

        closeFromMenu();
        QCOMPARE(readFile(program().settingsFile()),
                 settingsLine(source(), destination(), "", 0, deleteOption));
        QCOMPARE(readFile(program().counterFile()), std::string("46\r\n"));
    }

    // Cancel is clicked (the same place as the start button) once the first picture has arrived;
    // the run stops between two folders and deletes no folder, though the option is on.
    void cancelledRun() {
        const auto pictures = makeBigTree();
        QCOMPARE(int(pictures.size()), kBigTreeFolders * kPicturesPerFolder);
        corvalin::test::HeldMove held(destination());
        program().holdMovesWith(held);
        startProgram(1);
        if (!held.attached())
            QSKIP("this system cannot hold a program at a rename");
        QVERIFY(program().clickControl(places::ButtonSlot)); // ファイル移動
        // Held at its first picture: the click waits in the queue until the run goes on, and is
        // taken at the next folder, however fast the build.
        QVERIFY(held.waitUntilHeld());
        QVERIFY(program().clickControl(places::ButtonSlot)); // キャンセル
        QTest::qWait(300);                                   // for the click to reach the program's queue
        held.release();
        QVERIFY2(m_scenario->waitUntilIdle(), "the window did not come back after the cancel");

        const int moved = checkEveryPictureOnce(pictures);
        QCOMPARE(moved, kPicturesPerFolder); // the first folder, whole
        checkNoFolderDeleted();
        closeFromMenu();
        QCOMPARE(readFile(program().settingsFile()), settingsLine(source(), destination(), "", 0, 1));
        QCOMPARE(readFile(program().counterFile()), std::to_string(kFirstSerial + moved) + "\r\n");
    }

    // The system ends the program in the middle of a run: it stops after the picture in hand and
    // shuts down as after a close, saving the number the next picture would get.
    void sigtermDuringRun() {
        const auto pictures = makeBigTree();
        corvalin::test::HeldMove held(destination());
        program().holdMovesWith(held);
        startProgram(1);
        if (!held.attached())
            QSKIP("this system cannot hold a program at a rename");
        QVERIFY(program().clickControl(places::ButtonSlot)); // ファイル移動
        QVERIFY(held.waitUntilHeld());                       // at its first picture
        QCOMPARE(::kill(pid_t(program().processId()), SIGTERM), 0);
        held.release();
        QVERIFY2(program().waitForExit(kExitTimeoutMs), "SIGTERM did not end the program");
        QVERIFY2(program().exitedCleanly(), qPrintable(program().errorOutput()));

        const int moved = checkEveryPictureOnce(pictures);
        qInfo("%d of %d pictures moved before the signal", moved, kBigTreeFolders * kPicturesPerFolder);
        QVERIFY(moved > 0);
        QVERIFY2(moved < kBigTreeFolders * kPicturesPerFolder, "the run ended before the signal");
        checkNoFolderDeleted();
        QCOMPARE(readFile(program().settingsFile()), settingsLine(source(), destination(), "", 0, 1));
        QCOMPARE(readFile(program().counterFile()), std::to_string(kFirstSerial + moved) + "\r\n");
    }

    // A run that deletes the child folders, then 元に戻す in the history window, reached from the
    // first menu and answered with the keyboard: the source tree is back as it was, name for name
    // and byte for byte, the destination is empty again, and the counter is not lowered.
    void moveThenUndo() {
        const auto tidy = qScopeGuard([&] { fs::remove_all(source()); }); // Qt skips names not UTF-8
        int seed = 1;
        fs::create_directories(source() / "a" / "deep");
        fs::create_directories(source() / "b");
        for (const char* picture :
             {"a/cat.jpg", "a/000007 dog.JPG", "a/deep/z.jpeg", "b/p.bmp", "b/sjis.jpg"})
            QVERIFY(writePicture(source() / picture, seed++));
        fs::rename(source() / "b" / "sjis.jpg", source() / "b" / "\x82\xA0.jpg"); // a name Qt cannot write
        writeFile(source() / "a" / "notes.txt", "notes");
        fs::create_directories(source() / "c");
        writeFile(source() / ".keep", "keep");
        const auto before = treeOf(source());
        startProgram(1);
        QVERIFY(program().clickControl(places::ButtonSlot)); // ファイル移動
        QVERIFY(waitUntil([&] { return namesIn(source()) == QStringList{".keep"}; }, kRunTimeoutMs));
        QVERIFY(m_scenario->waitUntilIdle());
        QCOMPARE(filesIn(destination()), 5);

        QVERIFY(program().chooseMenuEntry(0, 2)); // 履歴と元に戻す...
        const auto history = m_x.waitForWindow("^履歴$", kWindowTimeoutMs);
        QVERIFY2(history, "the history window did not open");
        QVERIFY(m_x.waitUntilActive(*history, kWindowTimeoutMs));
        QVERIFY(m_x.key({"Tab", "space"})); // the newest run is chosen; 元に戻す follows the list
        for (const char* box : {"the question", "what came back"}) {
            const auto shown = m_x.waitForWindow("^Corvalin$", kRunTimeoutMs, {program().mainWindow()});
            QVERIFY2(shown, box);
            QVERIFY(m_x.waitUntilActive(*shown, kWindowTimeoutMs));
            QVERIFY(m_x.key({"Return"})); // はい, then OK
            QVERIFY(m_x.waitForNoWindow(*shown, kWindowTimeoutMs));
        }
        QVERIFY2(treeOf(source()) == before, qPrintable(namesIn(source()).join(" | ")));
        QVERIFY(namesIn(destination()).isEmpty());
        QVERIFY(namesIn(program().trash() / "files").isEmpty());
        QVERIFY(m_x.key({"Escape"}));
        QVERIFY(m_x.waitForNoWindow(*history, kWindowTimeoutMs));
        closeFromMenu();
        QCOMPARE(readFile(program().counterFile()), std::to_string(kFirstSerial + 5) + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestE2eMove)
#include "test_e2e_move.moc"
