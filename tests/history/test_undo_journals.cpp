// Undo of journals that are not what a run wrote: records forged to name places where the run
// never acted, and journals cut short or damaged in the middle. Undo carries out only what lies
// where its run acted, names the rest, and undoes a journal as far as it reads; a victim folder
// outside the run stays byte for byte as it was and every picture exists exactly once.
#include "folder_swap.h"
#include "history/journal_codec.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "platform/file_identity.h"
#include "quiet_observers.h"

#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;

namespace {

enum class Forgery {
    None,
    OriginOutside,      // b's original path in a folder outside the source
    OriginThroughUp,    // ... reached from the source through ".."
    NewNameOutside,     // b's new path a file outside the destination, with its identity
    NewNameThroughUp,   // ... reached from the destination through ".."
    TrashOutside,       // a trashed file "in a trash" that is a folder of its own elsewhere
    TrashLinkedAway,    // the home trash is a link to a folder elsewhere
    SourceIsRoot,       // the run's source parent folder is "/"
    SourceIsHome,       // ... the home folder
    CutInLastRecord,    // the journal ends within c's record
    DamagedInTheMiddle, // b's record has a byte changed
    CutInAnUndo,        // an undo began after the end, and a kill cut its next record
};

JournalRecord moveRecord(const fs::path& from, const fs::path& to) {
    JournalRecord record(RecordType::Move);
    record.from = from;
    record.to = to;
    record.identity = identityOf(to).value();
    return record;
}

} // namespace

class TestUndoJournals : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<OwnHome> m_home;

    fs::path root() const { return m_dir.path().toStdString(); }
    fs::path source() const { return root() / "src"; }
    fs::path destination() const { return root() / "dst"; }
    fs::path outside() const { return root() / "outside"; }

    // Pictures a, b and c moved from two child folders into the destination; the victim folder holds
    // a picture of its own and what looks like a trash.
    std::vector<std::string> makeDisk() {
        std::vector<std::string> pictures;
        for (const char* name : {"000001 a.jpg", "000002 b.jpg", "000003 c.jpg"}) {
            pictures.push_back(pictureContent(name));
            writeContent(destination() / name, pictures.back());
        }
        fs::create_directories(source() / "dl1");
        fs::create_directories(source() / "dl2");
        writeContent(outside() / "a.jpg", "victim picture");
        writeContent(outside() / "files/x.txt", "victim file");
        writeContent(outside() / "info/x.txt.trashinfo", "[Trash Info]\nPath=/x.txt\n");
        return pictures;
    }

    // The run's journal with the forgery in it.
    fs::path writeJournal(Forgery forgery) {
        RunStart start;
        start.source = forgery == Forgery::SourceIsRoot   ? fs::path("/")
                       : forgery == Forgery::SourceIsHome ? m_home->folder()
                                                          : source();
        start.destination = destination();
        auto journal = RunJournal::create(root() / "history", start);
        JournalRecord b = moveRecord(source() / "dl2/b.jpg", destination() / "000002 b.jpg");
        if (forgery == Forgery::OriginOutside)
            b.from = outside() / "b.jpg";
        if (forgery == Forgery::OriginThroughUp)
            b.from = source().native() + "/dl2/../../outside/b.jpg";
        if (forgery == Forgery::NewNameOutside)
            b = moveRecord(source() / "dl2/b.jpg", outside() / "a.jpg");
        if (forgery == Forgery::NewNameThroughUp)
            b = moveRecord(source() / "dl2/b.jpg", destination().native() + "/../outside/a.jpg");
        std::vector<JournalRecord> records{
            moveRecord(source() / "dl1/a.jpg", destination() / "000001 a.jpg"), b,
            moveRecord(source() / "dl2/c.jpg", destination() / "000003 c.jpg")};
        if (forgery == Forgery::TrashOutside || forgery == Forgery::TrashLinkedAway) {
            const fs::path trash = forgery == Forgery::TrashOutside ? outside() : m_home->trash();
            if (forgery == Forgery::TrashLinkedAway) {
                fs::create_directories(trash.parent_path());
                fs::create_directory_symlink(outside(), trash);
            }
            JournalRecord trashed(RecordType::Trash);
            trashed.from = source() / "dl2/notes.txt";
            trashed.to = trash / "files/x.txt";
            trashed.info = trash / "info/x.txt.trashinfo";
            trashed.identity = identityOf(outside() / "files/x.txt").value();
            records.push_back(trashed);
        }
        for (const JournalRecord& record : records)
            (void)journal.value().append(record);
        const fs::path file = journal.value().file();
        (void)journal.value().finish(kOutcomeCompleted);
        QByteArrayList lines = QByteArray::fromStdString(contentOf(file)).split('\n');
        if (forgery == Forgery::DamagedInTheMiddle)
            lines[3][lines[3].size() - 12] = lines[3][lines[3].size() - 12] == '1' ? '2' : '1';
        if (forgery == Forgery::CutInLastRecord)
            lines = lines.mid(0, 4) << lines[4].left(lines[4].size() / 2);
        if (forgery == Forgery::CutInAnUndo) {
            JournalContents contents;
            Result<RunJournal> reopened = RunJournal::reopen(file, contents);
            if (!reopened || !reopened.value().append(JournalRecord(RecordType::UndoStart)) ||
                !reopened.value().close())
                qFatal("cannot reopen %s", file.c_str());
            lines = QByteArray::fromStdString(contentOf(file)).split('\n');
            lines.back() = "1\tundo-st";
        }
        if (!writeContent(file, lines.join('\n').toStdString()))
            qFatal("cannot write %s", file.c_str());
        return file;
    }

