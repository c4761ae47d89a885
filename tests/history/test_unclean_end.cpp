// The start after an unclean end (the running flag still set), as a power cut leaves the disk: the
// journal's last records or the counter's last rewrites lost, trash info files empty, copies across
// file systems half done. The serial number goes above every number given, the trash is readable
// again, and every picture the recovery names for good can be undone.
#include "app/startup.h"
#include "history/journal_codec.h"
#include "history/run_history.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "own_trash.h"
#include "platform/file_identity.h"
#include "platform/trash_info.h"
#include "temp_tree.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(corvalin::StartupOutcome)

namespace {

const char* const kAbsent = "<absent>";

std::string serialFileName(int number, const std::string& name) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%06d ", number);
    return prefix + name;
}

// Numbers from `first`, `count` of them, going round after 999999.
QList<int> numbersFrom(int first, int count) {
    QList<int> numbers;
    for (int i = 0; i < count; ++i)
        numbers.append((first + i) % 1000000);
    return numbers;
}

void setAge(const fs::path& file, std::time_t secondsAgo) {
    const std::time_t then = std::time(nullptr) - secondsAgo;
    struct timespec times[2] = {{then, 0}, {then, 0}};
    QVERIFY(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0);
}

class NoUndoObserver : public UndoObserver {
public:
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

int recordsOf(const fs::path& journal, RecordType type) {
    const Result<JournalContents> contents = readJournal(journal);
    if (!contents)
        return -1;
    return int(std::count_if(contents.value().records.begin(), contents.value().records.end(),
                             [type](const JournalRecord& r) { return r.type == type; }));
}

// A settings folder whose last session did not end, with its destination and source.
struct Scene {
    QTemporaryDir dir;
    fs::path root = pathOf(dir);
    SettingsFiles files{root / "program", root / "settings"};
    fs::path source = root / "source";
    fs::path destination = root / "destination";
    test::OwnHome home{root / "home"};

    // The settings file first: its time is when the session began.
    void startSession(const char* runFlag, const std::string& counter) {
        fs::create_directories(files.settingsFolder);
        fs::create_directories(source);
        fs::create_directories(destination);
        writeFile(files.settingsFile(),
                  "\"" + source.native() + "\",\"" + destination.native() + "\",\"\"," + runFlag + ",0\r\n");
        if (counter != kAbsent)
            writeFile(files.counterFile(), counter);
    }

    // A move run's journal that recorded giving `numbers`, and nothing after.
    fs::path moveJournal(int firstNumber, const QList<int>& numbers, std::int64_t time = 0) {
        RunStart start{RunKind::Move, time, firstNumber, source, destination, ""};
        Result<RunJournal> journal = RunJournal::create(files.history(), start);
        if (!journal)
            return {};
        for (int number : numbers) {
            JournalRecord move(RecordType::Move);
            move.number = number;
            move.from = source / "p.jpg";
            move.to = destination / serialFileName(number, "p.jpg");
            (void)journal.value().append(move);
        }
        (void)journal.value().close();
        return journal.value().file();
    }

    Module1 start(StartupResult& result) {
        Module1 vars;
        result = runStartup(vars, files);
        return vars;
    }
};

// Half of the last record is on the disk, as a cut within its write leaves it.
void cutLastRecord(const fs::path& journal) {
    const std::string bytes = readFile(journal);
    const std::size_t lastLine = bytes.rfind('\n', bytes.size() - 2) + 1;
    fs::resize_file(journal, lastLine + (bytes.size() - lastLine) / 2);
}

} // namespace

