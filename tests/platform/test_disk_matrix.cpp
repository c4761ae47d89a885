// The kinds of disk people keep pictures on, each mounted for real (tests/support/disk_mounts.h),
// against what this program believes of them: the kind the mount table gives, what the probe
// finds, and which names the name rule lets through. Every belief is checked against what the
// disk then really does.
#include "app/startup.h"
#include "engine/disk_names.h"
#include "engine/files_left.h"
#include "engine/move_run.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "plan/move_plan.h"
#include "platform/absent_name.h"
#include "platform/disk_kind.h"
#include "platform/held_folder.h"
#include "platform/naming_probe.h"
#include "platform/posix_io.h"
#include "strip/strip_runs.h"

#include "disk_helpers.h"
#include "disk_mounts.h"
#include "quiet_observers.h"

#include <QTest>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(corvalin::test::DiskKind)
Q_DECLARE_METATYPE(corvalin::NamingWay)

namespace {

// Names a picture may arrive with, each as its serial-numbered name.
const std::vector<std::string>& trialNames() {
    static const std::vector<std::string> names = {
        "000001 cat.jpg",
        "000002 Sunset beach.JPG",
        "000003 \xe5\x86\x99\xe7\x9c\x9f.jpg", // 写真, UTF-8
        "000004 \x83\x65\x83\x58\x83\x67.jpg", // テスト, CP932
        "000005 q?.jpg",
        "000006 x:y.jpg",
        "000007 a\"b<c>d|e*f.jpg",
        "000008 back\\slash.jpg",
        "000009 tab\there.jpg",
        "000010 trail.",
        "000011 trail ",
        "000012 " + QByteArray("\xe3\x81\x82").repeated(84).toStdString() +
            ".jpg",                                 // 263 bytes, 95 UTF-16 units
        "000013 " + std::string(244, 'a') + ".jpg", // 255 bytes
        "000014 \xf0\x9f\x98\x80.jpg",              // beyond the basic plane
    };
    return names;
}

UniqueFd openFolder(const fs::path& folder) {
    return UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Creates `name` exclusively with a few bytes: 0 or errno.
int createFile(int folderFd, const std::string& name) {
    UniqueFd fd(::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid())
        return errno;
    return writeAll(fd.get(), "picture");
}

int lookupError(int folderFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// Gathers `source` into `destination` with a journal, deleting what is not a picture for good (the
// Trash on such disks is another matter); returns the journal.
fs::path gatherWithJournal(const fs::path& source, const fs::path& destination, const fs::path& prog) {
    RunStart start;
    start.source = source;
    start.destination = destination;
    Result<RunJournal> journal = RunJournal::create(prog / "history", start);
    if (!journal)
        return {};
    Module1 vars;
    vars.SerialNo = 1;
    QuietMove observer(destination);
    MoveRun run(vars, SettingsFiles{prog, prog}, observer, Removal(true));
    run.setJournal(&journal.value());
    std::vector<fs::path> folderList;
    const MoveRunResult result = run.run(source, true, folderList);
    if (result.error)
        qWarning("%s", result.error->reason().c_str());
    (void)journal.value().finish(result.outcome == MoveOutcome::Completed ? kOutcomeCompleted
                                                                          : kOutcomeFailed);
    return journal.value().file();
}

// A strip whose stripped names other programs take: "owl.jpg" while the first file is in hand,
// before the owl is looked at, and "emu.jpg" just after the emu's look-up found it free.
class TakingStrip : public QuietStrip {
public:
    explicit TakingStrip(fs::path target) : m_target(std::move(target)) {}
    void newName(const std::string& name) override {
        if (name == "cat.jpg")
            writeBytes(m_target / "owl.jpg", "taken before");
        else if (name == "emu.jpg")
            writeBytes(m_target / "emu.jpg", "taken meanwhile");
    }

private:
    fs::path m_target;
};

} // namespace

class TestDiskMatrix : public QObject {
    Q_OBJECT

private slots:
    void kindsAgainstTheDisk_data() {
        QTest::addColumn<DiskKind>("kind");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("kindName");
        // What the probe must find: links (and shown), rename without replacing, letter case
        // folded, and which names the disk refuses to create.
        QTest::addColumn<bool>("links");
        QTest::addColumn<bool>("linksShown");
        QTest::addColumn<bool>("rename");
        QTest::addColumn<bool>("caseInsensitive");
        QTest::addColumn<bool>("refusesNonUtf8");
        QTest::addColumn<bool>("refusesNonAscii");
        QTest::addColumn<bool>("refusesWindows");
        QTest::addColumn<NamingWay>("way");
        QTest::newRow("exfat-fuse") << DiskKind::ExFatFuse << "fuseblk"
                                    << "exFAT" << false << false << false << true << true << false << true
                                    << NamingWay::ExclusiveCreate;
        QTest::newRow("fusefat") << DiskKind::FatFuse << "fuse.fusefat"
                                 << "FAT" << false << false << false << true << true << true << true
                                 << NamingWay::ExclusiveCreate;
        QTest::newRow("ntfs-3g") << DiskKind::Ntfs3g << "fuseblk"
                                 << "NTFS" << true << true << false << false << true << false << false
                                 << NamingWay::HardLink;
        QTest::newRow("sshfs") << DiskKind::Sshfs << "fuse.sshfs"
                               << "fuse.sshfs" << true << false << false << false << false << false << false
                               << NamingWay::ExclusiveCreate;
        QTest::newRow("xfs") << DiskKind::Xfs << "xfs"
                             << "xfs" << true << true << true << false << false << false << false
                             << NamingWay::HardLink;
        QTest::newRow("btrfs") << DiskKind::Btrfs << "btrfs"
                               << "btrfs" << true << true << true << false << false << false << false
                               << NamingWay::HardLink;
    }
    void kindsAgainstTheDisk() {
        QFETCH(DiskKind, kind);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        const fs::path folder = disk->mountPoint();
        const UniqueFd fd = openFolder(folder);
        QVERIFY(fd.valid());
        const Result<DiskProfile> profile = profileDisk(fd.get(), folder);
        QVERIFY2(profile.ok(), profile.ok() ? "" : profile.error().reason().c_str());
        QTEST(QString::fromStdString(profile.value().rules.fileSystemType), "type");
        QTEST(QString::fromStdString(profile.value().rules.kindName), "kindName");
        const NamingProbe& probe = profile.value().probe;
        QCOMPARE(allNames(folder), QByteArrayList()); // the probe left nothing
        QVERIFY(probe.exclusiveCreate);
        QTEST(probe.hardLinks, "links");
        QTEST(probe.linksShown, "linksShown");
        QTEST(probe.renameNoReplace, "rename");
        QTEST(probe.caseInsensitive, "caseInsensitive");
        QTEST(probe.refusesNonUtf8, "refusesNonUtf8");
        QTEST(probe.refusesNonAscii, "refusesNonAscii");
        QTEST(probe.refusesWindowsCharacters, "refusesWindows");
        QTEST(profile.value().copyWay, "way");

        checkWaysHold(fd.get(), probe);
        const Result<HeldFolder> held = HeldFolder::open(folder);
        QVERIFY(held.ok());
        checkNamesHold(held.value(), profile.value().rules, profile.value().longestName);
    }

    // A disk with neither hard links nor a rename that refuses to replace still takes a gather, from
    // another disk and within itself: every picture arrives whole under its number, nothing hidden
    // is left, and undo brings every picture back byte for byte.
    void gatherOntoADiskWithoutLinksOrSafeRenames_data() {
        addRowsOfSticksWithoutSafeRenames("sourceOnTheDisk", ", from another disk", ", within the disk");
    }
    void gatherOntoADiskWithoutLinksOrSafeRenames() {
        QFETCH(DiskKind, kind);
        QFETCH(bool, sourceOnTheDisk);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        QTemporaryDir dir;
        const fs::path home = dir.path().toStdString();
        const fs::path top = sourceOnTheDisk ? disk->mountPoint() : home;
        const fs::path source = top / "src";
        const fs::path destination = disk->mountPoint() / "dest";
        QCOMPARE(::mkdir(destination.c_str(), 0755), 0);
        makeEntries(top, {"d:src", "d:src/a", "d:src/b", "f:src/a/notes.txt"});
        fs::create_directories(home / "prog");
        const std::vector<std::pair<fs::path, std::string>> pictures = {
            {source / "a" / "cat.jpg", std::string(70000, 'c') + "cat"},
            {source / "a" / "dog.jpg", std::string(3, 'd')},
            {source / "b" / "owl.jpg", std::string(200000, 'o') + "owl"}};
        for (const auto& [path, bytes] : pictures)
            writeBytes(path, bytes);
        writeBytes(destination / "000002 dog.jpg", "taken"); // the next number is taken instead

        const fs::path journal = gatherWithJournal(source, destination, home / "prog");
        QCOMPARE(allNames(destination),
                 (QByteArrayList{"000001 cat.jpg", "000002 dog.jpg", "000003 dog.jpg", "000004 owl.jpg"}));
        QCOMPARE(readWholeFile(destination / "000002 dog.jpg").value(), std::string("taken"));
        QCOMPARE(readWholeFile(destination / "000003 dog.jpg").value(), pictures[1].second);
        QCOMPARE(readWholeFile(destination / "000004 owl.jpg").value(), pictures[2].second);

        QuietUndo undoObserver;
        const UndoOutcome undone = undoRun(journal, undoObserver);
        QVERIFY2(!undone.error, undone.error ? undone.error->reason().c_str() : "");
        for (const auto& [path, bytes] : pictures)
            QCOMPARE(readWholeFile(path).value(), bytes);
        QCOMPARE(allNames(destination), QByteArrayList{"000002 dog.jpg"});
    }

    // On such a disk both strips copy each file to its stripped name, created exclusively: every
    // file arrives byte for byte, a name taken before or while the file is in hand is never
    // replaced, nothing hidden is left, and undo brings back the tree byte for byte.
    void stripOnADiskWithoutLinksOrSafeRenames_data() {
        addRowsOfSticksWithoutSafeRenames("intoSubfolder", ", in place", ", into a subfolder");
    }
    void stripOnADiskWithoutLinksOrSafeRenames() {
        QFETCH(DiskKind, kind);
        QFETCH(bool, intoSubfolder);
        CORVALIN_MOUNT_OR_SKIP(disk, kind);
        const fs::path folder = disk->mountPoint() / "pics";
        QCOMPARE(::mkdir(folder.c_str(), 0755), 0);
        const std::map<std::string, std::string> before = {
            {"000001 cat.jpg", std::string(70000, 'c') + "cat"},
            {"000002 dog.jpg", "dog"},
            {"000003 owl.jpg", "owl"},
            {"000004 emu.jpg", "emu"}};
        for (const auto& [name, bytes] : before)
            writeBytes(folder / name, bytes);
        QTemporaryDir dir;
        RunStart start;
        start.kind = intoSubfolder ? RunKind::StripIntoSubfolder : RunKind::Strip;
        start.source = folder;
        Result<RunJournal> journal =
            RunJournal::create(fs::path(dir.path().toStdString()) / "history", start);
        QVERIFY(journal.ok());
        const std::vector<std::string> names = HeldFolder::open(folder).value().files().value();
        StripOutcome outcome;
        fs::path target = folder;
        if (intoSubfolder) {
            const auto made = createStripSubfolder(folder, &journal.value());
            QVERIFY(made.ok() && made.value());
            target = folder / "pics(1)";
            TakingStrip observer(target);
            outcome = stripIntoSubfolder(*made.value(), names, observer, &journal.value());
        } else {
            TakingStrip observer(target);
            outcome = stripInFolder(folder, names, observer, &journal.value());
        }
        (void)journal.value().finish(kOutcomeCompleted);
        QVERIFY2(!outcome.error, outcome.error ? outcome.error->reason().c_str() : "");
        QCOMPARE(outcome.stripped, 2);
        QCOMPARE(outcome.left.size(), std::size_t(2));
        QCOMPARE(readWholeFile(target / "cat.jpg").value(), before.at("000001 cat.jpg"));
        QCOMPARE(readWholeFile(target / "dog.jpg").value(), before.at("000002 dog.jpg"));
        QCOMPARE(readWholeFile(target / "owl.jpg").value(), std::string("taken before"));
        QCOMPARE(readWholeFile(target / "emu.jpg").value(), std::string("taken meanwhile"));
        const QByteArrayList stripped{"cat.jpg", "dog.jpg", "emu.jpg", "owl.jpg"};
        QCOMPARE(allNames(target),
                 intoSubfolder ? stripped : (QByteArrayList{"000003 owl.jpg", "000004 emu.jpg"} + stripped));

        QuietUndo undoObserver;
        const UndoOutcome undone = undoRun(journal.value().file(), undoObserver);
        QVERIFY2(!undone.error, undone.error ? undone.error->reason().c_str() : "");
        for (const auto& [name, bytes] : before)
            QCOMPARE(readWholeFile(folder / name).value(), bytes);
        // The names others took stay theirs; the subfolder holding them stays too.
        const QByteArrayList originals{"000001 cat.jpg", "000002 dog.jpg", "000003 owl.jpg",
                                       "000004 emu.jpg"};
        const QByteArrayList theirs{"emu.jpg", "owl.jpg"};
        QCOMPARE(allNames(folder), originals + (intoSubfolder ? QByteArrayList{"pics(1)"} : theirs));
        QCOMPARE(allNames(target), intoSubfolder ? theirs : originals + theirs);
    }

    // On a Windows disk a picture whose name has a character Windows refuses stays in its folder
    // under its own name, the folder with it, and the others move; the plan foresees exactly that.
    void namesTheDiskCannotHoldAreLeftAndNamed() {
        CORVALIN_MOUNT_OR_SKIP(disk, DiskKind::Ntfs3g);
        QTemporaryDir dir;
        const fs::path source = fs::path(dir.path().toStdString()) / "src";
        makeEntries(dir.path().toStdString(),
                    {"d:src", "d:src/a", "d:src/b", "f:src/a/q?.jpg", "f:src/a/x:y.jpg", "f:src/a/cat.jpg",
                     "f:src/b/dog.jpg", "d:prog"});
        const SettingsFiles files{source.parent_path() / "prog", source.parent_path() / "prog"};
        const PlanRequest request{source, disk->mountPoint(), true, true, {}, false};
        const MovePlan plan = makeMovePlan(Module1{}, files, request);
        Module1 vars;
        QuietMove observer(disk->mountPoint());
        MoveRun run(vars, files, observer, Removal(true));
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(source, true, folderList);
        QCOMPARE(result.outcome, MoveOutcome::Completed);
        QCOMPARE(allNames(disk->mountPoint()).size(), 2);
        QCOMPARE(allNames(source), QByteArrayList{"a"});
        QCOMPARE(allNames(source / "a"), (QByteArrayList{"q?.jpg", "x:y.jpg"}));
        QCOMPARE(result.foldersKeptForLongNames, std::vector<fs::path>{source / "a"});
        QCOMPARE(result.namesRefusedByDisk.size(), std::size_t(2));
        QCOMPARE(plan.namesRefusedByDisk.size(), std::size_t(2));
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string& reason = result.namesRefusedByDisk[i].reason;
            QCOMPARE(plan.namesRefusedByDisk[i].file, result.namesRefusedByDisk[i].file);
            QVERIFY2(reason.find(i == 0 ? "「?」" : "「:」") != std::string::npos, reason.c_str());
        }
        // The end of the run names both, each with its reason, and the folder kept for them.
        const std::string told = describeFilesLeft(source, result);
        for (const char* part : {"q?.jpg", "x:y.jpg", "「?」", "「:」", kLongNameFolderKeptText})
            QVERIFY2(told.find(part) != std::string::npos, told.c_str());
    }

    // A stick mounted read-only takes nothing: the probe says so with the system's reason, so that
    // the destination check refuses it before anything is touched.
    void readOnlyDiskIsRefusedByTheProbe() {
        CORVALIN_MOUNT_OR_SKIP(disk, DiskKind::Xfs);
        const QString mountPoint = QString::fromStdString(disk->mountPoint().native());
        QCOMPARE(runTool("mount", {"-o", "remount,ro", mountPoint}), QString());
        const UniqueFd fd = openFolder(disk->mountPoint());
        const Result<NamingProbe> probe = probeNaming(fd.get(), disk->mountPoint());
        QCOMPARE(probe.code(), EROFS);
        QCOMPARE(probe.error().path, disk->mountPoint());
    }

private:
    // What the probe says the disk allows, it does with files of ordinary names.
    void checkWaysHold(int folderFd, const NamingProbe& probe) {
        QCOMPARE(createFile(folderFd, "a.jpg"), 0);
        QCOMPARE(createFile(folderFd, "a.jpg"), EEXIST);
        QCOMPARE(lookupError(folderFd, "A.JPG") == 0, probe.caseInsensitive);
        QCOMPARE(::linkat(folderFd, "a.jpg", folderFd, "b.jpg", 0) == 0, probe.hardLinks);
        ::unlinkat(folderFd, "b.jpg", 0);
        QCOMPARE(createFile(folderFd, "c.jpg"), 0);
        // Taken, the name is refused whichever way; free, only where the disk can refuse.
        QCOMPARE(::syscall(SYS_renameat2, folderFd, "a.jpg", folderFd, "c.jpg", RENAME_NOREPLACE) == 0,
                 false);
        QCOMPARE(::syscall(SYS_renameat2, folderFd, "a.jpg", folderFd, "d.jpg", RENAME_NOREPLACE) == 0,
                 probe.renameNoReplace);
        for (const char* name : {"a.jpg", "c.jpg", "d.jpg"})
            ::unlinkat(folderFd, name, 0);
    }

    // A name the rule lets through, the disk holds under those very bytes; a name the disk refuses,
    // the rule refuses too, and a lookup of it means "not there".
    void checkNamesHold(const HeldFolder& folder, const DiskNameRules& rules, std::size_t longestName) {
        const int folderFd = folder.fd();
        for (const std::string& name : trialNames()) {
            const DiskFit fit = diskFitOf(name, 7, rules, longestName);
            const int created = createFile(folderFd, name);
            const QByteArray shown = QByteArray::fromStdString(name).toPercentEncoding(" ");
            if (created == 0) {
                std::vector<std::string> names;
                QCOMPARE(readFolderNames(folderFd, names), 0);
                std::string listed;
                for (const std::string& each : names)
                    listed += "[" + each + "]";
                QVERIFY2(names == std::vector<std::string>{name},
                         (shown + " listed as " + listed.c_str()).constData());
                QCOMPARE(::unlinkat(folderFd, name.c_str(), 0), 0);
                continue;
            }
            QVERIFY2(fit.refusal != DiskRefusal::None,
                     (shown + " refused: " + strerror(created)).constData());
            const int lookup = lookupError(folderFd, name);
            QVERIFY2(lookupMeansAbsent(lookup), (shown + " looked up: " + strerror(lookup)).constData());
            const Result<HeldEntry> held = folder.lookup(name);
            QVERIFY2(held.ok() && held.value().kind == HeldEntry::Kind::None, shown.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestDiskMatrix)
#include "test_disk_matrix.moc"