private slots:
    void init() {
        m_home.reset();
        fs::remove_all(root());
        m_home = std::make_unique<OwnHome>(root() / "home");
    }
    void cleanupTestCase() { m_home.reset(); }

    void undoActsOnlyWhereItsRunActed_data() {
        QTest::addColumn<int>("forgery");
        QTest::addColumn<QByteArray>("back");   // the pictures back in their child folders
        QTest::addColumn<int>("outsideTheRun"); // records named, not carried out
        QTest::addColumn<bool>("refused");      // the undo as a whole
        QTest::addColumn<int>("readsTo");       // the last line read of a journal not whole; 0 when whole
        QTest::newRow("as the run wrote it") << int(Forgery::None) << QByteArray("abc") << 0 << false << 0;
        QTest::newRow("an original path outside")
            << int(Forgery::OriginOutside) << QByteArray("ac") << 1 << false << 0;
        QTest::newRow("an original path through ..")
            << int(Forgery::OriginThroughUp) << QByteArray("ac") << 1 << false << 0;
        QTest::newRow("a new path outside, that file's identity")
            << int(Forgery::NewNameOutside) << QByteArray("ac") << 1 << false << 0;
        QTest::newRow("a new path through ..")
            << int(Forgery::NewNameThroughUp) << QByteArray("ac") << 1 << false << 0;
        QTest::newRow("a trash that is no trash of this user")
            << int(Forgery::TrashOutside) << QByteArray("abc") << 1 << false << 0;
        QTest::newRow("the home trash a link elsewhere")
            << int(Forgery::TrashLinkedAway) << QByteArray("abc") << 1 << false << 0;
        QTest::newRow("a source parent that is /")
            << int(Forgery::SourceIsRoot) << QByteArray() << 0 << true << 0;
        QTest::newRow("a source parent that is the home folder")
            << int(Forgery::SourceIsHome) << QByteArray() << 0 << true << 0;
        QTest::newRow("cut within its last record")
            << int(Forgery::CutInLastRecord) << QByteArray("ab") << 0 << false << 4;
        QTest::newRow("a damaged record in the middle")
            << int(Forgery::DamagedInTheMiddle) << QByteArray("a") << 0 << false << 3;
        // What a kill of an undo leaves: only that undo's own step went unrecorded, and this undo
        // checks every record again, so the journal is whole for it.
        QTest::newRow("cut within an undo's record")
            << int(Forgery::CutInAnUndo) << QByteArray("abc") << 0 << false << 0;
    }
    void undoActsOnlyWhereItsRunActed() {
        QFETCH(int, forgery);
        QFETCH(QByteArray, back);
        QFETCH(int, outsideTheRun);
        QFETCH(bool, refused);
        QFETCH(int, readsTo);
        const std::vector<std::string> pictures = makeDisk();
        const fs::path journal = writeJournal(Forgery(forgery));
        const auto victim = folderSnapshot(outside());
        QuietUndo observer;
        const UndoOutcome outcome = undoRun(journal, observer);

        QCOMPARE(bool(outcome.error), refused);
        QCOMPARE(outcome.cameBack, int(back.size()));
        QCOMPARE(int(std::count_if(
                     outcome.left.begin(), outcome.left.end(),
                     [](const UndoLeftItem& item) { return item.reason == UndoLeftReason::OutsideTheRun; })),
                 outsideTheRun);
        QCOMPARE(int(outcome.journalEndsAfterLine.value_or(0)), readsTo);
        const std::map<char, fs::path> origins{
            {'a', source() / "dl1/a.jpg"}, {'b', source() / "dl2/b.jpg"}, {'c', source() / "dl2/c.jpg"}};
        for (const auto& [picture, origin] : origins)
            QCOMPARE(fs::exists(origin), back.contains(picture));
        QVERIFY(folderSnapshot(outside()) == victim);
        const std::string lost = lostOrDoubled(pictures, {source(), destination()});
        QVERIFY2(lost.empty(), lost.c_str());
    }

    // Nothing of a damaged journal is cut away: undo's own records follow the damage and are read
    // back, so a second undo knows what the first put back.
    void aDamagedJournalKeepsItsBytesAndItsUndo() {
        makeDisk();
        const fs::path journal = writeJournal(Forgery::DamagedInTheMiddle);
        const std::string before = contentOf(journal);
        QuietUndo observer;
        QCOMPARE(undoRun(journal, observer).cameBack, 1);
        QVERIFY(contentOf(journal).starts_with(before));
        const UndoOutcome again = undoRun(journal, observer);
        QCOMPARE(again.alreadyBack, 1);
        QCOMPARE(again.journalEndsAfterLine, std::optional<std::size_t>(3));
    }
};

QTEST_APPLESS_MAIN(TestUndoJournals)
#include "test_undo_journals.moc"