class TestUncleanEnd : public QObject {
    Q_OBJECT

private slots:
    // The number a start after an unclean end goes on with, from the counter, the journal of the
    // session's last move run and the names its destination holds.
    void serialNumberAfterUncleanEnd_data() {
        QTest::addColumn<QByteArray>("runFlag");
        QTest::addColumn<QByteArray>("counter");
        QTest::addColumn<QString>("journal"); // "", "session", "cut" (last record half written), "earlier"
        QTest::addColumn<int>("firstNumber");
        QTest::addColumn<QList<int>>("journaled");
        QTest::addColumn<QList<int>>("inDestination");
        QTest::addColumn<StartupOutcome>("outcome");
        QTest::addColumn<int>("serialNo");
        QTest::addColumn<bool>("restored");
        const auto Completed = StartupOutcome::Completed;

        QTest::newRow("counter behind by one")
            << QByteArray("1") << QByteArray("41\r\n") << "session" << 40 << numbersFrom(40, 3)
            << numbersFrom(40, 3) << Completed << 43 << false;
        QTest::newRow("counter behind by thousands")
            << QByteArray("1") << QByteArray("100\r\n") << "session" << 100 << numbersFrom(100, 3000)
            << numbersFrom(100, 3000) << Completed << 3100 << false;
        QTest::newRow("journal cut in the middle of a record")
            << QByteArray("1") << QByteArray("5\r\n") << "cut" << 0 << numbersFrom(0, 10)
            << numbersFrom(0, 10) << Completed << 10 << false;
        QTest::newRow("destination names beyond the journal")
            << QByteArray("1") << QByteArray("20\r\n") << "session" << 0 << numbersFrom(0, 21)
            << numbersFrom(0, 26) << Completed << 26 << false;
        QTest::newRow("only the start recorded, names in the destination")
            << QByteArray("1") << QByteArray("7\r\n") << "session" << 7 << QList<int>{} << numbersFrom(7, 100)
            << Completed << 107 << false;
        QTest::newRow("counter ahead of the journal")
            << QByteArray("1") << QByteArray("60\r\n") << "session" << 0 << numbersFrom(0, 50)
            << numbersFrom(0, 50) << Completed << 61 << false;
        // By size 999999 would be ahead of 3; along the round from 999990 it is behind.
        QTest::newRow("wrap past 999999, counter lagging before it")
            << QByteArray("1") << QByteArray("999998\r\n") << "session" << 999990 << numbersFrom(999990, 13)
            << numbersFrom(999990, 15) << Completed << 5 << false;
        QTest::newRow("wrap past 999999, its pictures moved on since")
            << QByteArray("1") << QByteArray("999998\r\n") << "session" << 999990 << numbersFrom(999990, 13)
            << QList<int>{} << Completed << 3 << false;
        QTest::newRow("wrap past 999999 within the destination")
            << QByteArray("1") << QByteArray("999999\r\n") << "session" << 999995 << numbersFrom(999995, 5)
            << numbersFrom(999995, 8) << Completed << 3 << false;
        QTest::newRow("unclean end with no journal at all")
            << QByteArray("1") << QByteArray("41\r\n") << "" << 0 << QList<int>{} << numbersFrom(41, 5)
            << Completed << 42 << false;
        QTest::newRow("journal of an earlier session")
            << QByteArray("1") << QByteArray("41\r\n") << "earlier" << 0 << numbersFrom(0, 100)
            << numbersFrom(0, 100) << Completed << 42 << false;
        QTest::newRow("clean end: the counter as it reads")
            << QByteArray("0") << QByteArray("5\r\n") << "session" << 0 << numbersFrom(0, 10)
            << numbersFrom(0, 10) << Completed << 5 << false;
        QTest::newRow("counter empty, restored from the journal and the destination")
            << QByteArray("1") << QByteArray("") << "session" << 0 << numbersFrom(0, 10) << numbersFrom(0, 12)
            << Completed << 12 << true;
        QTest::newRow("counter empty, restored from an earlier session's journal")
            << QByteArray("1") << QByteArray("") << "earlier" << 300 << numbersFrom(300, 5)
            << numbersFrom(300, 5) << Completed << 305 << true;
        QTest::newRow("counter empty, no journal: deleted with the settings")
            << QByteArray("1") << QByteArray("") << "" << 0 << QList<int>{} << numbersFrom(0, 3)
            << StartupOutcome::EndProgram << 0 << false;
    }

