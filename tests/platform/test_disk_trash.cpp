// A run's Trash on the disks people carry pictures on, each mounted for real
// (tests/support/disk_mounts.h): where the run puts what it trashes, as the desktop's own client
// would; undo taking it back out; a trash the desktop refuses refused before the run; an info file
// a cut left empty written again at the next start.
#include "app/startup.h"
#include "engine/move_run.h"
#include "history/run_history.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "history/undo_log.h"
#include "plan/move_plan.h"
#include "platform/posix_io.h"
#include "platform/trash.h"

#include "desktop_trash.h"
#include "disk_helpers.h"
#include "disk_mounts.h"
#include "quiet_observers.h"

#include <QDateTime>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(corvalin::test::DiskKind)

class TestDiskTrash : public QObject {
    Q_OBJECT

private slots:
    // A run's trashed items go where the desktop's trash client puts its own on that disk, with
    // info files it reads back (the path below the disk's top, percent-encoded), and come back out
    // on every disk, never over a name that is taken.
    void runTrashesWhereTheDesktopDoes_data() {
        QTest::addColumn<DiskKind>("kind");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("pathValue");
        QTest::newRow("exfat-fuse") << DiskKind::ExFatFuse << QByteArray("メモ 1.txt")
                                    << QByteArray("src/a/%E3%83%A1%E3%83%A2%201.txt");
        QTest::newRow("fusefat") << DiskKind::FatFuse << QByteArray("notes 1.txt")
                                 << QByteArray("src/a/notes%201.txt");
        QTest::newRow("ntfs-3g") << DiskKind::Ntfs3g << QByteArray("メモ 1.txt")
                                 << QByteArray("src/a/%E3%83%A1%E3%83%A2%201.txt");
        QTest::newRow("sshfs, CP932")
            << DiskKind::Sshfs << QByteArray("\x83\x81\x83\x82.txt") << QByteArray("src/a/%83%81%83%82.txt");
    }
    void runTrashesWhereTheDesktopDoes() {
        QFETCH(DiskKind, kind);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, pathValue);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        const fs::path top = disk->mountPoint();
        makeEntries(top, {"d:src", "d:src/a", "f:src/a/cat.jpg", "f:src/a/" + name});
        QTemporaryDir dir;
        const MoveRunResult result = gatherIntoTrash(top / "src", fs::path(dir.path().toStdString()));
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        const fs::path trash = top / (".Trash-" + std::to_string(::getuid()));
        QCOMPARE(allNames(trash / "files"), (QByteArrayList{"a", name}));
        const std::string infoText =
            readWholeFile(trash / "info" / (name.toStdString() + ".trashinfo")).value();
        QVERIFY2(QByteArray::fromStdString(infoText).contains("\nPath=" + pathValue + "\nDeletionDate=20"),
                 infoText.c_str());

