// Pictures whose bytes the destination already holds: left out and removed, against the final
// tree, the journal and the summary counts, on one file system and onto another.
#include "history/journal_reader.h"
#include "move_fixture.h"
#include "own_trash.h"

#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(Names)

namespace {

// "folder/name.jpg" holds a content of its own; "folder/name.jpg=K" holds K after a first block
// that all such files share, so that equal K's are duplicates and K's of one length differ only
// at their end; "name.jpg~K" holds exactly K, a file shorter than a block.
struct Spec {
    std::string path;
    std::string content;
};

Spec specOf(const std::string& entry) {
    const std::size_t equals = entry.find('=');
    const std::size_t tilde = entry.find('~');
    if (tilde != std::string::npos)
        return {entry.substr(0, tilde), entry.substr(tilde + 1)};
    if (equals == std::string::npos)
        return {entry, pictureContent(entry)};
    return {entry.substr(0, equals), std::string(6000, 'x') + entry.substr(equals + 1)};
}

} // namespace

class TestMoveDuplicates : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }

    static void write(const fs::path& base, const Names& entries) {
        for (const std::string& entry : entries) {
            const Spec spec = specOf(entry);
            QVERIFY(writeContent(base / spec.path, spec.content));
        }
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        fs::create_directories(root() / "prog");
        fs::create_directories(src());
        m_home = std::make_unique<OwnHome>(root() / "home");
    }
    void cleanup() {
        m_home.reset();
        std::error_code ignored;
        fs::remove_all(root(), ignored);
    }

    void leftOut_data() {
        QTest::addColumn<Names>("tree"); // below the source parent
        QTest::addColumn<Names>("held"); // already in the destination
        // A destination file removed as the run reaches the first picture, or "+" and a picture
        // that is saved anew with other bytes as the run reaches it, or "*" and a picture that
        // arrives as the run reaches its first one, or ">" and a folder swapped for a link to a
        // folder outside holding its names with other bytes as the run reaches it (put back after).
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("across");    // the destination on another file system
        QTest::addColumn<Names>("expected"); // the destination afterwards
        QTest::addColumn<Names>("twins");    // "duplicate > twin", as the journal names them
        for (const bool across : {false, true}) {
            const char* where = across ? " (another file system)" : "";
            QTest::newRow(qPrintable(QString("no duplicates") + where))
                << Names{"a/1.jpg=A", "a/2.jpg=B"} << Names{"000001 old.jpg=C"} << "" << across
                << Names{"000001 old.jpg", "000010 1.jpg", "000011 2.jpg"} << Names{};
            QTest::newRow(qPrintable(QString("renamed copies of destination pictures") + where))
                << Names{"a/1.jpg=A", "a/2.jpg=B", "b/3.jpg=C"} << Names{"000001 old.jpg=C", "keep.bmp=A"}
                << "" << across << Names{"000001 old.jpg", "000010 2.jpg", "keep.bmp"}
                << Names{"a/1.jpg > keep.bmp", "b/3.jpg > 000001 old.jpg"};
            QTest::newRow(qPrintable(QString("equal within the run") + where))
                << Names{"a/1.jpg=A", "a/2.jpg=A", "b/\x8e\xca\x90\x5e.jpg=A"} << Names{} << "" << across
                << Names{"000010 1.jpg"}
                << Names{"a/2.jpg > 000010 1.jpg", "b/\x8e\xca\x90\x5e.jpg > 000010 1.jpg"};
        }
        QTest::newRow("one size, the last byte differs")
            << Names{"a/1.jpg=AB", "a/2.jpg=AC"} << Names{"x.jpg=AD", "y.jpg=DB"} << "" << false
            << Names{"000010 1.jpg", "000011 2.jpg", "x.jpg", "y.jpg"} << Names{};
        QTest::newRow("hidden files and other types are no twins")
            << Names{"a/1.jpg=A", "a/2.jpg=B"} << Names{".hidden.jpg=A", "note.txt=B"} << "" << false
            << Names{".hidden.jpg", "000010 1.jpg", "000011 2.jpg", "note.txt"} << Names{};
        QTest::newRow("a twin that vanishes: moved as usual")
            << Names{"a/1.jpg=A"} << Names{"old.jpg=A"} << "old.jpg" << false << Names{"000010 1.jpg"}
            << Names{};
        // Found equal ahead of the run, then changed: no longer the twin's bytes.
        QTest::newRow("a picture changed as the run reaches it: moved as usual")
            << Names{"a/1.jpg=A", "a/2.jpg=B", "b/3.jpg=C", "b/4.jpg=A"} << Names{"old.jpg=C", "keep.jpg=A"}
            << "+b/3.jpg" << false << Names{"000010 2.jpg", "000011 3.jpg", "keep.jpg", "old.jpg"}
            << Names{"a/1.jpg > keep.jpg", "b/4.jpg > keep.jpg"};
        // Perhaps too late for the lookahead: the run then compares it itself, with the
        // destination as the lookahead read it and with what the run has moved so far.
        QTest::newRow("a picture arriving during the run")
            << Names{"a/1.jpg=B", "b/2.jpg=C", "b/4.jpg=B"} << Names{"keep.jpg=A"} << "*b/3.jpg=A" << false
            << Names{"000010 1.jpg", "000011 2.jpg", "keep.jpg"}
            << Names{"b/3.jpg > keep.jpg", "b/4.jpg > 000010 1.jpg"};
        // Its path now shows the other folder's bytes, equal to the destination's: the picture
        // held is not the one compared.
        QTest::newRow("a folder swapped for a link to a folder of twins: moved as usual")
            << Names{"a/1.jpg=V", "b/2.jpg=A"} << Names{} << ">b" << false
            << Names{"000010 1.jpg", "000011 2.jpg"} << Names{};
        QTest::newRow("small files, compared whole by the first block")
            << Names{"a/1.jpg~abc", "a/2.jpg~abd", "a/3.jpg"} << Names{"old.jpg~abc"} << "" << false
            << Names{"000010 2.jpg", "000011 3.jpg", "old.jpg"} << Names{"a/1.jpg > old.jpg"};
    }
    void leftOut() {
        QFETCH(Names, tree);
        QFETCH(Names, held);
        QFETCH(QString, change);
        const long arriving = change.startsWith('*') ? 1 : 0;
        QFETCH(bool, across);
        std::unique_ptr<QTemporaryDir> other = across ? otherFileSystemDir() : nullptr;
        if (across && !other)
            QSKIP("/dev/shm is not another file system here");
        const fs::path dest = across ? fs::path(other->path().toStdString()) : root() / "dst";
        fs::create_directories(dest);
        write(src(), tree);
        write(dest, held);
        ScriptedObserver observer;
        observer.dest = dest;
        const fs::path victim = root() / "victim";
        const fs::path away = root() / "away";
        if (change.startsWith('>'))
            write(victim, {"2.jpg=V"});
        observer.onPreview = [&](const fs::path& file) {
            if (change.startsWith('>')) {
                const fs::path swapped = src() / change.mid(1).toStdString();
                if (file.parent_path() == swapped && !fs::exists(away)) {
                    fs::rename(swapped, away);
                    fs::create_directory_symlink(victim, swapped);
                }
                return;
            }
            // Saved anew over the picture, its size kept and its last byte another.
            if (change.startsWith('+') && file == src() / change.mid(1).toStdString()) {
                const fs::path saved = file.parent_path() / "saved.tmp";
                QVERIFY(writeContent(saved, std::string(6000, 'x') + "Z"));
                fs::rename(saved, file);
            } else if (change.startsWith('*')) {
                write(src(), {change.mid(1).toStdString()});
                change.clear();
            } else if (!change.isEmpty() && !change.startsWith('+')) {
                fs::remove(dest / change.toStdString());
            }
        };
        Module1 vars;
        vars.SerialNo = 10;
        auto journal =
            RunJournal::create(root() / "history", moveRunStart(10, src(), dest, false, Removal()));
        QVERIFY(journal.ok());
        std::vector<fs::path> folderList;
        MoveRun run(vars, files(), observer);
        run.setJournal(&journal.value());
        run.setSkipDuplicates(true);
        QCOMPARE(run.run(src(), false, folderList).outcome, MoveOutcome::Completed);
        QVERIFY(journal.value().finish(kOutcomeCompleted).ok());
        QTEST(namesIn(dest), "expected");
        if (change.startsWith('>')) {
            QCOMPARE(namesIn(victim), Names{"2.jpg"});
            QCOMPARE(contentOf(victim / "2.jpg"), specOf("2.jpg=V").content);
        }
        QFETCH(Names, twins);
        // The counter moves for the pictures moved only.
        const long moved = long(tree.size()) + arriving - long(twins.size());
        QCOMPARE(vars.SerialNo, 10 + std::int32_t(moved));
        const auto relative = [&](const fs::path& file) {
            return file.native().starts_with(dest.native()) ? file.filename().native()
                                                            : file.lexically_relative(src()).native();
        };
        Names recorded;
        const auto contents = readJournal(journal.value().file());
        QVERIFY(contents.ok());
        for (const JournalRecord& record : contents.value().records) {
            if (!record.twin.empty())
                recorded.push_back(relative(record.from) + " > " + relative(record.twin));
        }
        QCOMPARE(recorded, twins);
        Names told;
        for (const auto& [file, twin] : observer.duplicates)
            told.push_back(relative(file) + " > " + relative(twin));
        QCOMPARE(told, twins);
        // Every duplicate is in the Trash with its bytes; nothing else went there.
        QCOMPARE(long(trashedItems(m_home->trash()).size()), long(twins.size()));
        const GatherCounts& counts = observer.tally.finish();
        QCOMPARE(counts.pictures, moved);
        QCOMPARE(counts.duplicates, long(twins.size()));
        // Label4 keeps the last new name: a duplicate shows none.
        QCOMPARE(long(observer.newNames.size()), moved);
        // The counts come from what the run did, not from what the paths show now.
        if (change.startsWith('>')) {
            fs::remove(src() / change.mid(1).toStdString());
            fs::rename(away, src() / change.mid(1).toStdString());
        }
        fs::remove_all(dest);
    }

    // A picture the run has not moved yet (a plan's) is read where it lies, and counts as a twin
    // only while it is the very file added: not through a link that took its folder's name, not
    // another file that took its name. A name no disk holds is no twin, and no failure.
    void twinsNotMovedYetAreTheFilesAdded_data() {
        QTest::addColumn<QString>("change"); // to the folder of the picture added, before the lookup
        QTest::addColumn<bool>("found");
        QTest::newRow("where it lies") << "" << true;
        QTest::newRow("its folder swapped for a link to equal bytes") << "link" << false;
        QTest::newRow("its folder renamed away, equal bytes in its place") << "folder" << false;
        QTest::newRow("a name longer than any disk holds") << "long" << false;
    }
    void twinsNotMovedYetAreTheFilesAdded() {
        QFETCH(QString, change);
        const std::string bytes = specOf("x.jpg=A").content;
        QVERIFY(writeContent(src() / "a" / "1.jpg", bytes));
        QVERIFY(writeContent(src() / "b" / "2.jpg", bytes));
        QVERIFY(writeContent(root() / "victim" / "1.jpg", bytes));
        fs::create_directories(root() / "dst");
        const Result<HeldFolder> source = HeldFolder::open(src());
        const Result<HeldFolder> destination = HeldFolder::open(root() / "dst");
        QVERIFY(source.ok() && destination.ok());
        DuplicateFinder finder;
        QVERIFY(finder.useDestination(destination.value(), PictureTypes{}).ok());
        QVERIFY(finder.readSourcesBelow(source.value()).ok());
        {
            const Result<HeldFolder> folder = source.value().child("a");
            QVERIFY(folder.ok());
            const Result<HeldEntry> picture = folder.value().lookup("1.jpg");
            QVERIFY(picture.ok());
            finder.add(src() / "a/1.jpg", picture.value().identity, src() / "a/1.jpg",
                       root() / "dst/000010 1.jpg", false);
        }
        if (change == "link" || change == "folder") {
            fs::rename(src() / "a", root() / "away");
            if (change == "link")
                fs::create_directory_symlink(root() / "victim", src() / "a");
            else
                QVERIFY(writeContent(src() / "a" / "1.jpg", bytes));
        }
        const Result<HeldFolder> folder = source.value().child("b");
        QVERIFY(folder.ok());
        const std::string name = change == "long" ? std::string(300, 'n') + ".jpg" : "2.jpg";
        const std::optional<DuplicateFinder::Twin> twin = finder.twinOf(folder.value(), name);
        QTEST(twin.has_value(), "found");
        if (twin)
            QCOMPARE(finder.pathOf(*twin), root() / "dst/000010 1.jpg");
        QCOMPARE(contentOf(root() / "victim" / "1.jpg"), bytes);
    }

    // Thousands of one size whose first blocks agree: each is read for its whole hash once, and
    // only the true twins are compared. More of them than the lookahead decides ahead of the run.
    void thousandsOfOneSize() {
        const fs::path dest = root() / "dst";
        const int count = 4500;
        const std::string head(5000, 'h');
        for (int i = 0; i < count; ++i) {
            const std::string tail = std::to_string(100000 + i);
            QVERIFY(writeContent(dest / ("d" + tail + ".bmp"), head + tail));
            QVERIFY(writeContent(src() / "a" / ("s" + tail + ".bmp"), head + std::to_string(200000 + i)));
        }
        QVERIFY(writeContent(src() / "b" / "twin.bmp", head + "100042"));
        ScriptedObserver observer;
        observer.dest = dest;
        Module1 vars;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files(), observer, Removal(true));
        run.setSkipDuplicates(true);
        QCOMPARE(run.run(src(), false, folderList).outcome, MoveOutcome::Completed);
        QCOMPARE(observer.duplicates.size(), std::size_t(1));
        QCOMPARE(observer.duplicates.front().second, dest / "d100042.bmp");
        QCOMPARE(vars.SerialNo, count);
        QCOMPARE(namesIn(dest).size(), std::size_t(2 * count));
    }

    // A cancel while the lookahead is thousands of pictures ahead, waiting for room: the run ends
    // at the folder's end, the thread with it, and the folders after it keep every picture.
    void cancelWhileDecidedAhead() {
        const fs::path dest = root() / "dst";
        const int folders = 40;
        const int perFolder = 150;
        for (int f = 0; f < folders; ++f) {
            const std::string folder = "f" + std::to_string(100 + f);
            write(dest, {"held " + folder + ".jpg=" + folder});
            write(src(), {folder + "/0.jpg=" + folder});
            for (int i = 1; i < perFolder; ++i)
                write(src(), {folder + "/" + std::to_string(i) + ".jpg"});
        }
        ScriptedObserver observer;
        observer.dest = dest;
        observer.onPreview = [&](const fs::path&) {
            // Time for the thread to get as far ahead as it may.
            if (observer.previews.size() == 1)
                QThread::msleep(500);
            observer.cancel = !observer.foldersFinished.empty();
        };
        Module1 vars;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files(), observer, Removal(true));
        run.setSkipDuplicates(true);
        QCOMPARE(run.run(src(), false, folderList).outcome, MoveOutcome::Cancelled);
        const auto done = long(observer.foldersFinished.size());
        QVERIFY(done >= 1 && done < folders);
        QCOMPARE(long(observer.duplicates.size()), done);
        QCOMPARE(long(vars.SerialNo), done * (perFolder - 1));
        QCOMPARE(long(namesIn(dest).size()), folders + done * (perFolder - 1));
        for (const fs::path& folder : observer.foldersFinished)
            QVERIFY(fs::is_empty(folder));
        long left = 0;
        for (const auto& entry : fs::recursive_directory_iterator(src()))
            left += entry.is_regular_file() ? 1 : 0;
        QCOMPARE(left, (folders - done) * perFolder);
    }

    // A destination chosen anew during the run: its own pictures count from then on, and what the
    // first one held matches nothing.
    void destinationChangedDuringTheRun() {
        const fs::path first = root() / "first";
        const fs::path second = root() / "second";
        write(src(), {"a/1.jpg=A", "a/2.jpg=B", "b/3.jpg=A", "b/4.jpg=B"});
        write(first, {"old.jpg=A"});
        write(second, {"other.jpg=B"});
        ScriptedObserver observer;
        observer.dest = first;
        observer.onPreview = [&](const fs::path& file) {
            if (file.parent_path() == src() / "b")
                observer.dest = second;
        };
        Module1 vars;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files(), observer);
        run.setSkipDuplicates(true);
        QCOMPARE(run.run(src(), false, folderList).outcome, MoveOutcome::Completed);
        QCOMPARE(namesIn(first), (Names{"000000 2.jpg", "old.jpg"}));
        QCOMPARE(namesIn(second), (Names{"000001 3.jpg", "other.jpg"}));
        const std::vector<std::pair<fs::path, fs::path>> expected{{src() / "a/1.jpg", first / "old.jpg"},
                                                                  {src() / "b/4.jpg", second / "other.jpg"}};
        QCOMPARE(observer.duplicates, expected);
    }

    // Off by default: the same tree keeps every picture.
    void offMovesEveryPicture() {
        const fs::path dest = root() / "dst";
        write(src(), {"a/1.jpg=A", "a/2.jpg=A"});
        write(dest, {"old.jpg=A"});
        ScriptedObserver observer;
        observer.dest = dest;
        Module1 vars;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files(), observer);
        QCOMPARE(run.run(src(), false, folderList).outcome, MoveOutcome::Completed);
        QCOMPARE(namesIn(dest), (Names{"000000 1.jpg", "000001 2.jpg", "old.jpg"}));
        QVERIFY(observer.duplicates.empty());
    }
};

QTEST_GUILESS_MAIN(TestMoveDuplicates)
#include "test_move_duplicates.moc"
