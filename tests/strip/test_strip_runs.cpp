// The two strip runs against a real folder: what is renamed, what is left and why, the counter,
// failures, and that no file is ever lost or replaced.
#include "child_process.h"
#include "disk_helpers.h"
#include "platform/file_ops.h"
#include "strip/strip_runs.h"

#include <QtTest>

#include <functional>
#include <map>
#include <sys/stat.h>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {

class RecordingObserver : public StripObserver {
public:
    QStringList counters;
    int previews = 0;
    std::function<void(int)> onYield; // gets the number of the yield

    void yield() override {
        if (onYield)
            onYield(++m_yields);
    }
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
    void newName(const std::string&) override {}
    void previewRequested(const fs::path&) override { ++previews; }
    void progress(int remaining, int total) override {
        counters << QString("%1/%2").arg(remaining).arg(total);
    }

private:
    int m_yields = 0;
};

QString leftOf(const StripOutcome& outcome) {
    QStringList left;
    for (const LeftFile& file : outcome.left) {
        const char* why = file.reason == LeftReason::NameTaken    ? "taken"
                          : file.reason == LeftReason::NameDotted ? "dotted"
                          : file.reason == LeftReason::NameEmpty  ? "empty"
                                                                  : "gone";
        left << QString(why) + ":" + QString::fromStdString(file.name);
    }
    return left.join(",");
}

// Every file was made holding its own name, so a file replaced or lost shows here.
// A strip into the subfolder `into` of `folder`, both held as a run holds them.
StripOutcome stripInto(const fs::path& folder, const fs::path& into, const std::vector<std::string>& selected,
                       StripObserver& observer) {
    Result<HeldFolder> held = HeldFolder::open(folder);
    Result<HeldFolder> sub = HeldFolder::open(into);
    if (!held || !sub)
        return StripOutcome{0, {}, false, held ? sub.error() : held.error()};
    return stripIntoSubfolder(StripFolders{std::move(held.value()), std::move(sub.value())}, selected,
                              observer);
}

QByteArrayList contentsOf(const fs::path& folder) {
    QByteArrayList contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        const QByteArray name = QByteArray::fromStdString(fs::relative(entry.path(), folder).native());
        const QByteArray content = QByteArray::fromStdString(readWholeFile(entry.path()).value());
        contents << (content == name.split('/').last() ? name : name + "=" + content);
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

} // namespace