        checkTheClientAgrees(top, trash, top / "src/a" / name.toStdString());
        const Result<HeldFolder> files = HeldFolder::open(trash / "files");
        const Result<HeldFolder> source = HeldFolder::open(top / "src");
        QVERIFY(files.ok() && source.ok());
        QCOMPARE(moveOutOfTrash(files.value(), "a", source.value(), "a").code(), 0); // a folder
        const Result<HeldFolder> folder = HeldFolder::open(top / "src/a");
        QVERIFY(folder.ok());
        writeBytes(top / "src/a" / name.toStdString(), "picture");
        QCOMPARE(moveOutOfTrash(files.value(), name.toStdString(), folder.value(), name.toStdString()).code(),
                 EEXIST);
        QCOMPARE(readWholeFile(top / "src/a" / name.toStdString()).value(), "picture");
        QCOMPARE(::unlinkat(folder.value().fd(), name.constData(), 0), 0);
        QCOMPARE(moveOutOfTrash(files.value(), name.toStdString(), folder.value(), name.toStdString()).code(),
                 0);
        QCOMPARE(allNames(trash / "files"), QByteArrayList{"other.txt"});
    }

    // Undo of a run that trashed a child folder and a file on such a disk: the folder comes out of
    // the disk's trash under its name, the file back into it, byte for byte, and the trash shows
    // nothing of the run any more; also after an earlier undo was killed between the empty folder
    // it made for the folder and the folder's rename onto it.
    void undoTakesTrashedItemsOutOnADiskWithoutSafeRenames_data() {
        addRowsOfSticksWithoutSafeRenames("killedBefore", "", ", after a killed undo");
    }
    void undoTakesTrashedItemsOutOnADiskWithoutSafeRenames() {
        QFETCH(DiskKind, kind);
        QFETCH(bool, killedBefore);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        const fs::path top = disk->mountPoint();
        makeEntries(top, {"d:src", "d:src/a", "d:src/b"});
        writeBytes(top / "src/a/cat.jpg", std::string(70000, 'c'));
        writeBytes(top / "src/a/notes.txt", "notes");
        QTemporaryDir dir;
        const fs::path work(dir.path().toStdString());
        QCOMPARE(gatherIntoTrash(top / "src", work).outcome, MoveOutcome::Completed);
        const fs::path trash = top / (".Trash-" + std::to_string(::getuid()));
        QCOMPARE(allNames(trash / "files"), (QByteArrayList{"a", "b", "notes.txt"}));

        const Result<std::vector<RunSummary>> runs = listRuns(work / "prog/history");
        QVERIFY(runs.ok() && runs.value().size() == 1);
        if (killedBefore)
            killUndoWithFolderMade(runs.value().front().file, top / "src/a");
        QuietUndo observer;
        const UndoOutcome undone = undoRun(runs.value().front().file, observer);
        QVERIFY2(!undone.error, undone.error ? undone.error->reason().c_str() : "");
        QCOMPARE(allNames(top / "src"), (QByteArrayList{"a", "b"}));
        QCOMPARE(allNames(top / "src/a"), (QByteArrayList{"cat.jpg", "notes.txt"}));
        QCOMPARE(readWholeFile(top / "src/a/cat.jpg").value(), std::string(70000, 'c'));
        QCOMPARE(readWholeFile(top / "src/a/notes.txt").value(), std::string("notes"));
        QCOMPARE(allNames(trash / "files"), QByteArrayList());
        QCOMPARE(allNames(trash / "info"), QByteArrayList());
    }

    // A disk without owners mounted for another user shows every new folder as theirs: the
    // desktop's client refuses a trash there, and so does a run, before anything is touched, with
    // the disk named and the way out; the plan says the same, and nothing is left on the disk.
    void trashTheDesktopRefusesIsRefusedBeforeTheRun_data() {
        QTest::addColumn<DiskKind>("kind");
        QTest::newRow("exfat-fuse") << DiskKind::ExFatFuse;
        QTest::newRow("fusefat") << DiskKind::FatFuse;
    }
    void trashTheDesktopRefusesIsRefusedBeforeTheRun() {
        QFETCH(DiskKind, kind);
        CORVALIN_MOUNT_OR_SKIP(disk, kind, "uid=65534,gid=65534");
        const fs::path top = disk->mountPoint();
        makeEntries(top, {"d:src", "d:src/a", "f:src/a/cat.jpg", "f:src/a/notes.txt"});
        QTemporaryDir dir;
        const fs::path work(dir.path().toStdString());
        const PlanRequest request{top / "src", work / "dest", true, false, {}, false};
        const MovePlan plan = makeMovePlan(Module1{}, {work / "prog", work / "prog"}, request);
        const MoveRunResult result = gatherIntoTrash(top / "src", work);
        QCOMPARE(result.outcome, MoveOutcome::Failed);
        QCOMPARE(plan.outcome, MoveOutcome::Failed);
        QCOMPARE(plan.error, result.error);
        const std::string told = result.error->reason() + " " + result.error->advice;
        for (const std::string& part : {std::string("所有者が別のユーザー"), "このディスク（" + top.native(),
                                        std::string("「ごみ箱を使わずに完全に削除する」")})
            QVERIFY2(told.find(part) != std::string::npos, told.c_str());
        QCOMPARE(allNames(top / "src/a"), (QByteArrayList{"cat.jpg", "notes.txt"}));
        QCOMPARE(allNames(work / "dest"), QByteArrayList());
        if (gioTrash((top / "src/a/notes.txt").native()) < 0)
            QSKIP("gio is missing (package libglib2.0-bin)");
        QCOMPARE(allNames(top), QByteArrayList{"src"}); // no trash folder made by either
        QCOMPARE(allNames(top / "src/a"), (QByteArrayList{"cat.jpg", "notes.txt"}));
    }

    // A cut left an info file empty on a disk without change times (its files show their own
    // dates): the next start writes it again dated no earlier than its run, as the client reads it.
    void startAfterACutRepairsTheInfoFile() {
        CORVALIN_MOUNT_OR_SKIP(disk, DiskKind::ExFatFuse);
        const fs::path top = disk->mountPoint();
        makeEntries(top, {"d:src", "d:src/a", "f:src/a/cat.jpg", "f:src/a/old.txt"});
        const struct timespec longAgo[2] = {{1577836800, 0}, {1577836800, 0}}; // 2020-01-01
        QCOMPARE(::utimensat(AT_FDCWD, (top / "src/a/old.txt").c_str(), longAgo, 0), 0);
        QTemporaryDir dir;
        const fs::path work(dir.path().toStdString());
        const std::string notBefore =
            QDateTime::currentDateTime().addSecs(-2).toString("yyyy-MM-ddThh:mm:ss").toStdString();
        QCOMPARE(gatherIntoTrash(top / "src", work).outcome, MoveOutcome::Completed);
        const fs::path info = top / (".Trash-" + std::to_string(::getuid())) / "info/old.txt.trashinfo";
        QVERIFY(::truncate(info.c_str(), 0) == 0);
        // The session began before the run, and never ended.
        const SettingsFiles files{work / "prog", work / "prog"};
        writeBytes(files.settingsFile(),
                   "\"" + (top / "src").native() + "\",\"" + (work / "dest").native() + "\",\"\",1,0\r\n");
        const struct timespec before[2] = {{std::time(nullptr) - 60, 0}, {std::time(nullptr) - 60, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, files.settingsFile().c_str(), before, 0), 0);
        Module1 vars;
        QCOMPARE(runStartup(vars, files).uncleanEnd.infoFilesRewritten, 1);
        const Result<TrashInfo> read = readTrashInfo(info);
        QVERIFY(read.ok());
        QCOMPARE(read.value().place.original, top / "src/a/old.txt");
        QVERIFY2(read.value().deletionDate >= notBefore, read.value().deletionDate.c_str());
    }

