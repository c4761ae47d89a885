// The plan against the run: over generated trees, what the plan says happens to each file is what
// the run then does to it, read back from the run's journal; and the plan itself changes nothing.
#include "child_process.h"
#include "disk_helpers.h"
#include "history/journal_reader.h"
#include "history/run_journal.h"
#include "move_fixture.h"
#include "naming/serial_name.h"
#include "own_trash.h"
#include "plan/move_plan.h"
#include "plan/plan_text.h"

#include <QtTest>

#include <map>
#include <random>
#include <set>
#include <sys/sysmacros.h>

using namespace corvalin;
using namespace corvalin::test;

Q_DECLARE_METATYPE(Names)

namespace {

// The run's questions answered as a user who chose one destination and never cancels.
struct QuietObserver : MoveRunObserver {
    fs::path dest;
    void yield() override {}
    void surveyStarted() override {}
    bool stopRequested() override { return false; }
    bool cancelRequested() override { return false; }
    fs::path destination() override { return dest; }
};

// Every path below `root`, hidden ones and links too, with its kind and size.
std::map<std::string, std::uintmax_t> snapshot(const fs::path& root) {
    std::map<std::string, std::uintmax_t> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error)) {
        const bool file = it->is_regular_file(error) && !it->is_symlink(error);
        entries[it->path().native()] = file ? it->file_size(error) : std::uintmax_t(-1);
    }
    return entries;
}

const char* const kEndings[] = {".jpg",  ".JPEG", ".bmp", ".png", ".gif",
                                ".webp", ".tif",  ".mp4", ".txt", "jpg"};

} // namespace

