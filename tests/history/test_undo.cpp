// Undo of real runs on disk: after a complete, a cancelled or a failed move run (also across file
// systems) every picture is back under its original name and path with its bytes; what changed
// since the run is left where it is, with the reason; undoing again goes on where a cut-off undo
// stopped and never moves a file twice; the strip runs and the maker are undone too.
#include "history/run_history.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "move_fixture.h"
#include "options/folder_action.h"
#include "own_trash.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "quiet_observers.h"
#include "scripted_message_box.h"
#include "strip/strip_runs.h"

#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

const Names kPictures = {"a/cat.jpg",      "a/000007 dog.JPG", "a/deep/z.jpeg",
                         "b/\x82\xA0.bmp", "b/q.jpg",          "c/p.jpg"};
const Names kOthers = {"a/notes.txt", "c/\x83\x81\x83\x82.txt"};

enum class Ending { Complete, CancelAfterFirstFolder, FailInSecondFolder };

class CountingUndoObserver : public UndoObserver {
public:
    int cancelAfter = -1; // items
    void yield() override {}
    bool cancelRequested() override { return cancelAfter >= 0 && m_items >= cancelAfter; }
    bool stopRequested() override { return false; }
    void itemStarted(const fs::path&) override { ++m_items; }

private:
    int m_items = 0;
};

// Files at any depth, and the leftovers of a copy cut off (hidden names) at the top.
int filesBelow(const fs::path& folder) {
    const Names names = namesIn(folder);
    return int(census(folder).size()) +
           int(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }));
}

} // namespace

class TestUndo : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<OwnHome> m_home; // what the runs trash stays in the test's folder
    std::unique_ptr<QTemporaryDir> m_other;
    fs::path m_destination;
    bool m_skipDuplicates = false;

    fs::path root() const { return m_dir.path().toStdString(); }
    fs::path m_source;
    fs::path source() const { return m_source; }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }

    void makeTree() {
        for (const std::string& picture : kPictures)
            QVERIFY(writeContent(source() / picture, pictureContent(picture)));
        for (const std::string& other : kOthers)
            QVERIFY(writeContent(source() / other, "other"));
    }

    // A move run with its journal, as the window runs it; answers the journal.
    fs::path runMove(bool deleteFolders, Ending ending = Ending::Complete, bool permanent = false) {
        RunStart start;
        start.source = source();
        start.destination = m_destination;
        auto journal = RunJournal::create(files().history(), start);
        ScriptedObserver observer;
        observer.dest = m_destination;
        observer.onYield = [&] {
            const std::size_t started = observer.foldersStarted.size();
            if (ending == Ending::CancelAfterFirstFolder && started == 1)
                observer.cancel = true;
            if (ending == Ending::FailInSecondFolder && started == 2)
                observer.dest = root() / "gone"; // the next picture finds no destination
        };
        Module1 vars;
        vars.SerialNo = 40;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files(), observer, Removal(permanent));
        run.setJournal(&journal.value());
        run.setSkipDuplicates(m_skipDuplicates);
        const MoveRunResult result = run.run(source(), deleteFolders, folderList);
        const fs::path file = journal.value().file();
        const char* const outcomes[] = {kOutcomeCompleted, kOutcomeCancelled, kOutcomeFailed};
        (void)journal.value().finish(outcomes[int(result.outcome)]);
        return file;
    }

    UndoOutcome undo(const fs::path& journal, int cancelAfter = -1) {
        CountingUndoObserver observer;
        observer.cancelAfter = cancelAfter;
        return undoRun(journal, observer);
    }

    // Every picture at its own place with its own bytes, save the one named; nothing in the
    // destination but what stays.
    void verifyPicturesBack(const std::string& except = {}, int staying = 0) {
        for (const std::string& picture : kPictures) {
            if (picture != except)
                QCOMPARE(contentOf(source() / picture), pictureContent(picture));
        }
        QCOMPARE(filesBelow(m_destination), staying);
    }