private:
    // What a kill leaves of an undo pass that began on the trashed folder `folder` and made the
    // empty folder it was to be renamed onto.
    void killUndoWithFolderMade(const fs::path& journal, const fs::path& folder) {
        JournalContents contents;
        Result<std::unique_ptr<UndoLog>> log = openUndoLog(journal, contents);
        QVERIFY(log.ok());
        const auto trashed = std::find_if(contents.records.begin(), contents.records.end(),
                                          [&](const JournalRecord& r) { return r.from == folder; });
        QVERIFY(trashed != contents.records.end() && trashed->type == RecordType::Trash);
        JournalRecord step(RecordType::UndoStep);
        step.number = trashed - contents.records.begin() + 1;
        QVERIFY(log.value()->append(JournalRecord(RecordType::UndoStart)).ok());
        QVERIFY(log.value()->append(step).ok());
        QVERIFY(log.value()->close().ok());
        QCOMPARE(::mkdir(folder.c_str(), 0700), 0);
    }

    // A gather of `source` into `work`/dest with what it removes going to the trash, journaled.
    MoveRunResult gatherIntoTrash(const fs::path& source, const fs::path& work) {
        fs::create_directories(work / "dest");
        fs::create_directories(work / "prog");
        Module1 vars;
        QuietMove observer(work / "dest");
        const SettingsFiles files{work / "prog", work / "prog"};
        const Removal removal(false);
        Result<RunJournal> journal =
            RunJournal::create(files.history(), moveRunStart(0, source, work / "dest", true, removal));
        if (!journal) {
            MoveRunResult failed;
            failed.outcome = MoveOutcome::Failed;
            return failed;
        }
        MoveRun run(vars, files, observer, removal);
        run.setJournal(&journal.value());
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(source, true, folderList);
        (void)journal.value().finish(journalOutcome(result.outcome));
        return result;
    }

    // The desktop's client trashes a file of the same disk into the same trash and lists what the
    // run trashed under its original path.
    void checkTheClientAgrees(const fs::path& top, const fs::path& trash, const fs::path& trashed) {
        writeBytes(top / "other.txt", "picture");
        if (gioTrash((top / "other.txt").native()) < 0)
            QSKIP("gio is missing (package libglib2.0-bin)");
        QVERIFY(fs::exists(trash / "files/other.txt"));
        const QByteArray listed = gioListing();
        if (listed.isEmpty())
            QSKIP("the desktop's trash backend is missing (packages gvfs, dbus)");
        QVERIFY2(listed.contains("trash::orig-path=" + asGioPrints(trashed.native())), listed.constData());
    }
};

QTEST_GUILESS_MAIN(TestDiskTrash)
#include "test_disk_trash.moc"
