// The move run's journal against what the disk holds afterwards: what went to the Trash waited for
// the journal and went in before the run ended, however it ended, and the history, the run's own
// count and undo speak only of what arrived.
#include "child_process.h"
#include "disk_helpers.h"
#include "history/run_history.h"
#include "history/undo.h"
#include "move_fixture.h"
#include "naming/serial_name.h"
#include "own_trash.h"

#include <QtTest>

#include <sys/mount.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

class QuietUndo : public UndoObserver {
public:
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

MoveRunResult failedWith(const Error& error) {
    MoveRunResult result;
    result.outcome = MoveOutcome::Failed;
    result.error = error;
    return result;
}

std::optional<RunSummary> onlyRun(const fs::path& history) {
    const auto runs = listRuns(history);
    if (!runs || runs.value().size() != 1)
        return std::nullopt;
    return runs.value().front();
}

} // namespace

class TestMoveJournal : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    Module1 m_vars;
    ScriptedObserver m_observer;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path history() const { return root() / "history"; }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }

    std::vector<std::string> makeTree(const Names& names) {
        std::vector<std::string> pictures;
        for (const std::string& name : names) {
            writeContent(src() / name, pictureContent(name));
            if (isPicture(name, PictureTypes{}))
                pictures.push_back(pictureContent(name));
        }
        return pictures;
    }

    // The run with its journal, ended as the window ends it.
    MoveRunResult runJournalled(bool deleteFolders, BatchSettings batches = {}) {
        auto journal =
            RunJournal::create(history(), moveRunStart(0, src(), m_observer.dest, deleteFolders, Removal()));
        if (!journal)
            return failedWith(journal.error());
        MoveRun run(m_vars, files(), m_observer);
        run.setJournal(&journal.value());
        run.setBatchSettings(batches);
        std::vector<fs::path> folders;
        const MoveRunResult result = run.run(src(), deleteFolders, folders);
        (void)journal.value().finish(journalOutcome(result.outcome));
        return result;
    }

    // 0 when the history, the run's own count and the destination agree on the pictures that
    // arrived and their numbers, and undo names nothing that never arrived.
    int countsAgree(const fs::path& destination) {
        const GatherCounts& counts = m_observer.tally.finish();
        const std::optional<RunSummary> run = onlyRun(history());
        Names numbered;
        for (const std::string& name : namesIn(destination))
            if (serialPrefixEnd(name))
                numbered.push_back(name);
        if (!run)
            return counts.pictures == 0 && numbered.empty() ? 0 : 10;
        if (run->picturesMoved != counts.pictures || std::size_t(counts.pictures) != numbered.size())
            return 11;
        if (run->firstSerialNo != counts.firstNumber || run->lastSerialNo != counts.lastNumber)
            return 12;
        QuietUndo observer;
        const UndoOutcome undone = undoRun(run->file, observer);
        return undone.left.empty() && !undone.error && undone.cameBack >= counts.pictures ? 0 : 13;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        fs::create_directories(root() / "prog");
        fs::create_directories(root() / "dst");
        m_home = std::make_unique<OwnHome>(root() / "home");
        m_vars = Module1{};
        m_observer = ScriptedObserver{};
        m_observer.dest = root() / "dst";
    }
    void cleanup() { m_home.reset(); }

    // Every item the journal says went to the Trash is there with a readable info file, no info
    // file is left without its item, and nothing the run handled still waits in its folder.
    void trashedBeforeEveryEnding_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("outcome");
        QTest::newRow("completed, child folders removed") << "" << int(MoveOutcome::Completed);
        QTest::newRow("cancelled") << "cancel" << int(MoveOutcome::Cancelled);
        QTest::newRow("window closed") << "close" << int(MoveOutcome::Cancelled);
        // Left as it is and named; the run goes on to its end.
        QTest::newRow("a later folder gone") << "vanish" << int(MoveOutcome::Completed);
        // Found at its move: it stays, and so does its folder.
        QTest::newRow("a waiting file replaced") << "replace" << int(MoveOutcome::Failed);
    }
    void trashedBeforeEveryEnding() {
        QFETCH(QString, ending);
        const auto pictures = makeTree({"a/1.jpg", "a/x.txt", "b/2.jpg", "b/y.txt", "c/3.jpg", "c/z.txt"});
        m_observer.onPreview = [&](const fs::path& file) {
            m_observer.cancel = m_observer.cancel || (ending == "cancel" && file.filename() == "2.jpg");
            m_observer.stop = m_observer.stop || (ending == "close" && file.filename() == "2.jpg");
        };
        bool tried = false, replaced = false;
        m_observer.onYield = [&] {
            if (ending == "vanish" && m_observer.surveyDone && fs::exists(src() / "c"))
                fs::rename(src() / "c", root() / "c-gone");
            // Once y.txt waits (its info file is written, it still stands in its folder), another
            // file takes its name.
            if (ending == "replace" && !tried && fs::exists(m_home->trash() / "info/y.txt.trashinfo")) {
                tried = true;
                replaced = fs::exists(src() / "b/y.txt");
                writeContent(root() / "new.txt", "someone else's");
                fs::rename(root() / "new.txt", src() / "b/y.txt");
            }
        };
        const MoveRunResult result = runJournalled(true);
        // y.txt was its folder's last file and a flush fell due at the folder's end: it went in.
        if (ending == "replace" && !replaced)
            QSKIP("the journal's flush came before the waiting file could be replaced");
        QTEST(int(result.outcome), "outcome");
        if (ending == "replace") {
            QCOMPARE(result.error->path, src() / "b/y.txt");
            QCOMPARE(contentOf(src() / "b/y.txt"), std::string("someone else's"));
        }
        const auto trashed = trashedItems(m_home->trash());
        QCOMPARE(namesIn(m_home->trash() / "info").size(), trashed.size());
        for (const auto& [original, info] : trashed)
            QVERIFY2(fs::exists(info.place.trashedFile), original.c_str());
        const auto contents = readJournal(onlyRun(history())->file);
        const auto notDone = linesNotDone(contents.value());
        for (std::size_t line = 1; line <= contents.value().records.size(); ++line) {
            const JournalRecord& record = contents.value().records[line - 1];
            if (record.type == RecordType::Trash)
                QVERIFY2(fs::exists(record.to) != notDone.contains(line), record.from.c_str());
        }
        // Every other file the run took up is gone from its folder, but the one replaced.
        for (const char* other : {"a/x.txt", "b/y.txt", "c/z.txt"}) {
            const fs::path file = src() / other;
            if (ending == "vanish" && file.parent_path() == src() / "c")
                continue;
            const bool handled = std::count(m_observer.previews.begin(), m_observer.previews.end(), file) > 0;
            QVERIFY2(fs::exists(file) == (!handled || (ending == "replace" && file.filename() == "y.txt")),
                     other);
        }
        if (ending == "replace")
            QVERIFY(fs::exists(src() / "b")); // no folder goes after a failure
        const std::optional<RunSummary> run = onlyRun(history());
        QCOMPARE(run->filesTrashed + run->foldersRemoved, int(trashed.size()));
        QCOMPARE(lostOrDoubled(pictures, {root()}), std::string());
    }

    // What failed to arrive is counted nowhere: not by the run, not by the history, and undo does
    // not speak of it.
    void historyCountsWhatArrived_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("a destination out of inodes") << "inodes";
        QTest::newRow("a picture that grows while it is copied") << "grows";
        QTest::newRow("across file systems, no source could be removed") << "undeletable";
    }
    void historyCountsWhatArrived() {
        QFETCH(QString, fault);
        const auto other = otherFileSystemDir();
        if (fault != "inodes" && !other)
            QSKIP("/dev/shm is not another file system here");
        if (fault != "inodes")
            m_observer.dest = other->path().toStdString();
        const auto pictures = makeTree({"a/1.jpg", "a/2.jpg", "a/3.jpg", "a/x.txt", "b/4.jpg"});
        std::vector<std::unique_ptr<UndeletableFile>> held;
        for (const char* name : {"a/1.jpg", "a/2.jpg", "a/3.jpg", "b/4.jpg"}) {
            if (fault == "undeletable" &&
                (held.push_back(std::make_unique<UndeletableFile>(src() / name)), held.back()->code != EPERM))
                QSKIP("cannot make a file undeletable in a writable folder here");
        }
        // 1.jpg grows once its copy is made, before its batch is named.
        bool copied = false;
        m_observer.onPreview = [&](const fs::path& file) {
            if (fault == "grows" && copied)
                writeContent(src() / "a/1.jpg", pictures[0] + " and more");
            copied = file == src() / "a/1.jpg";
        };
        // Each count of inodes stops the run at another step of a batch.
        for (int inodes = fault == "inodes" ? 3 : 0; inodes <= (fault == "inodes" ? 9 : 0); ++inodes) {
            const int agree = runInChild([&] {
                if (fault == "inodes" &&
                    !mountPrivateTmpfs(m_observer.dest, ("1m,nr_inodes=" + std::to_string(inodes)).c_str()))
                    return skipExit;
                runJournalled(true);
                return countsAgree(m_observer.dest);
            });
            if (agree == skipExit)
                QSKIP("cannot mount a small file system here");
            QVERIFY2(agree == 0, qPrintable(QString("inodes %1: %2").arg(inodes).arg(agree)));
            fs::remove_all(history());
        }
        held.clear();
        QCOMPARE(lostOrDoubled(pictures, {root(), m_observer.dest}).empty(), fault != "grows");
    }
};

QTEST_APPLESS_MAIN(TestMoveJournal)
#include "test_move_journal.moc"
