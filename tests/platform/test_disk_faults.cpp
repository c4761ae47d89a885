// Disks that fail a run half way, each for real (tests/support/disk_mounts.h): a stick pulled out,
// a full stick, a FAT folder at its entry limit, a read-only mount. The run stops with the disk
// named and the true reason, every picture is exactly once in its folder or in the destination,
// the history counts what arrived, and undo brings every picture back byte for byte.
#include "engine/disk_trouble.h"
#include "engine/move_run.h"
#include "history/run_history.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "platform/posix_io.h"

#include "disk_helpers.h"
#include "disk_mounts.h"
#include "fat_folder.h"
#include "other_file_system.h"
#include "program_run.h"
#include "quiet_observers.h"
#include "syscall_listener.h"

#include <QTest>
#include <cerrno>
#include <cstring>
#include <map>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(corvalin::test::DiskKind)
Q_DECLARE_METATYPE(corvalin::DiskFault)

namespace {

enum class Trouble { PulledOut, Full, TopFolderFull, CrowdedFolder };

// Pulls the stick out as the run starts its third folder, after two have arrived.
class PullingMove : public QuietMove {
public:
    PullingMove(fs::path destination, MountedDisk* disk) : QuietMove(std::move(destination)), m_disk(disk) {}
    void folderStarted(const fs::path&) override {
        if (m_disk && ++m_folders == 3)
            m_pulled = m_disk->pullOut();
    }
    bool pulled() const { return m_pulled; }

private:
    MountedDisk* m_disk;
    int m_folders = 0;
    bool m_pulled = false;
};

// Closes the window once two pictures have their names in the destination, in the middle of the
// commit that names a folder's copies, and counts the display's yields meanwhile.
class ClosingMove : public QuietMove {
public:
    explicit ClosingMove(fs::path destination) : QuietMove(destination), m_folder(std::move(destination)) {}
    void yieldForDisplay() override { m_yieldsWhileNaming += named() > 0 && named() < 5; }
    bool stopRequested() override { return named() >= 2; }
    int yieldsWhileNaming() const { return m_yieldsWhileNaming; }

private:
    int named() const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(m_folder))
            count += entry.path().filename().native().starts_with("00000");
        return count;
    }
    fs::path m_folder;
    int m_yieldsWhileNaming = 0;
};

// Every file below `folder`, by content.
void collectContents(const fs::path& folder, std::multimap<std::string, fs::path>& found) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() == ".jpg")
            found.emplace(readWholeFile(entry.path()).value(), entry.path());
    }
}

// The picture is back where it was, whole.
void checkHolds(const fs::path& path, const std::string& bytes) {
    const Result<std::string> read = readWholeFile(path);
    QVERIFY2(read.ok(), path.c_str());
    QVERIFY2(read.value() == bytes, path.c_str());
}

} // namespace