    void serialNumberAfterUncleanEnd() {
        QFETCH(QByteArray, runFlag);
        QFETCH(QByteArray, counter);
        QFETCH(QString, journal);
        QFETCH(int, firstNumber);
        QFETCH(QList<int>, journaled);
        QFETCH(QList<int>, inDestination);
        QFETCH(StartupOutcome, outcome);
        QFETCH(int, serialNo);
        QFETCH(bool, restored);

        Scene scene;
        scene.startSession(runFlag.constData(), counter.toStdString());
        const std::int64_t hourAgo = std::time(nullptr) - 3600;
        if (!journal.isEmpty()) {
            const fs::path file =
                scene.moveJournal(firstNumber, journaled, journal == "earlier" ? hourAgo : 0);
            QVERIFY(!file.empty());
            if (journal == "cut")
                cutLastRecord(file);
            if (journal == "earlier")
                setAge(file, 3600);
        }
        for (int number : inDestination)
            writeFile(scene.destination / serialFileName(number, "p.jpg"));

        StartupResult result;
        const Module1 vars = scene.start(result);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.uncleanEnd.failures.size(), std::size_t(0));
        QCOMPARE(result.uncleanEnd.restoredCounter.has_value(), restored);
        if (outcome != StartupOutcome::Completed)
            return;
        QCOMPARE(vars.SerialNo, serialNo);
        QCOMPARE(describeUncleanEnd(result.uncleanEnd).empty(), !restored);
        // A number above the counter plus one is on the disk before anything else can happen.
        const bool aboveRule = runFlag == "1" && (restored || serialNo != (counter.toInt() + 1) % 1000000);
        if (aboveRule)
            QCOMPARE(readFile(scene.files.counterFile()), std::to_string(serialNo) + "\r\n");
    }

    // Info files of the home trash as a cut leaves them, and what the start does with each.
    void trashInfoAfterUncleanEnd_data() {
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<bool>("itemInTrash");
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<bool>("older");    // written before the session began
        QTest::addColumn<QString>("after"); // "rewritten", "unchanged", "gone"
        QTest::addColumn<bool>("named");
        QTest::addColumn<bool>("forged");   // the record names a trash that is not this user's
        QTest::addColumn<bool>("infoLink"); // the trash's info folder is a link to a folder elsewhere

        const QByteArray whole = "[Trash Info]\nPath=/elsewhere/x.txt\nDeletionDate=2024-05-01T10:00:00\n";
        QTest::newRow("empty, recorded")
            << QByteArray() << true << true << false << "rewritten" << false << false << false;
        QTest::newRow("cut within the path, recorded")
            << QByteArray("[Trash Info]\nPath=/elsewhere/x.t") << true << true << false << "rewritten"
            << false << false << false;
        QTest::newRow("cut within the date, recorded") << whole.left(whole.size() - 6) << true << true
                                                       << false << "rewritten" << false << false << false;
        QTest::newRow("NUL bytes, recorded")
            << QByteArray(60, '\0') << true << true << false << "rewritten" << false << false << false;
        QTest::newRow("whole, recorded")
            << whole << true << true << false << "unchanged" << false << false << false;
        QTest::newRow("empty, the item never arrived")
            << QByteArray() << false << true << false << "gone" << false << false << false;
        // A kill or a cut while the item waited in its folder for its info file to reach the disk.
        QTest::newRow("whole, recorded, the item never went in")
            << whole << false << true << false << "gone" << false << false << false;
        QTest::newRow("empty, not recorded")
            << QByteArray() << true << false << false << "unchanged" << true << false << false;
        QTest::newRow("empty, not recorded, item not there")
            << QByteArray() << false << false << false << "unchanged" << false << false << false;
        QTest::newRow("empty, not recorded, from before the session")
            << QByteArray() << true << false << true << "unchanged" << false << false << false;
        // A file outside any trash of this user's, named as an info file: never deleted nor written.
        QTest::newRow("forged, a file outside the trashes, no item")
            << QByteArray("precious") << false << true << false << "unchanged" << false << true << false;
        QTest::newRow("forged, a file outside the trashes, an item beside it")
            << QByteArray("precious") << true << true << false << "unchanged" << false << true << false;
        // Never followed: the file it leads to is neither written nor removed, and the start says
        // that the trash could not be repaired.
        QTest::newRow("empty, recorded, the info folder a link elsewhere")
            << QByteArray() << true << true << false << "unchanged" << false << false << true;
        QTest::newRow("whole, recorded, the item never went in, the info folder a link elsewhere")
            << whole << false << true << false << "unchanged" << false << false << true;
    }

    void trashInfoAfterUncleanEnd() {
        QFETCH(QByteArray, info);
        QFETCH(bool, itemInTrash);
        QFETCH(bool, recorded);
        QFETCH(bool, older);
        QFETCH(QString, after);
        QFETCH(bool, named);
        QFETCH(bool, forged);
        QFETCH(bool, infoLink);

        Scene scene;
        scene.startSession("1", "3\r\n");
        const fs::path trash = forged ? scene.root / "elsewhere" : scene.home.trash();
        const fs::path original = scene.source / "a" / "notes.txt";
        fs::create_directories(original.parent_path());
        const TrashPlace place{original, trash / "files" / "notes.txt",
                               trash / "info" / "notes.txt.trashinfo"};
        if (infoLink) {
            fs::create_directories(scene.root / "victim");
            fs::create_directories(trash);
            fs::create_directory_symlink(scene.root / "victim", trash / "info");
        }
        fs::create_directories(place.infoFile.parent_path());
        fs::create_directories(place.trashedFile.parent_path());
        writeFile(place.infoFile, info.toStdString());
        if (itemInTrash)
            writeFile(place.trashedFile, "not a picture");
        if (older)
            setAge(place.infoFile, 3600);
        Result<RunJournal> journal = RunJournal::create(
            scene.files.history(), {RunKind::Move, 0, 3, scene.source, scene.destination, ""});
        QVERIFY(journal.ok());
        if (recorded) {
            JournalRecord trashed(RecordType::Trash);
            trashed.from = original;
            trashed.to = place.trashedFile;
            trashed.info = place.infoFile;
            QVERIFY(journal.value().append(trashed).ok());
        }
        QVERIFY(journal.value().close().ok());

        StartupResult result;
        scene.start(result);
        QCOMPARE(result.outcome, StartupOutcome::Completed);
        QCOMPARE(result.uncleanEnd.failures.size(), std::size_t(forged || infoLink ? 1 : 0));
        // An item that never went in is no longer counted as trashed, nor undone.
        QCOMPARE(recordsOf(journal.value().file(), RecordType::NotDone),
                 recorded && !itemInTrash && !forged && !infoLink ? 1 : 0);
        QCOMPARE(result.uncleanEnd.itemsWithoutInfo.size(), std::size_t(named ? 1 : 0));
        if (named)
            QCOMPARE(result.uncleanEnd.itemsWithoutInfo.front(), place.trashedFile);
        if (after == "gone") {
            QVERIFY(!fs::exists(place.infoFile));
            return;
        }
        const std::string text = readFile(place.infoFile);
        if (after == "unchanged") {
            QCOMPARE(QByteArray::fromStdString(text), info);
            return;
        }
        // What the file manager reads: where the item came from, and a whole date.
        const Result<TrashInfo> read = readTrashInfo(place.infoFile);
        QVERIFY(read.ok());
        QCOMPARE(read.value().place.original, fs::canonical(original.parent_path()) / "notes.txt");
        QCOMPARE(read.value().deletionDate.size(), std::size_t(19));
        QCOMPARE(result.uncleanEnd.infoFilesRewritten, 1);
    }

    // Copies across file systems left half done by a cut, as the hidden files of the destination
    // show them; the start finishes or undoes each before anything else, also when it has to
    // restore the counter, and records what it names for good so that undo puts it back.
    void interruptedCopiesAfterUncleanEnd_data() {
        QTest::addColumn<QString>("copy");    // "linked", "renamed" (no hard links), "unlinked"
        QTest::addColumn<QString>("journal"); // "lost" (its record), "recorded", "ended"
        QTest::addColumn<bool>("finished");   // the source goes, the copy keeps its name
        QTest::addColumn<int>("serialNo");

        QTest::newRow("linked, its record lost") << "linked"
                                                 << "lost" << true << 7;
        QTest::newRow("renamed into place, its record lost") << "renamed"
                                                             << "lost" << true << 7;
        QTest::newRow("linked and recorded") << "linked"
                                             << "recorded" << true << 7;
        QTest::newRow("linked, the run ended") << "linked"
                                               << "ended" << true << 7;
        QTest::newRow("copy never named") << "unlinked"
                                          << "lost" << false << 6;
    }

    void interruptedCopiesAfterUncleanEnd() {
        QFETCH(QString, copy);
        QFETCH(QString, journal);
        QFETCH(bool, finished);
        QFETCH(int, serialNo);

        Scene scene;
        scene.startSession("1", ""); // the counter came back empty too
        const fs::path first = scene.destination / serialFileName(5, "a.jpg");
        const fs::path source = scene.source / "child" / "b.jpg";
        const fs::path final = scene.destination / serialFileName(6, "b.jpg");
        writeFile(first, "picture a");
        writeFile(source, "picture b");
        // This process's own temporary names count as left behind by a process that is gone.
        const fs::path stem = scene.destination / (".corvalin-" + std::to_string(::getpid()) + "-1");
        const fs::path part = stem.native() + ".part";
        const std::string record =
            copy == "renamed" ? source.native() + '\0' + final.native() : source.native();
        writeFile(stem.native() + ".from", record);
        writeFile(copy == "renamed" ? final : part, "picture b");
        if (copy == "linked")
            fs::create_hard_link(part, final);

        Result<RunJournal> run = RunJournal::create(
            scene.files.history(), {RunKind::Move, 0, 5, scene.source, scene.destination, ""});
        QVERIFY(run.ok());
        const auto append = [&run](int number, const fs::path& from, const fs::path& to) {
            JournalRecord moved(RecordType::Move);
            moved.number = number;
            moved.from = from;
            moved.to = to;
            moved.identity = identityOf(to).value();
            return run.value().append(moved).ok();
        };
        QVERIFY(append(5, scene.source / "child" / "a.jpg", first));
        if (journal == "recorded")
            QVERIFY(append(6, source, final));
        const fs::path runFile = run.value().file();
        QVERIFY(journal == "ended" ? run.value().finish(kOutcomeCompleted).ok() : run.value().close().ok());

        StartupResult result;
        const Module1 vars = scene.start(result);
        QCOMPARE(result.outcome, StartupOutcome::Completed);
        QCOMPARE(result.uncleanEnd.failures.size(), std::size_t(0));
        QCOMPARE(vars.SerialNo, serialNo);
        QVERIFY(!fs::exists(part) && !fs::exists(stem.native() + ".from"));
        QCOMPARE(fs::exists(source), !finished);
        QCOMPARE(fs::exists(final), finished);
        QCOMPARE(result.uncleanEnd.movesFinished, finished ? 1 : 0);

        // Every picture a journal records comes back, the one the recovery named with the rest.
        const Result<std::vector<RunSummary>> runs = listRuns(scene.files.history());
        QVERIFY(runs.ok());
        QCOMPARE(runs.value().size(), std::size_t(journal == "ended" && finished ? 2 : 1));
        QCOMPARE(recordsOf(runFile, RecordType::Move),
                 journal == "lost" && finished ? 2 : 1 + (journal == "recorded"));
        NoUndoObserver observer;
        for (const RunSummary& summary : runs.value())
            QVERIFY(!undoRun(summary.file, observer).error);
        QCOMPARE(readFile(source), std::string("picture b"));
        QCOMPARE(readFile(scene.source / "child" / "a.jpg"), std::string("picture a"));
    }

    // The history is tidied only by a start that could read the settings, after it has taken up
    // the run that did not end; that run's journal stays whatever it holds.
    void historyWaitsForTheStartThatTakesUpTheRun() {
        Scene scene;
        scene.startSession("1", "3\r\n");
        const fs::path interrupted = scene.moveJournal(3, {});
        Result<RunJournal> idle = RunJournal::create(
            scene.files.history(), {RunKind::Move, 0, 3, scene.source, scene.destination, ""});
        QVERIFY(idle.ok());
        const fs::path ended = idle.value().file();
        JournalRecord end(RecordType::End);
        end.text = kOutcomeCompleted;
        QVERIFY(idle.value().append(end).ok());
        QVERIFY(idle.value().close().ok());
        const std::string settings = readFile(scene.files.settingsFile());
        writeFile(scene.files.settingsFile(), "\"" + scene.source.native() + "\",\"\",\"\",no,1\r\n");

        StartupResult result;
        scene.start(result);
        QCOMPARE(result.outcome, StartupOutcome::Stopped);
        QVERIFY(fs::exists(interrupted));
        QVERIFY(fs::exists(ended));

        writeFile(scene.files.settingsFile(), settings);
        scene.start(result);
        QCOMPARE(result.outcome, StartupOutcome::Completed);
        QVERIFY(fs::exists(interrupted));
        QVERIFY(!fs::exists(ended));
        const auto runs = listRuns(scene.files.history());
        QCOMPARE(runs.value().size(), std::size_t(1));
        QCOMPARE(runs.value()[0].state, RunState::Interrupted);
    }
    // The start after a cut trims the half-written record a cut left, so that undo reads the run
    // as whole; a record damaged in the middle is no cut and stays for undo to name.
    void cutTailTrimmedAtTheStart_data() {
        QTest::addColumn<QByteArray>("runFlag");
        QTest::addColumn<QString>("damage"); // "cut" (last record half written) or "middle"
        QTest::addColumn<bool>("trimmed");
        QTest::newRow("cut after an unclean end") << QByteArray("1") << "cut" << true;
        QTest::newRow("damaged in the middle") << QByteArray("1") << "middle" << false;
        QTest::newRow("cut, but the session ended cleanly") << QByteArray("0") << "cut" << false;
    }
    void cutTailTrimmedAtTheStart() {
        QFETCH(QByteArray, runFlag);
        QFETCH(QString, damage);
        QFETCH(bool, trimmed);
        Scene scene;
        scene.startSession(runFlag.constData(), "3\r\n");
        const fs::path journal = scene.moveJournal(0, numbersFrom(0, 3));
        QVERIFY(!journal.empty());
        if (damage == "cut") {
            cutLastRecord(journal);
        } else {
            std::string bytes = readFile(journal);
            bytes.insert(bytes.find('\n', bytes.find('\n') + 1) + 1, "garbage\n");
            writeFile(journal, bytes);
        }
        const std::string before = readFile(journal);
        StartupResult result;
        scene.start(result);
        QCOMPARE(result.outcome, StartupOutcome::Completed);
        QCOMPARE(result.uncleanEnd.failures.size(), std::size_t(0));
        QCOMPARE(readFile(journal) != before, trimmed);
        const Result<JournalContents> contents = readJournal(journal);
        QVERIFY(contents.ok());
        if (trimmed) {
            QVERIFY(!lastLineRead(contents.value()).has_value());
            QCOMPARE(recordsOf(journal, RecordType::Move), 2);
        }
    }
};

QTEST_APPLESS_MAIN(TestUncleanEnd)
#include "test_unclean_end.moc"
