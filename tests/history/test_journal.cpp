// The run journal: what it writes reads back with every byte of every name, a journal cut at any
// byte keeps its whole records, a damaged one is refused, a run that cannot write one is refused,
// and the history folder keeps the newest runs only.
#include "child_process.h"
#include "history/journal_codec.h"
#include "history/run_history.h"
#include "history/run_journal.h"
#include "platform/file_ops.h"
#include "platform/utf8.h"
#include "temp_tree.h"

#include <QtTest>

#include <sys/mount.h>
#include <sys/time.h>

using namespace corvalin;
using namespace corvalin::testing;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;
constexpr std::int64_t kNow = 1714540953; // 2024-05-01

JournalRecord moveRecord(const fs::path& from, const fs::path& to, std::int32_t serial) {
    JournalRecord record(RecordType::Move);
    record.number = serial;
    record.from = from;
    record.to = to;
    record.identity = {12345, kNow - 7, 123456789, 2049, 77};
    return record;
}

// A finished run: a move of one picture under every name, then its end.
fs::path writeRun(const fs::path& history, const std::vector<std::string>& names, std::int64_t time,
                  const char* outcome = kOutcomeCompleted) {
    RunStart start;
    start.time = time;
    start.serialNo = 40;
    start.source = "/src";
    start.destination = "/dst";
    start.options = "delete-folders=1";
    auto journal = RunJournal::create(history, start);
    if (!journal)
        return {};
    std::int32_t serial = 40;
    for (const std::string& name : names)
        (void)journal.value().append(moveRecord("/src/a/" + name, "/dst/" + name, serial++));
    const fs::path file = journal.value().file();
    return journal.value().finish(outcome) ? file : fs::path();
}

std::string lineOf(const JournalRecord& record) {
    return encodeRecordLine(fieldsOf(record));
}

RunStart startAt(std::int64_t time) {
    RunStart start;
    start.time = time;
    start.source = "/src";
    return start;
}