private slots:
    // Qt's own removal skips names that are not UTF-8.
    void cleanupTestCase() {
        m_home.reset();
        fs::remove_all(root());
    }

    void cleanup() {
        if (!m_other)
            return;
        clearTrashedFrom(sharedMemoryTrash(), m_other->path().toStdString());
        fs::remove_all(m_other->path().toStdString());
    }

    void init() {
        m_home.reset();
        fs::remove_all(root());
        m_home = std::make_unique<OwnHome>(root() / "home");
        fs::create_directories(root() / "prog");
        m_other.reset();
        m_source = root() / "src";
        m_destination = root() / "dst";
        m_skipDuplicates = false;
        fs::create_directories(m_destination);
        makeTree();
    }

    void undoAfterRun_data() {
        QTest::addColumn<bool>("deleteFolders");
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<QString>("elsewhere"); // on another file system than the rest
        QTest::addColumn<bool>("permanent");
        // A copy of b/q.jpg waits in the destination and c holds a copy of a/cat.jpg: both are
        // left out as duplicates.
        QTest::addColumn<bool>("duplicates");
        QTest::newRow("complete") << false << Ending::Complete << "" << false << false;
        QTest::newRow("complete, child folders deleted") << true << Ending::Complete << "" << false << false;
        QTest::newRow("cancelled") << true << Ending::CancelAfterFirstFolder << "" << false << false;
        QTest::newRow("failed") << true << Ending::FailInSecondFolder << "" << false << false;
        QTest::newRow("destination elsewhere") << true << Ending::Complete << "destination" << false << false;
        QTest::newRow("source elsewhere, its own trash")
            << true << Ending::Complete << "source" << false << false;
        QTest::newRow("deleted for good") << true << Ending::Complete << "" << true << false;
        QTest::newRow("duplicates trashed") << true << Ending::Complete << "" << false << true;
        QTest::newRow("duplicates trashed, destination elsewhere")
            << true << Ending::Complete << "destination" << false << true;
        QTest::newRow("duplicates deleted for good") << true << Ending::Complete << "" << true << true;
    }
    // What went to the Trash comes back and the Trash holds none of it any more; what the run
    // deleted for good is told, and its child folders are made again for the pictures.
    void undoAfterRun() {
        QFETCH(bool, deleteFolders);
        QFETCH(Ending, ending);
        QFETCH(QString, elsewhere);
        QFETCH(bool, permanent);
        QFETCH(bool, duplicates);
        if (!elsewhere.isEmpty()) {
            m_other = otherFileSystemDir();
            if (!m_other)
                QSKIP("/dev/shm is not another file system here");
            (elsewhere == "source" ? m_source : m_destination) = m_other->path().toStdString();
            if (elsewhere == "source")
                makeTree();
        }
        const int held = duplicates ? 1 : 0;
        const fs::path copyOfCat = source() / "c" / "cat again.jpg";
        if (duplicates) {
            QVERIFY(writeContent(m_destination / "held.jpg", pictureContent("b/q.jpg")));
            QVERIFY(writeContent(copyOfCat, pictureContent("a/cat.jpg")));
            m_skipDuplicates = true;
        }
        const fs::path journal = runMove(deleteFolders, ending, permanent);
        const int moved = int(namesIn(m_destination).size()) - held;
        const int duplicatesGone = duplicates ? 2 : 0;
        QVERIFY(moved > 0);
        QCOMPARE(moved == int(kPictures.size()) - held, ending == Ending::Complete);
        const int foldersGone = 3 - int(namesIn(source()).size());
        int othersGone = 0;
        for (const std::string& other : kOthers)
            othersGone += fs::exists(source() / other) ? 0 : 1;

        const UndoOutcome outcome = undo(journal);
        QVERIFY2(!outcome.error, outcome.error ? outcome.error->reason().c_str() : "");
        verifyPicturesBack(permanent && duplicates ? "b/q.jpg" : "", held);
        QCOMPARE(outcome.cameBack, moved + foldersGone + (permanent ? 0 : othersGone + duplicatesGone));
        QCOMPARE(int(outcome.left.size()), permanent ? othersGone + duplicatesGone : 0);
        for (const UndoLeftItem& item : outcome.left) {
            // A duplicate deleted for good is named with the picture that holds its bytes.
            const bool duplicate = item.path == copyOfCat || item.path == source() / "b/q.jpg";
            QCOMPARE(item.reason, duplicate ? UndoLeftReason::DuplicateGone : UndoLeftReason::DeletedForGood);
            QCOMPARE(item.twin.empty(), !duplicate);
        }
        if (duplicates)
            QCOMPARE(contentOf(copyOfCat), permanent ? std::string() : pictureContent("a/cat.jpg"));
        for (const std::string& other : kOthers)
            QCOMPARE(fs::exists(source() / other), !permanent);
        QVERIFY(trashedItems(m_home->trash()).empty());
        for (const auto& [original, info] : trashedItems(sharedMemoryTrash()))
            QVERIFY2(!isSameOrBelow(original, source()), original.c_str());
        QCOMPARE(listRuns(files().history()).value().front().state, RunState::Undone);
    }

    void changedSinceRunIsLeft_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("picture"); // the one that stays
        QTest::addColumn<UndoLeftReason>("reason");
        QTest::newRow("renamed") << "rename"
                                 << "a/cat.jpg" << UndoLeftReason::Changed;
        QTest::newRow("edited") << "append"
                                << "a/000007 dog.JPG" << UndoLeftReason::Changed;
        QTest::newRow("deleted") << "delete"
                                 << "a/deep/z.jpeg" << UndoLeftReason::Changed;
        QTest::newRow("replaced") << "replace"
                                  << "b/q.jpg" << UndoLeftReason::Changed;
        QTest::newRow("original name taken") << "take"
                                             << "c/p.jpg" << UndoLeftReason::NameTaken;
        QTest::newRow("folder name used again") << "reuse"
                                                << "b/q.jpg" << UndoLeftReason::NameTaken;
    }
    void changedSinceRunIsLeft() {
        QFETCH(QString, change);
        QFETCH(QString, picture);
        QFETCH(UndoLeftReason, reason);
        const fs::path journal = runMove(true);
        const fs::path moved = census(m_destination).find(pictureContent(picture.toStdString()))->second;
        const fs::path original = source() / picture.toStdString();
        if (change == "rename")
            fs::rename(moved, m_destination / "renamed.jpg");
        else if (change == "append")
            QVERIFY(writeContent(moved, contentOf(moved) + "edited"));
        else if (change == "delete")
            fs::remove(moved);
        else if (change == "replace")
            QVERIFY(fs::remove(moved) && writeContent(moved, pictureContent(picture.toStdString())));
        else // the original name taken, or its folder made again by a later download
            QVERIFY(writeContent(original, "a new download"));

        const UndoOutcome outcome = undo(journal);
        QVERIFY(!outcome.error);
        const auto changed = std::find_if(outcome.left.begin(), outcome.left.end(),
                                          [&](const UndoLeftItem& item) { return item.path == moved; });
        QVERIFY(changed != outcome.left.end());
        QCOMPARE(changed->reason, reason);
        // A folder made again by a later download stays, and its namesake stays in the Trash.
        QCOMPARE(outcome.left.size(), std::size_t(reason == UndoLeftReason::NameTaken ? 2 : 1));
        verifyPicturesBack(picture.toStdString(), change == "delete" ? 0 : 1);
        if (reason == UndoLeftReason::NameTaken)
            QCOMPARE(contentOf(original), std::string("a new download"));
    }

    // A run that failed at a picture recorded a name it had only planned. A name the destination
    // cannot hold is looked up with an error other than ENOENT (EILSEQ on exFAT; ENAMETOOLONG here,
    // on any disk): nothing has that name, so the picture counts as never moved, and undo finishes.
    void plannedNameTheDiskCannotHold() {
        const std::string planned = "000040 " + std::string(300, 'x') + ".jpg";
        const fs::path picture = source() / "a/cat.jpg";
        RunStart start;
        start.source = source();
        start.destination = m_destination;
        auto journal = RunJournal::create(files().history(), start);
        QVERIFY(journal);
        const FileIdentity identity = identityOf(picture).value();
        QVERIFY(journal.value().recordMove(40, picture, m_destination / planned, identity));
        QVERIFY(journal.value().finish(kOutcomeFailed));

        const UndoOutcome outcome = undo(journal.value().file());
        QVERIFY2(!outcome.error, outcome.error ? outcome.error->reason().c_str() : "");
        QVERIFY2(outcome.left.empty(), outcome.left.empty() ? "" : outcome.left.front().path.c_str());
        QCOMPARE(outcome.cameBack + outcome.alreadyBack, 0);
        QCOMPARE(contentOf(picture), pictureContent("a/cat.jpg"));
    }

    // An undo cut off goes on where it stopped; one more finds everything back and moves nothing.
    void undoneAgainMovesNothingTwice() {
        const fs::path journal = runMove(false);
        const UndoOutcome first = undo(journal, 2);
        QVERIFY(first.stopped);
        QCOMPARE(listRuns(files().history()).value().front().state, RunState::UndoInterrupted);
        const UndoOutcome second = undo(journal);
        const int total = int(kPictures.size() + kOthers.size());
        QCOMPARE(first.cameBack + second.cameBack, total);
        QCOMPARE(second.alreadyBack, first.cameBack);
        verifyPicturesBack();
        const UndoOutcome third = undo(journal);
        QCOMPARE(third.cameBack, 0);
        QCOMPARE(third.alreadyBack, total);
        verifyPicturesBack();
    }

    // The strip runs rename back (the subfolder goes once empty); the maker removes what it made
    // while it is still empty.
    void otherRunsUndone_data() {
        QTest::addColumn<RunKind>("kind");
        QTest::newRow("strip in folder") << RunKind::Strip;
        QTest::newRow("strip into subfolder") << RunKind::StripIntoSubfolder;
        QTest::newRow("maker") << RunKind::MakeFolders;
    }
    void otherRunsUndone() {
        QFETCH(RunKind, kind);
        const fs::path folder = source() / "a";
        const Names before = namesIn(folder);
        RunStart start;
        start.kind = kind;
        start.source = folder;
        auto journal = RunJournal::create(files().history(), start);
        ScriptedMessageBox messages;
        QuietStrip observer;
        if (kind == RunKind::Strip) {
            QCOMPARE(stripInFolder(folder, listFiles(folder).value(), observer, &journal.value()).stripped,
                     1);
        } else if (kind == RunKind::StripIntoSubfolder) {
            const auto subfolder = createStripSubfolder(folder, &journal.value());
            stripIntoSubfolder(*subfolder.value(), listFiles(folder).value(), observer, &journal.value());
        } else {
            (void)journal.value().finish(kOutcomeCompleted);
            runFolderAction({FolderChoice::Create, folder, "3", files().history()}, messages, {});
            QVERIFY(writeContent(folder / "a_2" / "download.jpg", "kept"));
        }
        const fs::path file = kind == RunKind::MakeFolders ? listRuns(files().history()).value().front().file
                                                           : journal.value().file();
        if (kind != RunKind::MakeFolders)
            (void)journal.value().finish(kOutcomeCompleted);

        const UndoOutcome outcome = undo(file);
        QVERIFY(!outcome.error);
        Names expected = before;
        if (kind == RunKind::MakeFolders) {
            expected.push_back("a_2");
            std::sort(expected.begin(), expected.end());
            QCOMPARE(outcome.left.size(), std::size_t(1));
            QCOMPARE(outcome.left.front().reason, UndoLeftReason::NotEmpty);
        }
        QCOMPARE(namesIn(folder), expected);
        QCOMPARE(contentOf(folder / "000007 dog.JPG"), pictureContent("a/000007 dog.JPG"));
    }
};

QTEST_APPLESS_MAIN(TestUndo)
#include "test_undo.moc"
