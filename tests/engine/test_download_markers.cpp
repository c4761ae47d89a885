// Downloads still arriving in a move run: the marker files and the files they belong to stay where
// they are, uncounted by the numbering, and so do the child folders holding them; everything else
// moves as usual.
#include "engine/download_markers.h"
#include "move_fixture.h"
#include "own_trash.h"

#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(Names)

class TestDownloadMarkers : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        fs::create_directories(dst());
        fs::create_directories(root() / "prog");
    }

    void leftWhereTheyAre_data() {
        QTest::addColumn<Names>("arriving"); // below the source parent; "name=" for an empty file
        QTest::addColumn<Names>("left");     // files left, in the order the run meets them
        QTest::addColumn<Names>("kept");     // child folders the deletion keeps
        QTest::newRow("part beside an empty placeholder picture")
            << Names{"a/photo.jpg=", "a/photo.jpg.part"} << Names{"a/photo.jpg", "a/photo.jpg.part"}
            << Names{"a"};
        QTest::newRow("marker without the file it belongs to")
            << Names{"a/Unconfirmed 1234.crdownload"} << Names{"a/Unconfirmed 1234.crdownload"} << Names{"a"};
        QTest::newRow("control file beside the growing picture")
            << Names{"a/big.jpg", "a/big.jpg.aria2"} << Names{"a/big.jpg", "a/big.jpg.aria2"} << Names{"a"};
        QTest::newRow("each marker, any letter case")
            << Names{"a/1.jpg.download", "a/2.jpg.!qB", "a/3.jpg.PARTIAL", "a/4.JPG.Part", "a/5.bmp.!QB"}
            << Names{"a/1.jpg.download", "a/2.jpg.!qB", "a/3.jpg.PARTIAL", "a/4.JPG.Part", "a/5.bmp.!QB"}
            << Names{"a"};
        QTest::newRow("the file it belongs to is no picture")
            << Names{"a/notes.txt", "a/notes.txt.part"} << Names{"a/notes.txt", "a/notes.txt.part"}
            << Names{"a"};
        QTest::newRow("deeper down") << Names{"a/deep/er/x.jpg.part"} << Names{"a/deep/er/x.jpg.part"}
                                     << Names{"a"};
        QTest::newRow("inside a hidden folder")
            << Names{".cache/y.jpg.crdownload"} << Names{".cache/y.jpg.crdownload"} << Names{".cache"};
        QTest::newRow("hidden marker, never listed") << Names{"a/.z.jpg.part"} << Names{} << Names{"a"};
        QTest::newRow("marker-like names that are none")
            << Names{"a/part.jpg", "a/photo.jpg.parts"} << Names{} << Names{};
    }
    void leftWhereTheyAre() {
        QFETCH(Names, arriving);
        QFETCH(Names, left);
        QFETCH(Names, kept);
        // Beside the downloads, finished pictures and other files in the same and other folders.
        std::vector<std::string> finished;
        for (const std::string name : {"a/done.jpg", "b/other.jpg", ".cache/old.bmp"}) {
            writeContent(src() / name, pictureContent(name));
            finished.push_back(pictureContent(name));
        }
        writeContent(src() / "a" / "readme.txt", "not a picture");
        for (const std::string& entry : arriving) {
            const std::string name = entry.substr(0, entry.find('='));
            writeContent(src() / name, entry.ends_with('=') ? "" : "arriving " + name);
        }
        Module1 vars;
        ScriptedObserver observer;
        observer.dest = dst();
        std::vector<fs::path> folderList;
        const MoveRunResult result =
            MoveRun(vars, {root() / "prog", root() / "prog"}, observer, Removal(true))
                .run(src(), true, folderList);
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        Names leftBelow, keptBelow;
        for (const fs::path& file : result.downloadsLeft)
            leftBelow.push_back(file.lexically_relative(src()).native());
        for (const fs::path& folder : result.foldersKeptForDownloads)
            keptBelow.push_back(folder.lexically_relative(src()).native());
        QCOMPARE(leftBelow, left);
        QCOMPARE(keptBelow, kept);
        for (const std::string& entry : arriving) {
            const std::string name = entry.substr(0, entry.find('='));
            QVERIFY2(fs::exists(src() / name) == !kept.empty(), name.c_str());
        }
        // The finished pictures are numbered without gaps; the left ones use no number.
        QCOMPARE(lostOrDoubled(finished, {root()}), std::string());
        const auto moved = namesIn(dst());
        QCOMPARE(int(vars.SerialNo), int(moved.size()));
        QVERIFY(!fs::exists(src() / "a" / "readme.txt"));
        QVERIFY(!fs::exists(src() / "b"));
    }

    // A download that starts in an emptied child folder before the folders go is seen by the
    // removal, which reads the folder then: the folder stays with it, to the trash or for good.
    void arrivingDuringTheRun_data() {
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<QByteArray>("arrival");
        for (const bool permanent : {false, true}) {
            const char* how = permanent ? "deleting for good" : "to the trash";
            QTest::addRow("beside, %s", how) << permanent << QByteArray("a/late.jpg.part");
            QTest::addRow("deeper down, %s", how) << permanent << QByteArray("a/sub/.late.crdownload");
        }
    }
    void arrivingDuringTheRun() {
        QFETCH(bool, permanent);
        QFETCH(QByteArray, arrival);
        OwnHome home(root() / "home");
        for (const std::string name : {"a/1.jpg", "a/sub/2.jpg", "b/3.jpg"})
            writeContent(src() / name, pictureContent(name));
        Module1 vars;
        ScriptedObserver observer;
        observer.dest = dst();
        observer.onReturned = [&] {
            writeContent(src() / arrival.toStdString(), "arriving");
        };
        std::vector<fs::path> folderList;
        const MoveRunResult result =
            MoveRun(vars, {root() / "prog", root() / "prog"}, observer, Removal(permanent))
                .run(src(), true, folderList);
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(result.foldersKeptForDownloads, std::vector<fs::path>{src() / "a"});
        QCOMPARE(contentOf(src() / arrival.toStdString()), std::string("arriving"));
        QVERIFY(!fs::exists(src() / "b"));
        QCOMPARE(namesIn(dst()).size(), std::size_t(3));
    }

    // The end message: how many, the first names below the source parent, the folders kept.
    void endMessage() {
        QVERIFY(describeDownloadsLeft(src(), {}, {}).empty());
        std::vector<fs::path> left;
        for (int i = 1; i <= 7; ++i)
            left.push_back(src() / "a" / ("p" + std::to_string(i) + ".jpg.part"));
        left.push_back(src() / "b" / "line\nbreak.part");
        const std::string text = describeDownloadsLeft(src(), left, {src() / "a", src() / "b"});
        QVERIFY2(text.starts_with("ダウンロード中のファイルが8個"), text.c_str());
        QVERIFY(text.find("\n  a/p5.jpg.part\n  ほか3個") != std::string::npos);
        QVERIFY(text.find("p6.jpg.part") == std::string::npos);
        QVERIFY(text.find("削除しなかったフォルダ：2個\n  a\n  b\n") != std::string::npos);
    }
};

QTEST_APPLESS_MAIN(TestDownloadMarkers)
#include "test_download_markers.moc"