std::string journalBytes(const fs::path& file) {
    return readFile(file);
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fs::path history() const { return pathOf(m_dir) / "history"; }

private slots:
    void init() { fs::remove_all(history()); }

    // Names as a file system may hold them, each kept byte for byte while the file stays text a
    // pager shows: valid UTF-8, no control characters but the tab and the line feed.
    void namesReadBackExactly_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("japanese") << QByteArray("猫 写真.jpg");
        QTest::newRow("shift_jis") << QByteArray("\x82\xA0\x82\xA2.jpg");
        QTest::newRow("lone continuation byte") << QByteArray("a\x80z.jpg");
        QTest::newRow("tab and line feed") << QByteArray("a\tb\nc.jpg");
        QTest::newRow("carriage return and escape") << QByteArray("a\rb\x1b.jpg");
        QTest::newRow("percent") << QByteArray("100%25.jpg");
        QTest::newRow("C1 control") << QByteArray("a\xC2\x85z.jpg");
        QTest::newRow("delete") << QByteArray("a\x7Fz.jpg");
    }
    void namesReadBackExactly() {
        QFETCH(QByteArray, name);
        const fs::path file = writeRun(history(), {name.toStdString()}, kNow);
        QVERIFY(!file.empty());
        const auto contents = readJournal(file);
        QVERIFY(contents);
        QCOMPARE(contents.value().records.size(), std::size_t(4));
        QCOMPARE(contents.value().records[2],
                 moveRecord("/src/a/" + name.toStdString(), "/dst/" + name.toStdString(), 40));
        const std::string bytes = journalBytes(file);
        QVERIFY(isValidUtf8(bytes));
        for (const char c : bytes)
            QVERIFY2(static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n', "a control character");
    }

    // The checksum stays the standard CRC-32 that journals already on users' disks carry, at every
    // length around the eight bytes it takes a step.
    void checksumIsTheStandardOne() {
        QCOMPARE(crc32("123456789"), 0xCBF43926u);
        std::string bytes;
        for (int n = 0; n < 40; ++n) {
            std::uint32_t bitwise = 0xFFFFFFFFu;
            for (const unsigned char c : bytes) {
                bitwise ^= c;
                for (int k = 0; k < 8; ++k)
                    bitwise = (bitwise & 1) ? 0xEDB88320u ^ (bitwise >> 1) : bitwise >> 1;
            }
            QCOMPARE(crc32(bytes), bitwise ^ 0xFFFFFFFFu);
            bytes += static_cast<char>(n * 37 + 200);
        }
    }

    // However a kill or a power loss cuts the file, what was whole before the cut is read, and
    // nothing else.
    void cutAnywhereKeepsWholeRecords() {
        const fs::path file = writeRun(history(), {"a.jpg", "\xff.jpg", "c.jpg"}, kNow);
        const std::string bytes = journalBytes(file);
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            const auto contents = parseJournal(std::string_view(bytes).substr(0, cut), file);
            QVERIFY2(contents, qPrintable(QString("cut at %1").arg(cut)));
            const auto wholeLines = std::size_t(std::count(bytes.begin(), bytes.begin() + cut, '\n'));
            QCOMPARE(contents.value().records.size(), wholeLines);
            QCOMPARE(contents.value().cutShort, cut > 0 && bytes[cut - 1] != '\n');
        }
    }

    // A line that does not read, or a record where no run writes one, is never acted on: the
    // journal is refused, naming the line.
    void damageIsReported_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<int>("damagedLine");
        const auto line = [](std::vector<std::string> fields) {
            return QByteArray::fromStdString(encodeRecordLine(fields));
        };
        QTest::newRow("byte changed") << 3
                                      << QByteArray("move\t40\t/src/a/a.jpg\t/dst/b.jpg\t1\t2.000000000"
                                                    "\t3\t4\t00000000\n")
                                      << 3;
        QTest::newRow("unknown record") << 3 << line({"copy", "/a", "/b"}) << 3;
        QTest::newRow("relative path") << 3 << line({"mkdir", "a/b"}) << 3;
        QTest::newRow("duplicate's twin relative")
            << 3 << line({"delete", "file", "/src/a/a.jpg", "b.jpg"}) << 3;
        QTest::newRow("a twin where none belongs") << 3 << line({"mkdir", "/a", "/b"}) << 3;
        QTest::newRow("second start")
            << 3 << line({"start", "move", "2024-05-01T14:22:33+0900", "1", "/a", "/b", ""}) << 3;
        QTest::newRow("action after the end") << 5 << line({"end", "completed"}) + line({"mkdir", "/a"}) << 6;
        QTest::newRow("undo step on the start")
            << 5 << line({"undo-start", "2024-05-01T14:22:33+0900"}) + line({"undo-step", "2"}) << 6;
        QTest::newRow("garbage") << 4 << QByteArray("\0\0\0\0\n", 5) << 4;
    }
    void damageIsReported() {
        QFETCH(int, line);
        QFETCH(QByteArray, replacement);
        QFETCH(int, damagedLine);
        const fs::path file = writeRun(history(), {"a.jpg", "b.jpg"}, kNow);
        QByteArrayList lines = QByteArray::fromStdString(journalBytes(file)).split('\n');
        lines.removeLast(); // after the last line feed
        lines[line - 1] = replacement.chopped(1);
        const std::string damaged = lines.join('\n').toStdString() + "\n";
        const auto contents = parseJournal(damaged, file);
        QVERIFY(!contents);
        QCOMPARE(contents.error().path, file);
        QCOMPARE(QString::fromStdString(contents.error().reason()),
                 QString("%1行目が壊れています。").arg(damagedLine));
    }

    // A run that changed nothing leaves no journal behind.
    void runWithoutActionsLeavesNone() {
        auto journal = RunJournal::create(history(), startAt(0));
        QVERIFY(journal);
        const fs::path file = journal.value().file();
        QVERIFY(fs::exists(file));
        QVERIFY(journal.value().finish(kOutcomeCompleted));
        QVERIFY(!fs::exists(file));
    }

    // A parent folder typed relative to the working folder is recorded as the folder it meant.
    void relativePathsAreRecordedAbsolute() {
        const fs::path here = workingFolder();
        QVERIFY(setWorkingFolder(pathOf(m_dir)));
        RunStart start = startAt(kNow);
        start.source = "typed/cats";
        auto journal = RunJournal::create(history(), start);
        QVERIFY(journal.value().recordFolderMade("typed/cats/cats_1"));
        const fs::path file = journal.value().file();
        QVERIFY(journal.value().finish(kOutcomeCompleted));
        QVERIFY(setWorkingFolder(here));
        const auto contents = readJournal(file);
        QVERIFY(contents);
        QCOMPARE(contents.value().records[1].from, pathOf(m_dir) / "typed/cats");
        QCOMPARE(contents.value().records[2].from, pathOf(m_dir) / "typed/cats/cats_1");
    }

    // Where no journal can be written, the run gets an error naming the folder and the reason.
    void unwritableHistoryIsRefused() {
        writeFile(pathOf(m_dir) / "file", "x");
        const auto inFile = RunJournal::create(pathOf(m_dir) / "file" / "history", startAt(0));
        QVERIFY(!inFile);
        QCOMPARE(inFile.code(), ENOTDIR);
        QVERIFY(inFile.error().path.native().starts_with((pathOf(m_dir) / "file").native()));

        // A history folder that is a link (swapped in by another process) is never followed: the
        // journal would land wherever it leads.
        const fs::path elsewhere = pathOf(m_dir) / "elsewhere";
        fs::create_directories(elsewhere);
        fs::create_directory_symlink(elsewhere, history());
        const auto throughLink = RunJournal::create(history(), startAt(0));
        QVERIFY(!throughLink);
        QCOMPARE(throughLink.code(), ENOTDIR);
        QCOMPARE(throughLink.error().path, history());
        QVERIFY(fs::is_empty(elsewhere));
        fs::remove(history());

        const fs::path readOnly = pathOf(m_dir) / "readonly";
        fs::create_directories(readOnly);
        const int result = runInChild([&] {
            if (!mountPrivateTmpfs(readOnly) ||
                ::mount(nullptr, readOnly.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return skipExit;
            const auto journal = RunJournal::create(readOnly / "history", startAt(0));
            return !journal && journal.code() == EROFS && journal.error().path == readOnly / "history" ? 0
                                                                                                       : 1;
        });
        if (result == skipExit)
            QSKIP("private read-only mounts are refused here");
        QCOMPARE(result, 0);
    }

    // A second undo pass goes on after a kill cut a record short: the cut part goes first.
    void reopenCutsTheCutRecord() {
        const fs::path file = writeRun(history(), {"a.jpg"}, kNow, kOutcomeCancelled);
        const std::string whole = journalBytes(file);
        writeFile(file, whole + "undo-st");
        JournalContents contents;
        auto journal = RunJournal::reopen(file, contents);
        QVERIFY(journal);
        QVERIFY(contents.cutShort);
        QCOMPARE(journal.value().nextLine(), std::size_t(5));
        QVERIFY(journal.value().append(JournalRecord(RecordType::UndoStart)));
        QVERIFY(journal.value().close());
        QVERIFY(journalBytes(file).starts_with(whole + "undo-start\t"));
        QVERIFY(readJournal(file));
    }

    // The list tells each run's counts and state; a name found taken is one picture, not two.
    void runsAreListedNewestFirst() {
        writeRun(history(), {"a.jpg", "b.jpg"}, kNow - 100);
        writeRun(history(), {"c.jpg"}, kNow, kOutcomeCancelled);
        const fs::path damaged = history() / "damaged.journal";
        writeFile(damaged, "garbage\n");
        const struct timeval past[2] = {{kNow - 1000, 0}, {kNow - 1000, 0}};
        QCOMPARE(::utimes(damaged.c_str(), past), 0);
        auto retried = RunJournal::create(history(), startAt(0));
        QVERIFY(retried.value().append(moveRecord("/src/a/d.jpg", "/dst/000040 d.jpg", 40)));
        QVERIFY(retried.value().append(moveRecord("/src/a/d.jpg", "/dst/000041 d.jpg", 41)));

        const auto runs = listRuns(history());
        QVERIFY(runs);
        QCOMPARE(runs.value().size(), std::size_t(4));
        const RunSummary& running = runs.value()[0]; // started now, so the newest
        QCOMPARE(running.state, RunState::Running);
        QCOMPARE(running.picturesMoved, 1);
        QCOMPARE(running.firstSerialNo, std::optional<std::int32_t>(40));
        QCOMPARE(running.lastSerialNo, std::optional<std::int32_t>(41));
        QCOMPARE(runs.value()[1].state, RunState::Interrupted);
        QCOMPARE(runs.value()[2].state, RunState::Completed);
        QCOMPARE(runs.value()[2].picturesMoved, 2);
        QCOMPARE(runs.value()[2].source, fs::path("/src"));
        QCOMPARE(runs.value()[3].state, RunState::Damaged);
        QCOMPARE(runs.value()[3].id, std::string("damaged"));
        QVERIFY(runs.value()[3].damage);
    }

    // What the start-up's tidying keeps, by what a journal holds: only a journal without a start,
    // or a run that ended having done nothing, goes for that. A run without its end may have had
    // its records taken by a power cut: it stays, and is listed as interrupted.
    void pruneKeepsEveryRunThatMayHaveActed_data() {
        QTest::addColumn<QStringList>("records"); // "move", "not-done", "end", "cut", "damaged"
        QTest::addColumn<bool>("kept");
        QTest::addColumn<int>("state"); // RunState as listed, when kept
        const int interrupted = int(RunState::Interrupted), completed = int(RunState::Completed);
        QTest::newRow("ended, acted") << QStringList{"move", "end"} << true << completed;
        QTest::newRow("ended, acted on nothing") << QStringList{"end"} << false << 0;
        QTest::newRow("ended, its only action not done")
            << QStringList{"move", "not-done", "end"} << false << 0;
        QTest::newRow("not ended, acted") << QStringList{"move"} << true << interrupted;
        QTest::newRow("not ended, no record after its start") << QStringList{} << true << interrupted;
        QTest::newRow("not ended, its only action not done")
            << QStringList{"move", "not-done"} << true << interrupted;
        QTest::newRow("not ended, a record cut short") << QStringList{"cut"} << true << interrupted;
        // A journal is read as far as it reads: the run stands as its whole records show it.
        QTest::newRow("a damaged record") << QStringList{"damaged"} << true << interrupted;
        QTest::newRow("a damaged record after its end") << QStringList{"end", "damaged"} << true << completed;
    }
    void pruneKeepsEveryRunThatMayHaveActed() {
        QFETCH(QStringList, records);
        QFETCH(bool, kept);
        std::string bytes = lineOf(JournalRecord(RecordType::Header));
        JournalRecord start(RecordType::Start);
        start.time = kNow - 60;
        start.from = "/src";
        bytes += lineOf(start);
        for (const QString& record : records) {
            JournalRecord notDone(RecordType::NotDone);
            notDone.number = 3;
            JournalRecord end(RecordType::End);
            end.text = kOutcomeCompleted;
            const std::string move = lineOf(moveRecord("/src/a/b.jpg", "/dst/000040 b.jpg", 40));
            bytes += record == "move"       ? move
                     : record == "not-done" ? lineOf(notDone)
                     : record == "end"      ? lineOf(end)
                     : record == "cut"      ? move.substr(0, move.size() / 2)
                                            : std::string("garbage\n");
        }
        fs::create_directories(history());
        const fs::path file = history() / "run.journal";
        writeFile(file, bytes);
        QVERIFY(pruneHistory(history(), kNow));
        QCOMPARE(fs::exists(file), kept);
        if (!kept)
            return;
        const auto runs = listRuns(history());
        QCOMPARE(runs.value().size(), std::size_t(1));
        QTEST(int(runs.value()[0].state), "state");
    }

    // At start-up: the newest 100 runs of the last 90 days stay; a journal killed before its start
    // was written and runs still going are no runs to count.
    void startUpKeepsTheNewestRuns() {
        std::vector<fs::path> files;
        for (int i = 0; i < 103; ++i)
            files.push_back(writeRun(history(), {"a.jpg"}, kNow - i * 60));
        const fs::path old = writeRun(history(), {"a.jpg"}, kNow - 91 * kDay);
        const fs::path killedEarly = history() / "killed.journal";
        writeFile(killedEarly, lineOf(JournalRecord(RecordType::Header)));
        auto going = RunJournal::create(history(), startAt(kNow - 200 * kDay));

        QVERIFY(pruneHistory(history(), kNow));
        for (int i = 0; i < 103; ++i)
            QVERIFY2(fs::exists(files[std::size_t(i)]) == (i < 100), qPrintable(QString::number(i)));
        QVERIFY(!fs::exists(old));
        QVERIFY(!fs::exists(killedEarly));
        QVERIFY(fs::exists(going.value().file()));
    }
};

QTEST_APPLESS_MAIN(TestJournal)
#include "test_journal.moc"
