// The move-and-number run without a window: names and numbers, the counter file, the survey
// display, cancel and close, the folder deletion, and every way it refuses to lose a picture.
#include "child_process.h"
#include "disk_helpers.h"
#include "history/run_history.h"
#include "move_fixture.h"
#include "naming/serial_name.h"
#include "own_trash.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(Names)

class TestMoveRun : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    Module1 m_vars;
    ScriptedObserver m_observer;
    std::vector<fs::path> m_folderList;
    PictureTypes m_types;
    RunJournal* m_journal = nullptr;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }
    std::string counter() const { return contentOf(files().counterFile()); }

    // Writes pictures (unique content) and other files below the source; returns the pictures.
    std::vector<std::string> makeTree(const Names& relativeNames) {
        std::vector<std::string> pictures;
        for (const std::string& name : relativeNames) {
            const std::string content = pictureContent(name);
            writeContent(src() / name, content);
            if (isPicture(name, m_types))
                pictures.push_back(content);
        }
        return pictures;
    }
    MoveRunResult runMove(bool deleteFolders = false, Removal removal = Removal()) {
        MoveRun run(m_vars, files(), m_observer, std::move(removal));
        run.setPictureTypes(m_types);
        run.setJournal(m_journal);
        return run.run(src(), deleteFolders, m_folderList);
    }
    // The original paths of what the run put into the trash, relative to the source.
    Names trashed(const fs::path& trash) const {
        Names names;
        for (const auto& [original, info] : trashedItems(trash))
            names.push_back(original.lexically_relative(src()).native());
        return names;
    }
    std::string lost(const std::vector<std::string>& pictures) const {
        return lostOrDoubled(pictures, {root()});
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        for (const fs::path& folder : {root() / "prog", src(), dst()})
            fs::create_directories(folder);
        m_home = std::make_unique<OwnHome>(root() / "home");
        m_vars = Module1{};
        m_observer = ScriptedObserver{};
        m_observer.dest = dst();
        m_folderList.clear();
        m_types = PictureTypes{};
        m_journal = nullptr;
    }
    void cleanup() {
        m_home.reset();
        std::error_code ignored;
        fs::remove_all(root(), ignored); // names that are not UTF-8 defeat QTemporaryDir
    }

    // The counter file is written before every file with the number current then, before the wrap.
    void numbersAndCounterFile_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<Names>("listed");
        QTest::addColumn<Names>("expected");
        QTest::addColumn<Names>("counters");
        QTest::addColumn<int>("end");
        QTest::addColumn<QByteArray>("types");
        QTest::newRow("other files use no number")
            << 42 << Names{"a.jpg", "b.txt", "c.JPG", "d.gif"} << Names{"000042 a.jpg", "000043 c.JPG"}
            << Names{"42", "43", "43", "44"} << 44 << QByteArray();
        QTest::newRow("a chosen type numbered like a JPEG")
            << 42 << Names{"a.png", "b.mp4", "c.JPG", "d.gif"} << Names{"000042 a.png", "000043 c.JPG"}
            << Names{"42", "43", "43", "44"} << 44 << QByteArray("png");
        QTest::newRow("wrap after the highest") << 999999 << Names{"a.jpg", "b.jpg", "c.jpg"}
                                                << Names{"000000 b.jpg", "000001 c.jpg", "999999 a.jpg"}
                                                << Names{"999999", "1000000", "1"} << 2 << QByteArray();
        QTest::newRow("above the highest from the counter file")
            << 1000000 << Names{"a.jpg"} << Names{"000000 a.jpg"} << Names{"1000000"} << 1 << QByteArray();
        QTest::newRow("negative number counts up")
            << -1 << Names{"a.jpg", "b.jpg"} << Names{"-000001 a.jpg", "000000 b.jpg"} << Names{"-1", "0"}
            << 1 << QByteArray();
        QTest::newRow("old prefix replaced")
            << 7 << Names{"000001 x.jpg", "abcdef y.bmp"} << Names{"000007 x.jpg", "000008 abcdef y.bmp"}
            << Names{"7", "8"} << 9 << QByteArray();
    }
    void numbersAndCounterFile() {
        QFETCH(int, start);
        QFETCH(Names, listed);
        QFETCH(Names, counters);
        QFETCH(QByteArray, types);
        m_types = decodePictureTypes(types.toStdString());
        Names named;
        for (const std::string& name : listed)
            named.push_back("a/" + name);
        const auto pictures = makeTree(named);
        Names seen;
        m_observer.onPreview = [&](const fs::path&) {
            seen.push_back(counter());
        };
        m_vars.SerialNo = start;
        QCOMPARE(runMove().outcome, MoveOutcome::Completed);
        QTEST(namesIn(dst()), "expected");
        QTEST(int(m_vars.SerialNo), "end");
        for (std::string& value : counters)
            value += "\r\n";
        QCOMPARE(seen, counters);
        QCOMPARE(namesIn(src() / "a"), Names{});
        Names others;
        for (const std::string& name : named) {
            if (!isPicture(name, m_types))
                others.push_back(name);
        }
        QCOMPARE(trashed(m_home->trash()), others);
        QCOMPARE(lost(pictures), std::string());
    }

    // Folders in survey order, files in list order; the parent's own files, hidden files, links and
    // pipes are never touched; a read-only picture arrives writable.
    void completedRunEmptiesTheFoldersInOrder() {
        const auto pictures = makeTree({"top.jpg", "top.txt", "B/b.jpg", "A/z.jpg", "A/a.bmp", "A/notes.txt",
                                        "A/A1/x.jpg", "A/.hidden.jpg", "C/.keep"});
        fs::create_directories(src() / "empty");
        makeEntries(src() / "A", {"p:pipe", "l:link.jpg>z.jpg", "p:fifo.jpg", "s:A1/socket.JPG"});
        ::chmod((src() / "A" / "z.jpg").c_str(), 0444);
        const MoveRunResult result = runMove();
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(result.foldersWithFiles, 3);
        // Special files named like pictures are named, never moved.
        QCOMPARE(result.specialFiles,
                 (std::vector<fs::path>{src() / "A/fifo.jpg", src() / "A/A1/socket.JPG"}));
        QCOMPARE(namesIn(dst()), (Names{"000000 a.bmp", "000001 z.jpg", "000002 b.jpg", "000003 x.jpg"}));
        QCOMPARE(contentOf(dst() / "000001 z.jpg"), pictureContent("A/z.jpg"));
        QVERIFY(fs::status(dst() / "000001 z.jpg").permissions() == fs::perms(0644));
        QCOMPARE(namesIn(src()), (Names{"A", "B", "C", "empty", "top.jpg", "top.txt"}));
        QCOMPARE(namesIn(src() / "A"), (Names{".hidden.jpg", "A1", "fifo.jpg", "link.jpg", "pipe"}));
        QCOMPARE(namesIn(src() / "A/A1"), Names{"socket.JPG"});
        QCOMPARE(namesIn(src() / "C"), Names{".keep"});
        QCOMPARE(m_observer.foldersStarted, (std::vector<fs::path>{src() / "A", src() / "B", src() / "C",
                                                                   src() / "empty", src() / "A/A1"}));
        QCOMPARE(m_observer.newNames,
                 (Names{"000000 a.bmp", "000001 z.jpg", "000002 b.jpg", "000003 x.jpg"}));
        QCOMPARE(lost(pictures), std::string());
    }

    // Every child folder the survey saw goes, hidden ones too, whatever it still holds; nothing
    // outside the tree is touched through a link, and a folder that arrived during the run stays.
    void deleteOptionRemovesTheListedChildFolders() {
        QTemporaryDir outside;
        const fs::path away = outside.path().toStdString();
        writeContent(away / "keep.jpg", "outside");
        writeContent(away / "keep.txt", "outside text");
        const auto pictures = makeTree({"top.jpg", "a/x.jpg", "a/.hidden.txt", "a/deep/y.jpg", "a/ro/.h",
                                        "b/readonly.txt", ".private/z.jpg"});
        fs::create_directories(src() / "empty");
        ::chmod((src() / "b" / "readonly.txt").c_str(), 0444);
        ::chmod((src() / "a" / "ro").c_str(), 0555);
        makeEntries(src(), {"l:a/toOutside>" + QByteArray::fromStdString(away.native()),
                            "l:linkedAway>" + QByteArray::fromStdString(away.native()), "p:a/pipe"});
        m_observer.onYield = [&] {
            if (m_observer.surveyDone && !fs::exists(src() / "arrived"))
                writeContent(src() / "arrived" / "new.jpg", "arrived");
        };
        QCOMPARE(runMove(true).outcome, MoveOutcome::Completed);
        QCOMPARE(namesIn(src()), (Names{"arrived", "linkedAway", "top.jpg"}));
        QCOMPARE(namesIn(away), (Names{"keep.jpg", "keep.txt"}));
        QCOMPARE(namesIn(dst()).size(), std::size_t(3));
        QCOMPARE(trashed(m_home->trash()), (Names{".private", "a", "b", "b/readonly.txt", "empty"}));
        QCOMPARE(namesIn(m_home->trash() / "files/a"),
                 (Names{".hidden.txt", "deep", "pipe", "ro", "toOutside"}));
        QCOMPARE(lost(pictures), std::string());
    }

    // What is not a picture goes to the trash of its own file system, or for good when asked; a
    // trash that cannot be used stops the run before anything moves.
    void removalsGoWhereAsked_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<Names>("trashed");
        QTest::newRow("home trash") << "home" << Names{"a", "a/2.txt"};
        QTest::newRow("for good") << "permanent" << Names{};
        QTest::newRow("trash of another file system") << "shm" << Names{"a", "a/2.txt"};
        QTest::newRow("home trash a link: refused") << "link" << Names{};
    }
    void removalsGoWhereAsked() {
        QFETCH(QString, where);
        std::unique_ptr<QTemporaryDir> other;
        fs::path trash = m_home->trash();
        if (where == "shm") {
            if (!(other = otherFileSystemDir()))
                QSKIP("/dev/shm is not another file system here");
            fs::remove(src());
            fs::create_directory_symlink(other->path().toStdString(), src());
            trash = sharedMemoryTrash();
        }
        if (where == "link") {
            fs::create_directories(root() / "home/.local/share");
            fs::create_directory_symlink(root(), trash);
        }
        const auto pictures = makeTree({"a/1.jpg", "a/2.txt"});
        const MoveRunResult result = runMove(true, Removal(where == "permanent"));
        const fs::path source = where == "shm" ? fs::path(other->path().toStdString()) : src();
        Names found;
        for (const auto& [original, info] : trashedItems(trash)) {
            if (isSameOrBelow(original, source))
                found.push_back(original.lexically_relative(source).native());
        }
        if (where == "shm")
            clearTrashedFrom(trash, source);
        QTEST(found, "trashed");
        QCOMPARE(lost(pictures), std::string());
        if (where == "link") {
            QCOMPARE(result.outcome, MoveOutcome::Failed);
            QCOMPARE(result.error->path, trash);
            QVERIFY(!result.error->advice.empty());
            QCOMPARE(namesIn(src() / "a"), (Names{"1.jpg", "2.txt"}));
            return;
        }
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(namesIn(source), Names{});
    }

    void cancel_data() {
        QTest::addColumn<int>("atFolder"); // cancel clicked while this folder is in hand; 0: survey
        QTest::addColumn<int>("outcome");
        QTest::addColumn<Names>("children");
        QTest::addColumn<int>("moved");
        QTest::newRow("during the survey") << 0 << int(MoveOutcome::Cancelled) << Names{"a", "b", "c"} << 0;
        QTest::newRow("during the first folder")
            << 1 << int(MoveOutcome::Cancelled) << Names{"a", "b", "c"} << 2;
        // Taken at the next folder, which does not come: the run completes and deletes.
        QTest::newRow("during the last folder") << 3 << int(MoveOutcome::Completed) << Names{} << 6;
    }
    void cancel() {
        QFETCH(int, atFolder);
        const auto pictures = makeTree({"a/1.jpg", "a/2.jpg", "b/3.jpg", "b/4.jpg", "c/5.jpg", "c/6.jpg"});
        m_observer.onYield = [&] {
            if (int(m_observer.foldersStarted.size()) == atFolder)
                m_observer.cancel = true;
        };
        const MoveRunResult result = runMove(true);
        QTEST(int(result.outcome), "outcome");
        QCOMPARE(m_folderList.size(), std::size_t(3)); // the survey always finishes
        QVERIFY(m_observer.surveyDone);
        QTEST(namesIn(src()), "children");
        QTEST(int(namesIn(dst()).size()), "moved");
        QCOMPARE(fs::current_path(), src());
        QCOMPARE(lost(pictures), std::string());
    }

    // A close request stops the run after the file in hand; no folder is deleted.
    void closingStopsAfterTheFileInHand() {
        const auto pictures = makeTree({"a/1.jpg", "a/2.jpg", "a/3.jpg", "b/4.jpg"});
        m_vars.SerialNo = 10;
        m_observer.onPreview = [&](const fs::path&) {
            m_observer.stop = true;
        };
        QCOMPARE(runMove(true).outcome, MoveOutcome::Cancelled);
        QCOMPARE(namesIn(dst()), Names{"000010 1.jpg"});
        QCOMPARE(namesIn(src() / "a"), (Names{"2.jpg", "3.jpg"}));
        QCOMPARE(m_vars.SerialNo, 11);
        QCOMPARE(counter(), std::string("11\r\n")); // the number the next file was to receive
        QCOMPARE(lost(pictures), std::string());
    }

    // No picture takes a number the destination holds, whatever holds it (a file, a folder, a link,
    // under any name) or the name taken meanwhile: it takes the next free number, the counter
    // follows, and nothing in the destination is replaced. "dir:" and "link:" make a folder or a
    // link of that name; "meanwhile:" arrives after the destination was listed.
    void takenNamesTakeTheNextNumbers_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<Names>("taken");
        QTest::addColumn<Names>("newNames");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("skipped");
        QTest::newRow("two taken") << 42 << Names{"000042 a.jpg", "000043 a.jpg"}
                                   << Names{"000044 a.jpg", "000045 b.jpg"} << 46 << 2;
        QTest::newRow("another base name holds the number")
            << 42 << Names{"000042 x.jpg"} << Names{"000043 a.jpg", "000044 b.jpg"} << 45 << 1;
        QTest::newRow("held below the counter") << 42 << Names{"000040 x.jpg", "000041 y.jpg"}
                                                << Names{"000042 a.jpg", "000043 b.jpg"} << 44 << 0;
        QTest::newRow("held between the pictures") << 42 << Names{"000043 x.jpg", "000044 y.txt"}
                                                   << Names{"000042 a.jpg", "000045 b.jpg"} << 46 << 2;
        QTest::newRow("held around the counter") << 5 << Names{"000004 x.jpg", "000005 x.jpg", "000007 y.jpg"}
                                                 << Names{"000006 a.jpg", "000008 b.jpg"} << 9 << 2;
        QTest::newRow("a counter above every number held")
            << 500 << Names{"000001 old.jpg", "000499 old.jpg"} << Names{"000500 a.jpg", "000501 b.jpg"}
            << 502 << 0;
        QTest::newRow("taken at the highest wraps")
            << 999999 << Names{"999999 a.jpg"} << Names{"000000 a.jpg", "000001 b.jpg"} << 2 << 1;
        QTest::newRow("held across the wrap")
            << 999998 << Names{"999999 x.jpg", "000000 x.jpg", "000002 x.jpg"}
            << Names{"999998 a.jpg", "000001 b.jpg"} << 2 << 2;
        QTest::newRow("a folder and a link hold their numbers")
            << 0 << Names{"dir:000000 kept", "link:000001 gone.jpg"} << Names{"000002 a.jpg", "000003 b.jpg"}
            << 4 << 2;
        QTest::newRow("a name taken meanwhile")
            << 10 << Names{"meanwhile:000011 b.jpg"} << Names{"000010 a.jpg", "000012 b.jpg"} << 13 << 1;
    }
    void takenNamesTakeTheNextNumbers() {
        QFETCH(int, start);
        QFETCH(Names, taken);
        Names held;
        for (const std::string& entry : taken) {
            const std::string name = entry.substr(entry.find(':') + 1);
            held.push_back(name);
            if (entry.starts_with("dir:"))
                fs::create_directory(dst() / name);
            else if (entry.starts_with("link:"))
                fs::create_symlink("nowhere", dst() / name);
            else if (!entry.starts_with("meanwhile:"))
                writeContent(dst() / name, "old " + name);
        }
        const auto pictures = makeTree({"f/a.jpg", "f/b.jpg"});
        // Each name is shown with the counter file already at its number: a kill then never leaves
        // a number given behind the counter.
        QStringList behind;
        m_observer.onNewName = [&](const std::string& name) {
            if (counter() != std::to_string(std::stoi(name.substr(0, 6))) + "\r\n")
                behind << QString::fromStdString(name + " with the counter at " + counter());
        };
        m_observer.onPreview = [&](const fs::path&) {
            for (const std::string& entry : taken) {
                if (entry.starts_with("meanwhile:"))
                    writeContent(dst() / entry.substr(10), "old " + entry.substr(10));
            }
        };
        m_vars.SerialNo = start;
        const MoveRunResult result = runMove();
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QFETCH(Names, newNames);
        Names expected = held;
        expected.insert(expected.end(), newNames.begin(), newNames.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(namesIn(dst()), expected);
        QCOMPARE(m_observer.newNames.back(), newNames.back());
        QCOMPARE(behind, QStringList());
        QTEST(int(m_vars.SerialNo), "end");
        QTEST(int(result.numbersSkipped), "skipped");
        for (const std::string& name : held) {
            if (lookupEntry(dst() / name) == EntryKind::File)
                QCOMPARE(contentOf(dst() / name), "old " + name);
        }
        QCOMPARE(lost(pictures), std::string());
    }

    // A destination without a free number for every picture is refused before the run touches
    // anything; the message says how many numbers are free. (A million entries are too many to
    // make here: the room is asked for a million pictures instead.)
    void tooFewFreeNumbersIsRefused() {
        writeContent(dst() / "000005 x.jpg", "x");
        SerialNumbering numbering;
        const Result<HeldFolder> held = HeldFolder::open(dst());
        QVERIFY(held.ok());
        QVERIFY(numbering.meet(dst(), held.value()).ok());
        QVERIFY(numbering.checkRoom(dst(), 999999).ok());
        const Status refused = numbering.checkRoom(dst(), 1000000);
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().path, dst());
        QVERIFY2(refused.error().detail.find(" 999999 個") != std::string::npos,
                 refused.error().detail.c_str());
    }

    void destinationInsideTheSourceIsRefused_data() {
        QTest::addColumn<QByteArray>("destination");
        QTest::newRow("the source parent itself") << QByteArray("src");
        QTest::newRow("a child folder") << QByteArray("src/a");
        QTest::newRow("spelled with a trailing slash") << QByteArray("src/a/");
        QTest::newRow("a link to a child folder") << QByteArray("toChild");
    }
    void destinationInsideTheSourceIsRefused() {
        QFETCH(QByteArray, destination);
        makeTree({"a/1.jpg", "a/2.txt", "b/3.jpg"});
        fs::create_symlink(src() / "a", root() / "toChild");
        m_observer.dest = root() / destination.toStdString();
        const auto before = census(root());
        const MoveRunResult result = runMove(true);
        QCOMPARE(result.outcome, MoveOutcome::Failed);
        QCOMPARE(result.error->path, m_observer.dest);
        QVERIFY(m_folderList.empty());
        QCOMPARE(census(root()), before);
        QVERIFY(!fs::exists(files().counterFile()));
    }

    // Emptying these would destroy what the user never meant to give up.
    void sourcesThatMustNotBeEmptied_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("an ordinary parent folder") << QByteArray("src") << QByteArray("me") << true;
        QTest::newRow("the home folder") << QByteArray("me") << QByteArray("me") << false;
        QTest::newRow("above the home folder") << QByteArray("src") << QByteArray("src/a/me") << false;
        QTest::newRow("holding the program") << QByteArray("") << QByteArray("/nowhere") << false;
        QTest::newRow("holding the run history") << QByteArray("state") << QByteArray("/nowhere") << false;
        QTest::newRow("the root folder") << QByteArray("/") << QByteArray("/nowhere") << false;
    }
    void sourcesThatMustNotBeEmptied() {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, home);
        QFETCH(bool, allowed);
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home.startsWith('/') ? home : QByteArray((root() / home.toStdString()).c_str()));
        const fs::path parent =
            source.startsWith('/') ? fs::path(source.toStdString()) : root() / source.toStdString();
        SettingsFiles placed = files();
        placed.historyFolder = root() / "state" / "Corvalin" / "history"; // as an installed copy keeps it
        const Status checked = checkSource(parent, placed);
        qputenv("HOME", savedHome);
        QCOMPARE(checked.ok(), allowed);
    }

    // A refused source is refused by the run itself too, before anything is touched.
    void runRefusesASourceHoldingItsSettings() {
        makeTree({"a/1.jpg", "a/2.txt"});
        const auto before = census(root());
        MoveRun run(m_vars, {src() / "a", src() / "a"}, m_observer);
        QCOMPARE(run.run(src(), true, m_folderList).outcome, MoveOutcome::Failed);
        QCOMPARE(census(root()), before);
    }

    // The destination is read for every picture: a folder chosen during the run receives the
    // next pictures, and one inside the source tree stops the run there.
    void destinationChosenDuringTheRun() {
        fs::create_directories(root() / "dst2");
        const auto pictures = makeTree({"a/1.jpg", "a/2.jpg", "b/3.jpg", "b/4.jpg"});
        m_observer.onPreview = [&](const fs::path& file) {
            if (file.filename() == "2.jpg")
                m_observer.dest = root() / "dst2";
            if (file.filename() == "4.jpg")
                m_observer.dest = src() / "a";
        };
        const MoveRunResult result = runMove(true);
        QCOMPARE(result.outcome, MoveOutcome::Failed);
        QCOMPARE(result.error->path, src() / "a");
        QCOMPARE(namesIn(dst()), Names{"000000 1.jpg"});
        QCOMPARE(namesIn(root() / "dst2"), (Names{"000001 2.jpg", "000002 3.jpg"}));
        QCOMPARE(namesIn(src() / "b"), Names{"4.jpg"});
        QCOMPARE(lost(pictures), std::string());
    }

    // Across file systems the pictures go in batches, named in order once their copies are on the
    // disk; small folders share one unless it has waited long enough at a folder's end. A close
    // leaves the copies of the batch in hand unnamed: their sources stay. A cancel, taken at the
    // next folder, names them first.
    void acrossFileSystems_data() {
        QTest::addColumn<Names>("tree");
        QTest::addColumn<int>("count");    // a batch's cap in pictures
        QTest::addColumn<qint64>("bytes"); // and in bytes
        QTest::addColumn<int>("carryMs");  // and the age at which a folder's end commits it
        QTest::addColumn<Names>("taken");
        // The picture in hand at a close, or "cancel NAME", or "vanish NAME" (folder c then goes).
        QTest::addColumn<QString>("closeAt");
        QTest::addColumn<Names>("expected");
        QTest::addColumn<Names>("left"); // in the source's folder a
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("start"); // SerialNo before the run
        const int hour = 3600 * 1000;
        const Names fiveInA{"a/1.jpg", "a/2.jpg", "a/3.jpg", "a/4.jpg", "a/5.jpg"};
        const Names fiveNamed{"000000 1.jpg", "000001 2.jpg", "000002 3.jpg", "000003 4.jpg", "000004 5.jpg"};
        const Names threeFolders{"a/1.jpg", "a/2.jpg", "b/3.jpg", "b/4.jpg", "c/5.jpg"};
        QTest::newRow("a batch a folder")
            << Names{"a/1.jpg", "a/2.txt", "b/\x8e\xca\x90\x5e.jpg"} << 100 << qint64(256 << 20) << 0
            << Names{} << "" << Names{"000000 1.jpg", "000001 \x8e\xca\x90\x5e.jpg"} << Names{} << 2 << 0;
        QTest::newRow("folders sharing a batch") << threeFolders << 100 << qint64(1 << 20) << hour << Names{}
                                                 << "" << fiveNamed << Names{} << 5 << 0;
        QTest::newRow("closed in the next folder of a shared batch")
            << threeFolders << 100 << qint64(1 << 20) << hour << Names{} << "3.jpg" << Names{}
            << Names{"1.jpg", "2.jpg"} << 0 << 0;
        QTest::newRow("cancelled in the next folder of a shared batch")
            << threeFolders << 100 << qint64(1 << 20) << hour << Names{} << "cancel 3.jpg"
            << Names{"000000 1.jpg", "000001 2.jpg", "000002 3.jpg", "000003 4.jpg"} << Names{} << 4 << 0;
        QTest::newRow("a later folder gone: the shared batch arrives, the run goes on")
            << threeFolders << 100 << qint64(1 << 20) << hour << Names{} << "vanish 3.jpg"
            << Names{"000000 1.jpg", "000001 2.jpg", "000002 3.jpg", "000003 4.jpg"} << Names{} << 4 << 0;
        QTest::newRow("batches of two")
            << fiveInA << 2 << qint64(1 << 20) << hour << Names{} << "" << fiveNamed << Names{} << 5 << 0;
        QTest::newRow("every picture over the byte cap")
            << fiveInA << 100 << qint64(1) << hour << Names{} << "" << fiveNamed << Names{} << 5 << 0;
        QTest::newRow("taken names take the next numbers")
            << Names{"a/1.jpg", "a/2.jpg", "a/3.jpg"} << 100 << qint64(1 << 20) << hour
            << Names{"000001 2.jpg"} << ""
            << Names{"000000 1.jpg", "000001 2.jpg", "000002 2.jpg", "000003 3.jpg"} << Names{} << 4 << 0;
        QTest::newRow("numbers held across the wrap")
            << Names{"a/1.jpg", "a/2.jpg", "a/3.jpg"} << 100 << qint64(1 << 20) << hour
            << Names{"999999 x.jpg", "000001 x.jpg"} << ""
            << Names{"000000 2.jpg", "000001 x.jpg", "000002 3.jpg", "999998 1.jpg", "999999 x.jpg"}
            << Names{} << 3 << 999998;
        QTest::newRow("closed while a batch waits")
            << fiveInA << 100 << qint64(1 << 20) << hour << Names{} << "2.jpg" << Names{}
            << Names{"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"} << 0 << 0;
        // The names shown and the counter follow the copies still waiting, also round past 999999.
        QTest::newRow("a batch across the highest number")
            << Names{"a/1.jpg", "a/2.jpg", "a/3.jpg", "a/4.jpg"} << 100 << qint64(1 << 20) << hour << Names{}
            << "" << Names{"000000 3.jpg", "000001 4.jpg", "999998 1.jpg", "999999 2.jpg"} << Names{} << 2
            << 999998;
        QTest::newRow("closed after a full batch")
            << fiveInA << 2 << qint64(1 << 20) << hour << Names{} << "3.jpg"
            << Names{"000000 1.jpg", "000001 2.jpg"} << Names{"3.jpg", "4.jpg", "5.jpg"} << 2 << 0;
    }
    void acrossFileSystems() {
        QFETCH(Names, tree);
        QFETCH(int, count);
        QFETCH(qint64, bytes);
        QFETCH(int, carryMs);
        QFETCH(Names, taken);
        QFETCH(QString, closeAt);
        const auto other = otherFileSystemDir();
        if (!other)
            QSKIP("/dev/shm is not another file system here");
        m_observer.dest = other->path().toStdString();
        for (const std::string& name : taken)
            writeContent(m_observer.dest / name, "old " + name);
        const auto pictures = makeTree(tree);
        const QString how = closeAt.section(' ', 0, -2);
        const std::string stopAt = closeAt.section(' ', -1).toStdString();
        QFETCH(int, start);
        m_vars.SerialNo = start;
        // Whenever a name is shown, the counter file holds its number: a kill then leaves no number
        // given behind the counter, whatever the batch holds.
        QStringList behind;
        m_observer.onNewName = [&](const std::string& name) {
            if (counter() != std::to_string(std::stoi(name.substr(0, 6))) + "\r\n")
                behind << QString::fromStdString(name + " with the counter at " + counter());
        };
        m_observer.onPreview = [&](const fs::path& file) {
            if (file.filename() != stopAt)
                return;
            if (how == "vanish")
                fs::rename(src() / "c", root() / "c-gone");
            else
                (how == "cancel" ? m_observer.cancel : m_observer.stop) = true;
        };
        MoveRun run(m_vars, files(), m_observer);
        run.setBatchSettings({.bytes = std::uint64_t(bytes),
                              .count = std::size_t(count),
                              .folderCarry = std::chrono::milliseconds(carryMs)});
        const MoveRunResult result = run.run(src(), true, m_folderList);
        const MoveOutcome outcome =
            closeAt.isEmpty() || how == "vanish" ? MoveOutcome::Completed : MoveOutcome::Cancelled;
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.changedFolders.size(), std::size_t(how == "vanish" ? 1 : 0));
        QTEST(namesIn(m_observer.dest), "expected");
        QTEST(namesIn(src() / "a"), "left");
        QTEST(int(m_vars.SerialNo), "end");
        for (const std::string& name : taken)
            QCOMPARE(contentOf(m_observer.dest / name), "old " + name);
        QCOMPARE(behind, QStringList());
        if (closeAt.isEmpty()) { // the labels foretold the names, held numbers passed over
            Names shown = m_observer.newNames;
            std::sort(shown.begin(), shown.end());
            const Names there = namesIn(m_observer.dest);
            Names before = taken;
            std::sort(before.begin(), before.end());
            Names arrived;
            std::set_difference(there.begin(), there.end(), before.begin(), before.end(),
                                std::back_inserter(arrived));
            QCOMPARE(shown, arrived);
        }
        // What the label keeps after the run is the last picture's own name.
        if (closeAt.isEmpty())
            QVERIFY2(fs::exists(m_observer.dest / m_observer.newNames.back()),
                     m_observer.newNames.back().c_str());
        // The summary counts each picture once its batch has put it in place, a folder or more on.
        const GatherCounts& counts = m_observer.tally.finish();
        QCOMPARE(counts.pictures, long(namesIn(m_observer.dest).size() - taken.size()));
        QCOMPARE(counts.others, long(std::count(tree.begin(), tree.end(), "a/2.txt")));
        if (taken.empty() && counts.pictures > 0)
            QCOMPARE(counts.lastNumber,
                     std::optional<std::int32_t>((start + counts.pictures - 1) % (kHighestSerialNo + 1)));
        QCOMPARE(lostOrDoubled(pictures, {root(), m_observer.dest}), std::string());
        fs::remove_all(m_observer.dest); // names that are not UTF-8 defeat QTemporaryDir
    }

    // Any failing operation stops the run where it is, names the file and the reason, and ends as a
    // cancel: no folder is deleted afterwards, and every picture is still there exactly once.
    void failuresStopTheRunAndLoseNothing_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("counter file cannot be written")
            << "counter" << int(EISDIR) << QByteArray("prog/Quillet.ini");
    }
    void failuresStopTheRunAndLoseNothing() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, named);
        const auto pictures = makeTree({"a/1.jpg", "b/2.jpg", "c/3.jpg"});
        if (fault == "counter")
            fs::create_directories(files().counterFile());
        auto journal = RunJournal::create(root() / "history", moveRunStart(0, src(), dst(), true, Removal()));
        m_journal = &journal.value();
        const MoveRunResult result = runMove(true);
        QVERIFY(journal.value().finish(kOutcomeFailed));
        // The history counts what arrived, not the move that failed.
        const auto runs = listRuns(root() / "history");
        QVERIFY(runs.value().empty() || runs.value()[0].state == RunState::Interrupted);
        const std::size_t arrived = namesIn(dst()).size();
        QCOMPARE(runs.value().empty() ? std::size_t(0) : std::size_t(runs.value()[0].picturesMoved), arrived);
        QCOMPARE(result.outcome, MoveOutcome::Failed);
        QTEST(result.error->code, "code");
        QVERIFY2(result.error->path.native().starts_with((root() / named.toStdString()).native()),
                 result.error->path.c_str());
        QVERIFY(fs::exists(src() / "c" / "3.jpg"));
        QCOMPARE(fs::current_path(), src());
        QCOMPARE(lost(pictures), std::string());
    }

    // A picture whose new name the destination's file system cannot hold is known before anything
    // is done to it: it stays with its child folder, the others move. A name that fits to the byte
    // moves, and so does one whose old prefix makes room.
    // A child folder that is no longer the one surveyed when the run comes to it is left with
    // everything in it, never followed nor removed; the others are gathered and the end names it.
    // The destination, held once met, takes every picture wherever its path leads by then.
    void aChangedFolderIsLeftAndTheRunGoesOn_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("expected"); // FolderChange of src/b, or -1 for none
        QTest::newRow("removed") << "removed" << int(FolderChange::Gone);
        QTest::newRow("swapped for a link to a folder outside") << "link" << int(FolderChange::NoFolder);
        QTest::newRow("another folder under its name") << "another" << int(FolderChange::AnotherFolder);
        QTest::newRow("replaced by a file") << "file" << int(FolderChange::NoFolder);
        QTest::newRow("destination renamed: pictures follow the folder") << "destination" << -1;
    }
    void aChangedFolderIsLeftAndTheRunGoesOn() {
        QFETCH(QString, change);
        const auto pictures = makeTree({"a/1.jpg", "b/2.jpg", "b/x.txt", "c/3.jpg"});
        const fs::path victim = root() / "victim";
        writeContent(victim / "v.jpg", "victim's picture");
        writeContent(victim / "v.txt", "victim's text");
        bool done = false;
        m_observer.onYield = [&] {
            if (done || !m_observer.surveyDone || m_observer.foldersFinished.empty())
                return;
            done = true;
            if (change == "destination") {
                fs::rename(dst(), root() / "dst-moved");
                return;
            }
            fs::rename(src() / "b", root() / "b-elsewhere");
            if (change == "link")
                fs::create_directory_symlink(victim, src() / "b");
            if (change == "another")
                writeContent(src() / "b/other.jpg", "another folder's");
            if (change == "file")
                writeContent(src() / "b", "a file");
        };
        const MoveRunResult result = runMove(true);
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(namesIn(victim), (Names{"v.jpg", "v.txt"}));
        QCOMPARE(contentOf(victim / "v.jpg"), std::string("victim's picture"));
        QFETCH(int, expected);
        if (expected < 0) {
            QVERIFY(result.changedFolders.empty());
            QVERIFY(!fs::exists(dst()));
            QCOMPARE(namesIn(root() / "dst-moved").size(), std::size_t(3));
            QCOMPARE(lost(pictures), std::string());
            return;
        }
        QCOMPARE(result.changedFolders.size(), std::size_t(1));
        QCOMPARE(result.changedFolders[0].path, src() / "b");
        QCOMPARE(int(result.changedFolders[0].change), expected);
        QCOMPARE(namesIn(dst()), (Names{"000000 1.jpg", "000001 3.jpg"}));
        QCOMPARE(namesIn(root() / "b-elsewhere"), (Names{"2.jpg", "x.txt"}));
        if (change != "removed") // never removed, whatever it is now
            QVERIFY(fs::symlink_status(src() / "b").type() != fs::file_type::not_found);
        QVERIFY(!fs::exists(src() / "a") && !fs::exists(src() / "c"));
        if (change == "another")
            QCOMPARE(namesIn(src() / "b"), Names{"other.jpg"});
        QCOMPARE(lost(pictures), std::string());
    }

    // The same for a folder changed while its other files wait for the Trash (the journal's next
    // flush): they stay in it, the journal says they did not go, and the run ends as above.
    void aFolderChangedWhileItsFilesWaitIsLeft_data() {
        QTest::addColumn<bool>("deleteFolders");
        QTest::addColumn<QString>("change");
        QTest::newRow("moved out") << false << "moved";
        QTest::newRow("moved out, child folders deleted") << true << "moved";
        QTest::newRow("swapped for a link, child folders deleted") << true << "link";
    }
    void aFolderChangedWhileItsFilesWaitIsLeft() {
        QFETCH(bool, deleteFolders);
        QFETCH(QString, change);
        const auto pictures = makeTree({"a/1.jpg", "b/2.jpg", "b/x.txt", "c/3.jpg"});
        writeContent(root() / "victim/v.txt", "victim's text");
        auto journal = RunJournal::create(root() / "history", moveRunStart(0, src(), dst(), true, Removal()));
        m_journal = &journal.value();
        m_observer.onYield = [&] {
            if (m_observer.foldersFinished.size() != 2 || fs::exists(root() / "b-elsewhere"))
                return;
            fs::rename(src() / "b", root() / "b-elsewhere");
            if (change == "link")
                fs::create_directory_symlink(root() / "victim", src() / "b");
        };
        const MoveRunResult result = runMove(deleteFolders);
        QVERIFY(journal.value().finish(kOutcomeCompleted));
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(result.changedFolders.size(), std::size_t(1));
        QCOMPARE(result.changedFolders[0].path, src() / "b");
        QCOMPARE(namesIn(root() / "b-elsewhere"), Names{"x.txt"});
        QCOMPARE(namesIn(root() / "victim"), Names{"v.txt"});
        QCOMPARE(trashed(m_home->trash()), deleteFolders ? (Names{"a", "c"}) : Names{});
        // Only what went is in the history: the text file that stayed is not counted as trashed.
        const auto runs = listRuns(root() / "history");
        QCOMPARE(runs.value().at(0).filesTrashed, 0);
        QCOMPARE(lost(pictures), std::string());
    }

    void namesTooLongStayWithTheirFolder_data() {
        QTest::addColumn<QByteArray>("name"); // in src/b/deep
        QTest::addColumn<bool>("moves");
        const auto name = [](std::size_t bytes, const std::string& head = {}) {
            return QByteArray::fromStdString(head + std::string(bytes - head.size() - 4, 'n') + ".jpg");
        };
        QTest::newRow("248 bytes") << name(248) << true;
        QTest::newRow("249 bytes") << name(249) << false;
        QTest::newRow("250 bytes") << name(250) << false;
        QTest::newRow("255 bytes") << name(255) << false;
        QTest::newRow("255 bytes with an old prefix") << name(255, "000007 ") << true;
        std::string japanese;
        for (int i = 0; i < 83; ++i)
            japanese += "写"; // three bytes each
        QTest::newRow("255 bytes, 87 characters") << name(255, japanese) << false;
    }
    void namesTooLongStayWithTheirFolder() {
        QFETCH(QByteArray, name);
        QFETCH(bool, moves);
        const std::string file = "b/deep/" + name.toStdString();
        const auto pictures = makeTree({"a/1.jpg", file, "b/2.jpg", "c/3.jpg"});
        const MoveRunResult result = runMove(true);
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(lost(pictures), std::string());
        QCOMPARE(namesIn(dst()).size(), std::size_t(moves ? 4 : 3));
        QCOMPARE(m_vars.SerialNo, moves ? 4 : 3);
        QCOMPARE(result.namesTooLong, moves ? std::vector<fs::path>{} : std::vector{src() / file});
        QCOMPARE(result.foldersKeptForLongNames, moves ? std::vector<fs::path>{} : std::vector{src() / "b"});
        QCOMPARE(namesIn(src()), moves ? Names{} : Names{"b"});
        QCOMPARE(result.longestName, std::size_t(255));
    }

    // Read-only folders and full disks only show as an unprivileged user or in a private mount, so
    // the run goes on in a child process. The message names the place at fault (the picture first
    // when the destination refused it), never another one.
    void failuresInAChild_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("blamed"); // the error's folder or file, below the test's folder
        QTest::addColumn<QString>("file");   // the picture the destination refused, if any
        QTest::newRow("read-only folder") << "readOnlyFolder" << int(EACCES) << "src/b"
                                          << "";
        QTest::newRow("full destination") << "full" << int(ENOSPC) << "dst"
                                          << "src/b/2.jpg";
        QTest::newRow("file size limit across file systems") << "sizeLimit" << int(EFBIG) << "other"
                                                             << "src/b/2.jpg";
        QTest::newRow("full journal") << "fullJournal" << int(ENOSPC) << "history/"
                                      << "";
    }
    void failuresInAChild() {
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, blamed);
        QFETCH(QString, file);
        auto other = otherFileSystemDir();
        if (fault == "sizeLimit" && !other)
            QSKIP("/dev/shm is not another file system here");
        if (fault == "sizeLimit")
            m_observer.dest = other->path().toStdString();
        auto pictures = makeTree({"a/1.jpg", "b/2.jpg", "c/3.jpg"});
        pictures[1] = std::string(48 * 1024, 'b');
        writeContent(src() / "b" / "2.jpg", pictures[1]);
        // Records of long names fill the journal's only block within the first folder.
        for (int i = 0; fault == "fullJournal" && i < 20; ++i)
            pictures.push_back(makeTree({"a/" + std::string(200, 'n') + std::to_string(i) + ".jpg"})[0]);
        fs::create_directories(root() / "history");
        if (fault == "readOnlyFolder") {
            openToEveryone(root());
            ::chmod((src() / "b").c_str(), 0555);
        }
        std::vector<fs::path> roots{root()};
        if (fault == "sizeLimit")
            roots.push_back(m_observer.dest);
        const fs::path blamedPath = blamed == "other" ? m_observer.dest : root() / blamed.toStdString();
        const int result = runInChild([&] {
            const bool ready = fault == "readOnlyFolder" ? dropPrivileges()
                               : fault == "full"         ? mountPrivateTmpfs(dst(), "40k")
                               : fault == "fullJournal"  ? mountPrivateTmpfs(root() / "history", "4k")
                                                         : limitFileSize(4096);
            if (!ready)
                return skipExit;
            std::optional<RunJournal> journal;
            if (fault == "fullJournal") {
                journal.emplace(std::move(
                    RunJournal::create(root() / "history", moveRunStart(0, src(), dst(), true, Removal()))
                        .value()));
                m_journal = &*journal;
            }
            const MoveRunResult run = runMove(true);
            const bool stopped = run.outcome == MoveOutcome::Failed && run.error && run.error->code == code;
            const bool named = stopped && run.error->path.native().starts_with(blamedPath.native()) &&
                               run.error->file == (file.isEmpty() ? fs::path() : root() / file.toStdString());
            if (!named && run.error)
                std::fprintf(stderr, "%s\n", run.error->path.c_str());
            // Checked here: a private mount goes with the child.
            return named && lostOrDoubled(pictures, roots).empty() ? 0 : 1;
        });
        ::chmod((src() / "b").c_str(), 0755);
        if (result == skipExit)
            QSKIP("cannot set up this fault here");
        QCOMPARE(result, 0);
        QVERIFY(fs::exists(src() / "b" / "2.jpg"));
        QVERIFY(fs::exists(src() / "c" / "3.jpg"));
    }

    // A disk that fills during a batch: the copies already whole arrive under their names, the one
    // cut short goes, and the run stops there with the reason.
    void fullDiskDuringABatch() {
        auto pictures = makeTree({"a/1.jpg", "a/2.jpg", "a/3.jpg", "a/4.jpg"});
        pictures[2] = std::string(64 * 1024, 'c');
        writeContent(src() / "a" / "3.jpg", pictures[2]);
        const int result = runInChild([&] {
            if (!mountPrivateTmpfs(dst(), "40k"))
                return skipExit;
            const MoveRunResult run = runMove(true);
            const bool stopped =
                run.outcome == MoveOutcome::Failed && run.error->code == ENOSPC && run.error->path == dst();
            const bool named = namesIn(dst()) == Names{"000000 1.jpg", "000001 2.jpg"};
            return stopped && named && lostOrDoubled(pictures, {root()}).empty() ? 0 : 1;
        });
        if (result == skipExit)
            QSKIP("cannot mount a small file system here");
        QCOMPARE(result, 0);
        QCOMPARE(namesIn(src() / "a"), (Names{"3.jpg", "4.jpg"}));
    }

    // A volume's root as destination: one "/" between it and the new name. The root is faked by
    // changing the root of a child process.
    void rootAsDestination() {
        makeTree({"a/1.jpg"});
        openToEveryone(root());
        const int result = runInChild([&] {
            if (!enterOwnUserNamespace() || ::chroot(root().c_str()) != 0 || ::chdir("/") != 0)
                return skipExit;
            ScriptedObserver observer;
            observer.dest = "/";
            Module1 vars;
            std::vector<fs::path> list;
            MoveRun run(vars, {"/prog", "/prog"}, observer);
            const MoveRunResult moved = run.run("/src", false, list);
            const bool named = observer.previews == std::vector<fs::path>{"/src/a/1.jpg"};
            return moved.outcome == MoveOutcome::Completed && named && fs::exists("/000000 1.jpg") ? 0 : 1;
        });
        if (result == skipExit)
            QSKIP("cannot change the root here");
        QCOMPARE(result, 0);
    }

private:
    static bool limitFileSize(rlim_t bytes) {
        const struct rlimit limit = {bytes, bytes};
        return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
};

QTEST_APPLESS_MAIN(TestMoveRun)
#include "test_move_run.moc"