class TestDiskFaults : public QObject {
    Q_OBJECT

private slots:
    // What a failure into the destination is told as, from what the disk says of itself after it.
    void faultIsToldAsTheDiskShowsIt_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("askError");
        QTest::addColumn<qulonglong>("freeBytes");
        QTest::addColumn<QString>("type");
        QTest::addColumn<DiskFault>("fault");
        const qulonglong lots = 1 << 30;
        QTest::newRow("driver gone, any reason") << EPERM << ENOTCONN << 0ULL << "fuseblk" << DiskFault::Gone;
        QTest::newRow("device gone") << EIO << EIO << 0ULL << "vfat" << DiskFault::Gone;
        QTest::newRow("no space") << ENOSPC << 0 << 1000ULL << "ext4" << DiskFault::Full;
        QTest::newRow("no space said, room left, ext4") << ENOSPC << 0 << lots << "ext4" << DiskFault::Full;
        QTest::newRow("no space said, room left, FAT")
            << ENOSPC << 0 << lots << "vfat" << DiskFault::FolderFull;
        QTest::newRow("quota") << EDQUOT << 0 << lots << "ext4" << DiskFault::Full;
        QTest::newRow("FUSE FAT full says EPERM")
            << EPERM << 0 << 1000ULL << "fuse.fusefat" << DiskFault::Full;
        QTest::newRow("FUSE FAT folder full says EPERM")
            << EPERM << 0 << lots << "fuse.fusefat" << DiskFault::FolderFull;
        QTest::newRow("exFAT full says EIO") << EIO << 0 << 1000ULL << "exfat" << DiskFault::Full;
        QTest::newRow("exFAT EIO with room: a disk fault") << EIO << 0 << lots << "exfat" << DiskFault::None;
        QTest::newRow("ext4 EPERM is a refusal") << EPERM << 0 << 1000ULL << "ext4" << DiskFault::None;
        QTest::newRow("other failure") << EINVAL << 0 << lots << "vfat" << DiskFault::None;
    }
    void faultIsToldAsTheDiskShowsIt() {
        QFETCH(int, code);
        QFETCH(int, askError);
        QFETCH(qulonglong, freeBytes);
        QFETCH(QString, type);
        const DiskAnswer answer{askError, freeBytes, 4096};
        QTEST(diskFaultOf(code, answer, 300000, rulesForFileSystemType(type.toStdString())), "fault");
    }

    // A stick that stops taking pictures half way: the run stops there and says why, naming the
    // disk; nothing is lost or counted twice, no cut copy stays, and undo brings everything back.
    void diskThatStopsMidRun_data() {
        QTest::addColumn<DiskKind>("kind");
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<int>("pictureSize");
        QTest::addColumn<QString>("said");
        QTest::newRow("exfat-fuse pulled out")
            << DiskKind::ExFatFuse << Trouble::PulledOut << 20000 << "が取り外されたか、応答しなくなりました";
        QTest::newRow("fusefat pulled out")
            << DiskKind::FatFuse << Trouble::PulledOut << 20000 << "が取り外されたか、応答しなくなりました";
        QTest::newRow("fusefat full") << DiskKind::FatFuse << Trouble::Full << 300000 << "に空きがありません";
        // FAT12 and FAT16 give their top folder a fixed few entries; FAT's driver says EPERM.
        QTest::newRow("fusefat top folder full") << DiskKind::FatFuse << Trouble::TopFolderFull << 1000
                                                 << "一つのフォルダに入るファイルの数の上限";
        // FAT's limit is 65,536 entries a folder: the kernel refuses more with ENOSPC, which the
        // run tells as above; this FUSE driver lets the folder grow, and the run completes.
        QTest::newRow("fusefat folder of 65,530 entries") << DiskKind::FatFuse << Trouble::CrowdedFolder
                                                          << 1000 << "一つのフォルダに入るファイルの数の上限";
    }
    void diskThatStopsMidRun() {
        QFETCH(DiskKind, kind);
        QFETCH(Trouble, trouble);
        QFETCH(int, pictureSize);
        QFETCH(QString, said);
        const bool fat = kind == DiskKind::FatFuse;
        const QStringList format = !fat                                ? QStringList()
                                   : trouble == Trouble::TopFolderFull ? QStringList{"-F", "12", "-r", "32"}
                                   : trouble == Trouble::Full          ? QStringList{"-F", "12"}
                                                                       : QStringList{"-F", "32", "-s", "8"};
        CORVALIN_MOUNT_OR_SKIP(disk, kind, QString(), trouble == Trouble::CrowdedFolder ? "300M" : "4M",
                               format);
        fs::path destination = disk->mountPoint();
        if (trouble == Trouble::CrowdedFolder) {
            runTool("umount", {QString::fromStdString(disk->mountPoint().native())});
            const std::string why = addCrowdedFolder(disk->image(), 65530);
            QVERIFY2(why.empty(), why.c_str());
            QCOMPARE(disk->plugBackIn(), QString());
            destination /= "FULL";
        }
        QTemporaryDir dir;
        const fs::path home(dir.path().toStdString());
        std::multimap<std::string, fs::path> pictures;
        // Each call on a folder of 65,530 entries takes this FUSE driver a walk through all of them.
        const int perFolder = trouble == Trouble::CrowdedFolder ? 1 : 5;
        for (int folder = 1; folder <= perFolder; ++folder) {
            for (int picture = 1; picture <= perFolder; ++picture) {
                const fs::path path =
                    home / "src" / ("f" + std::to_string(folder)) / ("p" + std::to_string(picture) + ".jpg");
                fs::create_directories(path.parent_path());
                std::string bytes(static_cast<std::size_t>(pictureSize), char('a' + picture));
                bytes += path.native(); // each picture its own bytes
                writeBytes(path, bytes);
                pictures.emplace(bytes, path);
            }
        }
        fs::create_directories(home / "prog");
        const SettingsFiles files{home / "prog", home / "prog"};
        const Removal removal(true);
        Result<RunJournal> journal =
            RunJournal::create(files.history(), moveRunStart(1, home / "src", destination, false, removal));
        QVERIFY(journal.ok());
        Module1 vars;
        vars.SerialNo = 1;
        PullingMove observer(destination, trouble == Trouble::PulledOut ? disk.get() : nullptr);
        MoveRun run(vars, files, observer, removal);
        run.setJournal(&journal.value());
        BatchSettings batches;
        batches.count = 5;
        batches.folderCarry = std::chrono::milliseconds(0);
        run.setBatchSettings(batches);
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(home / "src", false, folderList);
        QVERIFY(journal.value().finish(journalOutcome(result.outcome)).ok());

        const bool completed = trouble == Trouble::CrowdedFolder && result.outcome == MoveOutcome::Completed;
        if (!completed) {
            QCOMPARE(result.outcome, MoveOutcome::Failed);
            QVERIFY(result.error.has_value());
            const int code = result.error->code;
            // A FUSE driver killed answers the calls in flight ECONNABORTED, the next ENOTCONN.
            if (trouble == Trouble::PulledOut)
                QVERIFY2(code == ENOTCONN || code == ECONNABORTED, std::strerror(code));
            else
                QCOMPARE(code, ENOSPC);
            const std::string& advice = result.error->advice;
            QVERIFY2(advice.find(said.toStdString()) != std::string::npos, advice.c_str());
            QVERIFY2(advice.find(disk->mountPoint().native()) != std::string::npos, advice.c_str());
        }
        if (trouble == Trouble::PulledOut) {
            QVERIFY(observer.pulled());
            QCOMPARE(disk->plugBackIn(), QString());
        }

        // Every picture exactly once, whole: in its folder or under a number in the destination.
        std::multimap<std::string, fs::path> found;
        collectContents(home / "src", found);
        std::size_t arrived = 0;
        for (const QByteArray& name : allNames(destination)) {
            const fs::path path = destination / name.toStdString();
            if (name.startsWith('.') || !name.endsWith(".jpg") || name.startsWith("F"))
                continue;
            ++arrived;
            found.emplace(readWholeFile(path).value(), path);
        }
        QCOMPARE(found.size(), pictures.size());
        for (const auto& [bytes, path] : pictures)
            QVERIFY2(found.count(bytes) == 1, path.c_str());
        QVERIFY(arrived > 0);
        QCOMPARE(arrived == pictures.size(), completed);
        const Result<std::vector<RunSummary>> runs = listRuns(files.history());
        QVERIFY(runs.ok() && runs.value().size() == 1);
        QCOMPARE(runs.value().front().picturesMoved, static_cast<int>(arrived));

        QuietUndo undoObserver;
        const UndoOutcome undone = undoRun(journal.value().file(), undoObserver);
        QVERIFY2(!undone.error, undone.error ? undone.error->reason().c_str() : "");
        for (const auto& [bytes, path] : pictures)
            checkHolds(path, bytes);
        for (const QByteArray& name : allNames(destination))
            QVERIFY2(name.startsWith("F"), name.constData()); // nothing of the run's, nothing hidden
    }

    // The stick pulled out while a batch of copies is written under their final names: the copies
    // made by then stay on the stick, their sources in their folders. The command says what
    // happened to the disk, the history counts nothing that did not arrive, and undo, with the
    // stick back, puts every picture back where it was and leaves nothing of the run on the stick.
    // Gathered again instead, with the stick back: the copies it kept are taken up by the new run,
    // recorded, so that its undo brings them back too.
    void stickPulledOutWhileCopiesAreWritten_data() {
        QTest::addColumn<DiskKind>("kind");
        QTest::addColumn<bool>("gatheredAgain");
        QTest::newRow("exfat-fuse") << DiskKind::ExFatFuse << false;
        QTest::newRow("fusefat") << DiskKind::FatFuse << false;
        QTest::newRow("exfat-fuse, gathered again") << DiskKind::ExFatFuse << true;
        QTest::newRow("fusefat, gathered again") << DiskKind::FatFuse << true;
    }
    void stickPulledOutWhileCopiesAreWritten() {
        QFETCH(DiskKind, kind);
        QFETCH(bool, gatheredAgain);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        QTemporaryDir dir;
        const fs::path home(dir.path().toStdString());
        std::map<fs::path, std::string> pictures;
        for (int picture = 1; picture <= 8; ++picture) {
            const fs::path path = home / "src/a" / ("p" + std::to_string(picture) + ".jpg");
            fs::create_directories(path.parent_path());
            pictures[path] = std::string(50000, char('a' + picture));
            writeBytes(path, pictures[path]);
        }
        QVERIFY(copyProgram(home / "prog"));
        writeBytes(home / "prog/Corvalin.conf", "permanent_deletion=true\n");

        // Out as the fifth copy is created, the four before it whole on the stick.
        SyscallListener listener({SYS_openat});
        QProcess gather;
        prepareProgram(gather, home / "prog",
                       {"gather", QString::fromStdString((home / "src").native()),
                        QString::fromStdString(disk->mountPoint().native())});
        listener.prepare(gather);
        gather.start();
        int creates = 0;
        bool pulled = false;
        QVERIFY(listener.attach([&](const seccomp_notif& call) {
            const std::string name = stringIn(static_cast<pid_t>(call.pid), call.data.args[1]);
            if ((call.data.args[2] & O_EXCL) && name.starts_with("00000") && ++creates == 5)
                pulled = disk->pullOut();
            return SyscallListener::Verdict::GoOn;
        }));
        const ProgramRun run = finishedRun(gather, 120000);
        QVERIFY(pulled);
        QCOMPARE(run.exitCode, 1);
        const QString said = QString::fromUtf8(run.err);
        QVERIFY2(said.contains("が取り外されたか、応答しなくなりました") &&
                     said.contains(QString::fromStdString(disk->mountPoint().native())),
                 run.err.constData());
        const Result<std::vector<RunSummary>> runs = listRuns(home / "prog/history");
        QVERIFY(runs.ok());
        QVERIFY2(runs.value().size() == 1, allNames(home / "prog/history").join(' ').constData());
        QCOMPARE(runs.value().front().picturesMoved, 0);

        QCOMPARE(disk->plugBackIn(), QString());
        if (gatheredAgain) {
            const ProgramRun again =
                runProgram(home / "prog", {"gather", QString::fromStdString((home / "src").native()),
                                           QString::fromStdString(disk->mountPoint().native())});
            QVERIFY2(again.exitCode == 0, again.err.constData());
            QCOMPARE(allNames(disk->mountPoint()).size(), qsizetype(pictures.size()));
        }
        const ProgramRun undo = runProgram(home / "prog", {"undo"});
        QVERIFY2(undo.exitCode == 0, undo.err.constData());
        for (const auto& [path, bytes] : pictures)
            checkHolds(path, bytes);
        QCOMPARE(allNames(disk->mountPoint()), QByteArrayList());
    }

    // A slow disk makes the naming of a batch of copies long: the window keeps painting through it,
    // and closing it leaves the copies not yet named in their folder, which then stays, even with
    // the delete option on.
    void closeWhileCopiesAreNamed_data() {
        QTest::addColumn<bool>("stick");
        QTest::addColumn<bool>("stopsWithin");
        QTest::newRow("linked into place (tmpfs)") << false << true;
        // Once their names are on the disk, copies written under them are all made: the close is
        // taken after the batch.
        QTest::newRow("written under their names (exfat-fuse)") << true << false;
    }
    void closeWhileCopiesAreNamed() {
        QFETCH(bool, stick);
        QFETCH(bool, stopsWithin);
        QString whyNot = "no second file system (/dev/shm)";
        const std::unique_ptr<MountedDisk> disk =
            stick ? MountedDisk::make(DiskKind::ExFatFuse, whyNot) : nullptr;
        const std::unique_ptr<QTemporaryDir> other = stick ? nullptr : otherFileSystemDir();
        if (!disk && !other) {
            if (qEnvironmentVariableIsSet("CORVALIN_CI"))
                QFAIL(whyNot.toLocal8Bit().constData());
            QSKIP(whyNot.toLocal8Bit().constData());
        }
        const fs::path destination = disk ? disk->mountPoint() : fs::path(other->path().toStdString());
        QTemporaryDir dir;
        const fs::path home(dir.path().toStdString());
        makeEntries(home, {"d:src", "d:src/a", "d:prog"});
        for (int picture = 1; picture <= 5; ++picture)
            writeBytes(home / "src/a" / ("p" + std::to_string(picture) + ".jpg"),
                       std::string(1000, char('0' + picture)));
        Module1 vars;
        ClosingMove observer(destination);
        MoveRun run(vars, SettingsFiles{home / "prog", home / "prog"}, observer, Removal(true));
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(home / "src", true, folderList);
        QCOMPARE(result.outcome, stopsWithin ? MoveOutcome::Cancelled : MoveOutcome::Completed);
        QVERIFY(observer.yieldsWhileNaming() > 0);
        const qsizetype arrived = allNames(destination).size();
        if (stopsWithin) {
            QVERIFY2(arrived >= 2 && arrived < 5, QByteArray::number(arrived).constData());
            QCOMPARE(allNames(home / "src/a").size() + arrived, qsizetype(5));
        } else {
            QCOMPARE(arrived, qsizetype(5));
        }
    }

    // A disk mounted read-only is refused before anything is touched, as source or destination,
    // with the disk named; the plan says the same.
    void readOnlyMountIsRefused_data() {
        QTest::addColumn<bool>("asSource");
        QTest::newRow("source") << true;
        QTest::newRow("destination") << false;
    }
    void readOnlyMountIsRefused() {
        QFETCH(bool, asSource);
        CORVALIN_MOUNT_OR_SKIP(disk, DiskKind::Ext4);
        const fs::path top = disk->mountPoint();
        QTemporaryDir dir;
        const fs::path home(dir.path().toStdString());
        const fs::path sourceTop = asSource ? top : home;
        makeEntries(sourceTop, {"d:src", "d:src/a", "f:src/a/cat.jpg", "f:src/a/notes.txt"});
        makeEntries(asSource ? home : top, {"d:dest"});
        const fs::path destination = (asSource ? home : top) / "dest";
        const QString mountPoint = QString::fromStdString(top.native());
        QCOMPARE(runTool("mount", {"-o", "remount,ro", mountPoint}), QString());
        fs::create_directories(home / "prog");
        Module1 vars;
        QuietMove observer(destination);
        MoveRun run(vars, SettingsFiles{home / "prog", home / "prog"}, observer, Removal(false));
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(sourceTop / "src", false, folderList);
        QCOMPARE(result.outcome, MoveOutcome::Failed);
        QCOMPARE(result.error->code, EROFS);
        if (asSource)
            QVERIFY2(result.error->advice.find("移動元のディスク（" + top.native() + "）は読み取り専用") !=
                         std::string::npos,
                     result.error->advice.c_str());
        else
            QCOMPARE(result.error->path, destination);
        QCOMPARE(allNames(sourceTop / "src/a"), (QByteArrayList{"cat.jpg", "notes.txt"}));
        QCOMPARE(allNames(destination), QByteArrayList());
    }
};

QTEST_GUILESS_MAIN(TestDiskFaults)
#include "test_disk_faults.moc"