class TestStripRuns : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    fs::path m_folder;

    // "f:name" files hold their own name; "d:" and "l:" entries as makeEntries makes them.
    std::vector<std::string> makeFolder(const QByteArrayList& entries) {
        std::vector<std::string> files;
        for (const QByteArray& entry : entries) {
            if (!entry.startsWith("f:")) {
                test::makeEntries(m_folder, {entry});
                continue;
            }
            files.push_back(entry.mid(2).toStdString());
            test::writeBytes(m_folder / files.back(), files.back());
        }
        return files;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_folder = fs::path(m_dir->path().toStdString()) / "cats";
        fs::create_directory(m_folder);
    }
    void cleanup() {
        // QTemporaryDir cannot remove names that are not UTF-8.
        fs::permissions(m_folder, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_folder);
        m_dir.reset();
    }

    void inFolder_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArrayList>("after"); // "new name=old name" where renamed
        QTest::addColumn<QString>("counters");
        QTest::addColumn<QString>("left");
        QTest::newRow("numbered and plain")
            << QByteArrayList{"f:000123 cat.jpg", "f:00012 a.jpg", "f:000123_x.jpg", "f:abcdef ghi.jpg"}
            << QByteArrayList{"00012 a.jpg", "000123_x.jpg", "abcdef ghi.jpg", "cat.jpg=000123 cat.jpg"}
            << "4/4 3/4"
            << "";
        QTest::newRow("empty folder") << QByteArrayList{} << QByteArrayList{} << "0/0"
                                      << "";
        QTest::newRow("a numbered file that is no picture")
            << QByteArrayList{"f:000001 notes.txt"} << QByteArrayList{"notes.txt=000001 notes.txt"}
            << "1/1 0/1"
            << "";
        // Nothing would be left of the name: named at the end, never silently skipped.
        QTest::newRow("a name that is only a prefix")
            << QByteArrayList{"f:123456 ", "f:000002 b.jpg"}
            << QByteArrayList{"123456 ", "b.jpg=000002 b.jpg"} << "2/2 0/2"
            << "empty:123456 ";
        QTest::newRow("one prefix per run") << QByteArrayList{"f:000001 000002 a.jpg"}
                                            << QByteArrayList{"000002 a.jpg=000001 000002 a.jpg"} << "1/1 0/1"
                                            << "";
        QTest::newRow("equal base names")
            << QByteArrayList{"f:000001 cat.jpg", "f:000002 cat.jpg"}
            << QByteArrayList{"000002 cat.jpg", "cat.jpg=000001 cat.jpg"} << "2/2 1/2 0/2"
            << "taken:000002 cat.jpg";
        QTest::newRow("taken by a file, a folder, a link")
            << QByteArrayList{"f:000001 a.jpg", "f:000002 b.jpg", "f:000003 c.jpg",
                              "f:a.jpg",        "d:b.jpg",        "l:c.jpg>nowhere"}
            << QByteArrayList{"000001 a.jpg", "000002 b.jpg", "000003 c.jpg", "a.jpg"} << "4/4 3/4 2/4 1/4"
            << "taken:000001 a.jpg,taken:000002 b.jpg,taken:000003 c.jpg";
        QTest::newRow("names that would start with a dot")
            << QByteArrayList{"f:000001 .", "f:000002 ..", "f:000003 .hidden", "f:000004 ok"}
            << QByteArrayList{"000001 .", "000002 ..", "000003 .hidden", "ok=000004 ok"}
            << "4/4 3/4 2/4 1/4 0/4"
            << "dotted:000001 .,dotted:000002 ..,dotted:000003 .hidden";
        // Shift-JIS names keep their bytes; six Shift-JIS characters and a blank are no prefix.
        QTest::newRow("names that are not UTF-8")
            << QByteArrayList{"f:000123 \x82\xa0.jpg", "f:\x82\xa0\x82\xa2\x82\xa4 x.jpg",
                              "f:\x83\x4c\x83\x83\x83\x62\x83\x67\x82\xcc\x8e\x71 y.jpg"}
            << QByteArrayList{"\x82\xa0.jpg=000123 \x82\xa0.jpg", "\x82\xa0\x82\xa2\x82\xa4 x.jpg",
                              "\x83\x4c\x83\x83\x83\x62\x83\x67\x82\xcc\x8e\x71 y.jpg"}
            << "3/3 2/3"
            << "";
    }
    void inFolder() {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArrayList, after);
        QFETCH(QString, counters);
        QFETCH(QString, left);
        const std::vector<std::string> listed = makeFolder(entries);
        RecordingObserver observer;
        const StripOutcome outcome = stripInFolder(m_folder, listed, observer);
        QVERIFY(!outcome.error);
        QCOMPARE(observer.counters.join(" "), counters);
        QCOMPARE(leftOf(outcome), left);
        QCOMPARE(outcome.stripped, observer.previews);
        QCOMPARE(contentsOf(m_folder), after);
    }

    void readOnlyFileIsStrippedAndEndsWritable_data() {
        QTest::addColumn<QByteArray>("into"); // the subfolder, or empty for the folder itself
        QTest::newRow("in the folder") << QByteArray();
        QTest::newRow("into a subfolder") << QByteArray("cats(1)");
    }
    void readOnlyFileIsStrippedAndEndsWritable() {
        QFETCH(QByteArray, into);
        makeFolder({"f:000001 a.jpg", "d:cats(1)"});
        QCOMPARE(::chmod((m_folder / "000001 a.jpg").c_str(), 0444), 0);
        RecordingObserver observer;
        const fs::path target = m_folder / into.toStdString();
        const StripOutcome outcome = into.isEmpty() ? stripInFolder(m_folder, {"000001 a.jpg"}, observer)
                                                    : stripInto(m_folder, target, {"000001 a.jpg"}, observer);
        QCOMPARE(outcome.stripped, 1);
        struct stat st {};
        QCOMPARE(::stat((target / "a.jpg").c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0644));
    }

    void folderGoneSinceListing() {
        RecordingObserver observer;
        const StripOutcome outcome = stripInFolder(m_folder / "gone", {"000001 a.jpg"}, observer);
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->path, m_folder / "gone");
        QCOMPARE(outcome.error->code, ENOENT);
    }

    // A failure stops the run at that file and names it; nothing is lost, and the read-only file
    // it could not move keeps its mode.
    void failureStopsTheRun_data() {
        QTest::addColumn<QByteArray>("into"); // the subfolder, or empty for the folder itself
        QTest::newRow("in the folder") << QByteArray();
        QTest::newRow("into a subfolder") << QByteArray("cats(1)");
    }
    void failureStopsTheRun() {
        QFETCH(QByteArray, into);
        if (::geteuid() == 0) {
            QCOMPARE(::chown(m_folder.parent_path().c_str(), 65534, 65534), 0);
            QCOMPARE(::chown(m_folder.c_str(), 65534, 65534), 0);
        }
        const int result = test::runInChild([&] {
            if (!test::dropPrivileges())
                return test::skipExit;
            const std::vector<std::string> listed =
                makeFolder({"f:000001 a.jpg", "f:000002 b.jpg", "d:cats(1)"});
            ::chmod((m_folder / "000001 a.jpg").c_str(), 0444);
            ::chmod(m_folder.c_str(), 0555);
            RecordingObserver observer;
            const StripOutcome outcome =
                into.isEmpty() ? stripInFolder(m_folder, listed, observer)
                               : stripInto(m_folder, m_folder / into.toStdString(), listed, observer);
            ::chmod(m_folder.c_str(), 0755);
            struct stat st {};
            const bool keptMode =
                ::stat((m_folder / "000001 a.jpg").c_str(), &st) == 0 && (st.st_mode & 0777) == 0444;
            const bool untouched =
                test::allNames(m_folder) == QByteArrayList{"000001 a.jpg", "000002 b.jpg", "cats(1)"};
            const bool named = outcome.error && outcome.error->code == EACCES &&
                               outcome.error->path == m_folder / "000001 a.jpg";
            return untouched && keptMode && named && observer.previews == 1 ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }

    void subfolderName_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("created"); // empty: all names taken
        QTest::newRow("first") << QByteArrayList{} << QByteArray("cats(1)");
        QTest::newRow("folders, a file and a link block names")
            << QByteArrayList{"d:cats(1)", "f:cats(2)", "l:cats(3)>nowhere"} << QByteArray("cats(4)");
        QTest::newRow("a gap is used") << QByteArrayList{"d:cats(2)"} << QByteArray("cats(1)");
        QByteArrayList all;
        for (int n = 1; n <= 100; ++n)
            all << QByteArray(n % 2 ? "d:" : "f:") + "cats(" + QByteArray::number(n) + ")";
        QTest::newRow("all 100 taken") << all << QByteArray();
        all.removeLast();
        QTest::newRow("the hundredth") << all << QByteArray("cats(100)");
    }
    void subfolderName() {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, created);
        makeFolder(entries);
        QByteArrayList expected = test::allNames(m_folder);
        const Result<std::optional<StripFolders>> subfolder = createStripSubfolder(m_folder);
        QVERIFY(subfolder);
        QCOMPARE(subfolder.value().has_value(), !created.isEmpty());
        if (!created.isEmpty()) {
            QCOMPARE(subfolder.value()->subfolder.path(), m_folder / created.toStdString());
            QCOMPARE(lookupEntry(subfolder.value()->subfolder.path()), EntryKind::Folder);
            expected << created;
            std::sort(expected.begin(), expected.end());
        }
        QCOMPARE(test::allNames(m_folder), expected);
    }

    // The root has no own name; a name with no room left for "(n)" fails with a reason.
    void subfolderNameEdges() {
        QCOMPARE(subfolderStem("/"), std::string("root"));
        const fs::path longName = m_folder / std::string(254, 'x');
        fs::create_directory(longName);
        QCOMPARE(createStripSubfolder(longName).code(), ENAMETOOLONG);
    }

    // A strip into a subfolder at a volume's root makes "root(1)" there. The root is faked by
    // changing the root of a child process.
    void subfolderAtAVolumeRoot() {
        const int result = test::runInChild([&] {
            if (!test::enterOwnUserNamespace() || ::chroot(m_folder.c_str()) != 0 || ::chdir("/") != 0)
                return test::skipExit;
            const Result<std::optional<StripFolders>> made = createStripSubfolder("/");
            return made && made.value() && made.value()->subfolder.path() == fs::path("/root(1)") &&
                           lookupEntry("/root(1)") == EntryKind::Folder
                       ? 0
                       : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot change the root here");
        QCOMPARE(result, 0);
        QCOMPARE(lookupEntry(m_folder / "root(1)"), EntryKind::Folder);
    }

    // Only the chosen files move; one whose name an earlier one took stays, one deleted meanwhile
    // is skipped, and the run goes on.
    void intoSubfolder() {
        const std::vector<std::string> listed = makeFolder(
            {"f:000001 cat.jpg", "f:000002 cat.jpg", "f:000003 dog.jpg", "f:000004 emu.jpg", "f:plain.jpg"});
        RecordingObserver observer;
        observer.onYield = [this](int yield) {
            if (yield == 1)
                fs::remove(m_folder / "000003 dog.jpg");
        };
        const std::vector<std::string> selected{listed[0], listed[1], listed[2], listed[4]};
        const auto folders = createStripSubfolder(m_folder);
        const StripOutcome outcome = stripIntoSubfolder(*folders.value(), selected, observer);
        QVERIFY(!outcome.error);
        QCOMPARE(leftOf(outcome), QString("taken:000002 cat.jpg,gone:000003 dog.jpg"));
        QCOMPARE(observer.counters.join(" "), QString("3/4 2/4 1/4"));
        QCOMPARE(contentsOf(m_folder), QByteArrayList({"000002 cat.jpg", "000004 emu.jpg",
                                                       "cats(1)/cat.jpg=000001 cat.jpg", "plain.jpg"}));
    }
};

QTEST_APPLESS_MAIN(TestStripRuns)
#include "test_strip_runs.moc"