class TestMovePlan : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }

    // Child folders at two depths, one hidden; pictures of every type, other files, hidden files,
    // names that are not UTF-8, and destination names the run's numbers will meet.
    void generateTree(std::uint32_t seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int count) {
            return int(random() % unsigned(count));
        };
        const char* const folders[] = {"a", "b", "b/b1", ".hidden", "c\xff\xfe", "d"};
        for (const char* folder : folders) {
            fs::create_directories(src() / folder);
            for (int i = pick(7); i >= 0; --i) {
                std::string name = (pick(5) == 0 ? "\x82\xa0" : "f") + std::to_string(pick(20));
                if (pick(8) == 0)
                    name = "." + name;
                name += kEndings[pick(int(std::size(kEndings)))];
                writeContent(src() / folder / name, pictureContent(std::string(folder) + "/" + name));
            }
        }
        // A download still arriving deep in a child folder keeps that folder in some trees.
        if (seed % 3 == 0)
            writeContent(src() / "b/b1/x.jpg.part", "");
        // The destination holds the numbers from the counter on, under names of every kind: the
        // pictures take the free numbers after them.
        writeContent(src() / "a" / "0first.jpg", pictureContent("a/0first.jpg"));
        for (int serial = 100; serial <= 160; ++serial)
            writeContent(dst() / (serialPrefix(serial) + "0first.jpg"), "taken");
        for (int serial = 161; serial < 170; ++serial) {
            const std::string name = serialPrefix(serial) + "f" + std::to_string(pick(20)) + ".jpg";
            if (pick(3) == 0)
                fs::create_directory(dst() / name);
            else if (pick(2) == 0)
                fs::create_symlink("nowhere", dst() / name);
        }
    }

    fs::path runWithJournal(Module1& vars, const PlanRequest& request) {
        RunStart start;
        start.source = request.source;
        start.destination = request.destination;
        auto journal = RunJournal::create(root() / "history", start);
        if (!journal)
            return {};
        QuietObserver observer;
        observer.dest = request.destination;
        MoveRun run(vars, files(), observer, Removal(request.permanent));
        run.setPictureTypes(request.pictureTypes);
        run.setSkipDuplicates(request.skipDuplicates);
        run.setJournal(&journal.value());
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(request.source, request.deleteFolders, folderList);
        if (result.outcome != MoveOutcome::Completed)
            qWarning() << (result.error ? result.error->operation.c_str() : "cancelled");
        const fs::path file = journal.value().file();
        (void)journal.value().finish(kOutcomeCompleted);
        return file;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        for (const fs::path& folder : {root() / "prog", src(), dst()})
            fs::create_directories(folder);
        m_home = std::make_unique<OwnHome>(root() / "home");
    }
    void cleanup() {
        m_home.reset();
        std::error_code ignored;
        fs::remove_all(root(), ignored);
    }

    void planIsWhatTheRunDoes_data() {
        QTest::addColumn<uint>("seed");
        QTest::addColumn<bool>("deleteFolders");
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<QByteArray>("types");
        QTest::addColumn<bool>("skipDuplicates");
        for (uint seed = 1; seed <= 24; ++seed) {
            const QByteArray types = QList<QByteArray>{"", "png", "png,gif,webp,tiff"}[seed % 3];
            const bool skip = seed % 5 < 2;
            QTest::addRow("tree %u, %s%s", seed, types.isEmpty() ? "JPEG and BMP" : types.constData(),
                          skip ? ", duplicates left out" : "")
                << seed << (seed % 2 == 0) << (seed % 4 == 1) << types << skip;
        }
    }
    void planIsWhatTheRunDoes() {
        QFETCH(uint, seed);
        QFETCH(bool, deleteFolders);
        QFETCH(bool, permanent);
        QFETCH(QByteArray, types);
        QFETCH(bool, skipDuplicates);
        generateTree(seed);
        // A copy of a picture waits in the destination, and two pictures of the run are equal.
        writeContent(dst() / "saved.jpg", "saved before");
        writeContent(src() / "b/saved again.jpg", "saved before");
        writeContent(src() / "a/zz.jpg", "twice");
        writeContent(src() / "d/zz again.jpg", "twice");
        const PlanRequest request{
            src(), dst(), deleteFolders, permanent, decodePictureTypes(types.toStdString()), skipDuplicates};
        Module1 vars;
        vars.SerialNo = 100;
        // The check that the Trash can be used, as a run's start makes it, may make the Trash's
        // folders in the home; nothing else may change.
        const auto before = snapshot(src());
        const auto destinationBefore = snapshot(dst());
        const MovePlan plan = makeMovePlan(vars, files(), request);
        QCOMPARE(snapshot(src()), before);
        QCOMPARE(snapshot(dst()), destinationBefore);
        QVERIFY(!fs::exists(files().counterFile()));
        QCOMPARE(vars.SerialNo, 100);
        QCOMPARE(plan.outcome, MoveOutcome::Completed);
        QVERIFY(plan.numbersSkipped >= 61);
        std::set<std::int32_t> held;
        for (const auto& [path, size] : destinationBefore) {
            if (const auto number = serialNumberOf(fs::path(path).filename().native()))
                held.insert(*number);
        }
        for (const PlanPicture& picture : plan.pictures)
            QVERIFY2(!held.contains(picture.serialNo), picture.newName.c_str());

        const fs::path journalFile = runWithJournal(vars, request);
        const Result<JournalContents> contents = readJournal(journalFile);
        QVERIFY(contents.ok());
        // A taken name leaves a record of the attempt; the last one for a picture is its move.
        std::map<std::string, std::pair<std::string, std::int64_t>> moved;
        std::set<std::string> removedFiles;
        std::set<std::string> removedFolders;
        std::map<std::string, std::string> leftOut;
        for (const JournalRecord& record : contents.value().records) {
            if (record.type == RecordType::Move)
                moved[record.from.native()] = {record.to.filename().native(), record.number};
            if (!record.twin.empty())
                leftOut[record.from.native()] = record.twin.native();
            else if (record.type == RecordType::Trash || record.type == RecordType::Delete)
                (record.folder ? removedFolders : removedFiles).insert(record.from.native());
        }
        std::map<std::string, std::string> plannedLeftOut;
        for (const PlanDuplicate& duplicate : plan.duplicates)
            plannedLeftOut[duplicate.path] = duplicate.twin;
        QCOMPARE(plannedLeftOut, leftOut);
        QCOMPARE(leftOut.size(), std::size_t(skipDuplicates ? 2 : 0));
        std::map<std::string, std::pair<std::string, std::int64_t>> planned;
        for (const PlanPicture& picture : plan.pictures)
            planned[picture.from] = {picture.newName, picture.serialNo};
        QCOMPARE(planned, moved);
        std::set<std::string> plannedFiles;
        for (const PlanRemoval& removal : plan.removals)
            plannedFiles.insert(removal.path);
        QCOMPARE(plannedFiles, removedFiles);
        std::set<std::string> plannedFolders;
        for (const PlanFolder& folder : plan.folders)
            plannedFolders.insert(folder.path);
        QCOMPARE(plannedFolders, removedFolders);
        QCOMPARE(plan.pictures.size() + plan.removals.size() + plan.folders.size() + plan.duplicates.size(),
                 moved.size() + removedFiles.size() + removedFolders.size() + leftOut.size());
    }

    // What the plan finds before anything moves, each case on a tree of one child folder "a"
    // holding "cat.jpg", with the delete option on.
    void problemsFound_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("where");
        QTest::addColumn<QString>("says");
        const auto row = [](const char* name, const char* setUp, MoveOutcome outcome, ProblemKind kind,
                            const char* where, const char* says) {
            QTest::newRow(name) << setUp << int(outcome) << int(kind) << QByteArray(where) << QString(says);
        };
        row("a link left out", "link", MoveOutcome::Completed, ProblemKind::LeftOut, "src/a/to-b",
            "リンクです");
        // Named like pictures, they are named as links are.
        for (const char* special : {"fifo", "socket", "device"})
            row(special, special, MoveOutcome::Completed, ProblemKind::LeftOut, "src/a/x.jpg",
                "普通のファイルではありません");
        row("a name too long with the prefix", "long", MoveOutcome::Completed, ProblemKind::NameTooLong,
            "src/a/x", "（255 バイト）を超えます。名前を短くして");
        row("destination gone", "noDestination", MoveOutcome::Failed, ProblemKind::RunStops, "dst",
            "移動先フォルダ");
        row("source gone", "noSource", MoveOutcome::Failed, ProblemKind::RunStops, "src",
            "フォルダの読み取りができませんでした");
        row("a download still arriving", "download", MoveOutcome::Completed, ProblemKind::DownloadArriving,
            "src/a/cat.jpg", "ダウンロード中");
        row("a hidden picture goes with its folder", "hidden", MoveOutcome::Completed,
            ProblemKind::HiddenPicture, "src/a/.h.jpg",
            "隠しファイルのため移動しません。子フォルダ「a」と一緒にごみ箱に入ります。");
        row("a hidden picture in a folder kept", "hiddenKept", MoveOutcome::Completed,
            ProblemKind::DownloadArriving, "src/a/cat.jpg", "ダウンロード中");
        row("a picture in the source parent", "parent", MoveOutcome::Completed, ProblemKind::InSourceParent,
            "src/top.jpg", "そのまま残ります");
    }
    void problemsFound() {
        QFETCH(QString, setUp);
        QFETCH(QByteArray, where);
        writeContent(src() / "a" / "cat.jpg", "cat");
        if (setUp == "link")
            fs::create_directory_symlink(src() / "b", src() / "a" / "to-b");
        if (setUp == "fifo" || setUp == "socket")
            makeEntries(src() / "a", {(setUp == "fifo" ? "p:" : "s:") + QByteArray("x.jpg")});
        if (setUp == "device" && ::mknod((src() / "a/x.jpg").c_str(), S_IFCHR | 0644, ::makedev(1, 3)) != 0)
            QSKIP("only root makes a device");
        if (setUp == "long")
            writeContent(src() / "a" / (std::string(250, 'x') + ".jpg"), "long");
        if (setUp == "noDestination")
            fs::remove(dst());
        if (setUp == "noSource")
            fs::remove_all(src());
        if (setUp == "download" || setUp == "hiddenKept")
            writeContent(src() / "a" / "cat.jpg.part", "");
        if (setUp == "hidden" || setUp == "hiddenKept")
            writeContent(src() / "a" / ".h.jpg", "hidden");
        if (setUp == "parent")
            writeContent(src() / "top.jpg", "loose");
        const MovePlan plan = makeMovePlan(Module1{}, files(), {src(), dst(), true, false, {}});
        QTEST(int(plan.outcome), "outcome");
        QVERIFY(!plan.problems.empty());
        QTEST(int(plan.problems.front().kind), "kind");
        QVERIFY2(plan.problems.front().path.starts_with((root() / where.toStdString()).native()),
                 plan.problems.front().path.c_str());
        QFETCH(QString, says);
        QVERIFY2(QString::fromStdString(plan.problems.front().text).contains(says),
                 plan.problems.front().text.c_str());
        // A folder that cannot be looked at is no other file system.
        QCOMPARE(plan.acrossFileSystems.has_value(), !setUp.startsWith("no"));
        if (setUp == "hiddenKept")
            QVERIFY(plan.problems.back().text.ends_with("フォルダに残ります。"));
        if (setUp != "noSource")
            QCOMPARE(contentOf(src() / "a" / "cat.jpg"), std::string("cat"));
    }

    // What the destination itself refuses, found before anything is done, as the disk would say
    // it: the plan says the run cannot start and why. The refusals need a mount of their own, so the
    // plan is made in a child process; a picture goes to another file system there.
    void destinationRefusals_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::newRow("read-only file system") << "readOnly" << int(EROFS);
        QTest::newRow("no room for the first picture") << "full" << int(ENOSPC);
    }
    void destinationRefusals() {
        QFETCH(QString, fault);
        QFETCH(int, code);
        writeContent(src() / "a" / "cat.jpg", std::string(64 * 1024, 'c'));
        const int result = runInChild([&] {
            if (!mountPrivateTmpfs(dst(), "16k"))
                return skipExit;
            if (fault == "readOnly" &&
                ::mount(nullptr, dst().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return skipExit;
            const MovePlan plan = makeMovePlan(Module1{}, files(), {src(), dst(), true, false, {}});
            const bool refused = plan.outcome == MoveOutcome::Failed && plan.error->code == code &&
                                 plan.error->path == dst() && plan.pictures.empty();
            const std::vector<std::string> summary = planSummary(plan);
            const bool said = summary.back().starts_with("この移動は始められません: ");
            return refused && said ? 0 : 1;
        });
        if (result == skipExit)
            QSKIP("cannot mount a small file system here");
        QCOMPARE(result, 0);
    }

    // A child folder removed whole: what it still holds once emptied; a cancel leaves no rows.
    void hiddenContentAndCancel() {
        writeContent(src() / "a" / "cat.jpg", "cat");
        writeContent(src() / "a" / ".thumbs.db", "12345");
        writeContent(src() / "a" / "deep" / ".x", "1");
        writeContent(src() / "a" / "deep" / "note.txt", "removed as a file");
        fs::create_symlink("cat.jpg", src() / "a" / "link");
        const MovePlan plan = makeMovePlan(Module1{}, files(), {src(), dst(), true, false, {}});
        QCOMPARE(plan.folders.size(), std::size_t(1));
        QCOMPARE(plan.folders[0].hiddenItems, 3u);
        QCOMPARE(plan.folders[0].hiddenBytes, std::uint64_t(6));
        int asked = 0;
        const PlanProgress cancelAtOnce{[](int, long) {},
                                        [&] {
                                            return ++asked > 0;
                                        }};
        const MovePlan cancelled =
            makeMovePlan(Module1{}, files(), {src(), dst(), true, false, {}}, cancelAtOnce);
        QCOMPARE(cancelled.outcome, MoveOutcome::Cancelled);
        QVERIFY(cancelled.pictures.empty() && cancelled.removals.empty() && cancelled.problems.empty());
    }

    // The CSV keeps every name's bytes readable back; a UTF-8 name stays as it is.
    void csvPaths_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("UTF-8 with a percent sign")
            << QByteArray("/d/100% 猫.jpg") << QByteArray("/d/100% 猫.jpg");
        QTest::newRow("CP932 bytes") << QByteArray("/d/\x82\xa0.jpg") << QByteArray("/d/%82%A0.jpg");
        QTest::newRow("percent in a name that is not UTF-8")
            << QByteArray("/d/%\xff猫") << QByteArray("/d/%25%FF猫");
    }
    void csvPaths() {
        QFETCH(QByteArray, path);
        QTEST(QByteArray::fromStdString(csvPathText(path.toStdString())), "written");
    }

    // A cell a spreadsheet would take for a formula is written as text.
    void csvCellsAreNeverFormulas_data() {
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QByteArray>("written");
        for (const char* lead : {"=", "+", "-", "@", "\t", "\r"})
            QTest::addRow("begins with 0x%02x", lead[0]) << QByteArray(lead) + "SUM(A1)"
                                                         << "\"'" + QByteArray(lead) + "SUM(A1)\"";
        QTest::newRow("a sign inside") << QByteArray("a=b-c") << QByteArray("\"a=b-c\"");
        QTest::newRow("a quote first") << QByteArray("\"=x") << QByteArray("\"\"\"=x\"");
    }
    void csvCellsAreNeverFormulas() {
        QFETCH(QByteArray, cell);
        MovePlan plan;
        plan.problems.push_back({ProblemKind::LeftOut, "/d/x", cell.toStdString()});
        QFETCH(QByteArray, written);
        const std::string row = "\"問題\",\"/d/x\"," + written.toStdString() + ",\"\",\"\"\r\n";
        QVERIFY2(planCsv(plan).ends_with(row), planCsv(plan).c_str());
    }

    // The summary names the numbers the destination makes the pictures skip, and the files it
    // removes that are pictures of a type not chosen, on a line of their own that says where to
    // choose them.
    void summaryNamesSkipsAndUnchosenPictures_data() {
        QTest::addColumn<QByteArray>("types");
        QTest::addColumn<Names>("tree");
        QTest::addColumn<Names>("held"); // names in the destination
        QTest::addColumn<QStringList>("lines");
        const Names tree{"a/p.jpg", "a/x.png", "a/y.jfif", "a/z.jpg_large", "a/n.txt"};
        const QString where =
            "。「オプション」の「詳細」タブの「画像として扱う形式」で選ぶと、番号を付けて移動します";
        const QString rename = "（.jpg_large などは選べないため、名前の終わりを .jpg などに直して下さい）";
        QTest::newRow("none chosen")
            << QByteArray() << tree << Names{}
            << QStringList{"移動する画像: 1 個（番号 000100 から 000100 まで）",
                           "削除するファイルのうち画像: 3 個（1 × .jfif, 1 × .jpg_large, 1 × .png）" + where +
                               rename};
        QTest::newRow("JFIF and PNG chosen, numbers held")
            << QByteArray("png,jfif") << tree << Names{"000100 old.jpg", "000102 kept"}
            << QStringList{"移動する画像: 3 個（番号 000101 から 000104 まで。移動先にすでにある番号 2 "
                           "個は飛ばします）",
                           "削除するファイルのうち画像: 1 個（1 × .jpg_large）" + where + rename};
        QTest::newRow("a type not chosen, no site's ending")
            << QByteArray() << Names{"a/p.jpg", "a/x.webp", "a/w.WEBP"} << Names{}
            << QStringList{"削除するファイルのうち画像: 2 個（2 × .webp）" + where};
        QTest::newRow("a download still arriving is no removal")
            << QByteArray() << Names{"a/p.jpg", "a/x.png", "a/x.png.part"} << Names{}
            << QStringList{"削除するファイル: 0 個"};
    }
    void summaryNamesSkipsAndUnchosenPictures() {
        QFETCH(QByteArray, types);
        QFETCH(Names, tree);
        QFETCH(Names, held);
        QFETCH(QStringList, lines);
        for (const std::string& name : tree)
            writeContent(src() / name, pictureContent(name));
        for (const std::string& name : held)
            writeContent(dst() / name, "held");
        Module1 vars;
        vars.SerialNo = 100;
        const MovePlan plan = makeMovePlan(
            vars, files(), {src(), dst(), false, false, decodePictureTypes(types.toStdString())});
        QStringList summary;
        for (const std::string& line : planSummary(plan))
            summary << QString::fromStdString(line);
        for (const QString& line : lines)
            QVERIFY2(summary.contains(line), qPrintable(summary.join('\n')));
        const bool unchosen = std::any_of(lines.begin(), lines.end(), [](const QString& line) {
            return line.startsWith("削除するファイルのうち画像");
        });
        QCOMPARE(summary.filter("削除するファイルのうち画像").size(), unchosen ? 1 : 0);
    }

    void removalsGroupedByExtension() {
        MovePlan plan;
        for (const char* path : {"/a/x.PNG", "/a/y.png", "/a/z.mp4", "/a/.hidden", "/a/b.c/none", "/a/w.png"})
            plan.removals.push_back({path, 1});
        QCOMPARE(QString::fromStdString(extensionCountsText(removalsByExtension(plan))),
                 QStringLiteral("3 × .png, 2 × （拡張子なし）, 1 × .mp4"));
    }
};

QTEST_APPLESS_MAIN(TestMovePlan)
#include "test_move_plan.moc"
