#include "platform/file_ops.h"
#include "platform/same_content.h"

#include "child_process.h"
#include "disk_helpers.h"
#include "syscall_listener.h"

#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvalin;
namespace fs = std::filesystem;
using test::allNames;
using test::makeEntries;
using test::writeBytes;

namespace {

QByteArrayList toList(const std::vector<std::string>& names) {
    QByteArrayList list;
    for (const std::string& name : names)
        list << QByteArray::fromStdString(name);
    return list;
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

class TestFileOps : public QObject {
    Q_OBJECT

private slots:
    void listingsShowOnlyRealVisibleEntriesInByteOrder_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArrayList>("files");
        QTest::addColumn<QByteArrayList>("folders");
        QTest::addColumn<QByteArrayList>("foldersWithHidden");
        QTest::newRow("hidden entries")
            << QByteArrayList{"f:.a.jpg", "f:b.jpg", "d:.cache", "d:sub"} << QByteArrayList{"b.jpg"}
            << QByteArrayList{"sub"} << QByteArrayList{".cache", "sub"};
        QTest::newRow("symbolic links")
            << QByteArrayList{"f:b.jpg", "d:sub", "l:a.jpg>b.jpg", "l:c>sub", "l:d>none"}
            << QByteArrayList{"b.jpg"} << QByteArrayList{"sub"} << QByteArrayList{"sub"};
        QTest::newRow("FIFO") << QByteArrayList{"p:pipe", "f:b.jpg"} << QByteArrayList{"b.jpg"}
                              << QByteArrayList{} << QByteArrayList{};
        QTest::newRow("byte order, non-UTF-8")
            << QByteArrayList{"f:b.jpg", "f:\x93\xfa.jpg", "f:B.jpg", "f:a b.jpg", "d:\x93\xfa", "d:A"}
            << QByteArrayList{"B.jpg", "a b.jpg", "b.jpg", "\x93\xfa.jpg"} << QByteArrayList{"A", "\x93\xfa"}
            << QByteArrayList{"A", "\x93\xfa"};
    }
    void listingsShowOnlyRealVisibleEntriesInByteOrder() {
        QFETCH(QByteArrayList, entries);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        makeEntries(folder, entries);
        const auto files = listFiles(folder);
        QVERIFY(files.ok());
        QTEST(toList(files.value()), "files");
        const auto folders = listSubfolders(folder);
        QVERIFY(folders.ok());
        QTEST(toList(folders.value()), "folders");
        QTEST(toList(listSubfolders(folder, {.includeHidden = true}).value()), "foldersWithHidden");
        fs::remove_all(folder); // QTemporaryDir cannot remove names that are not UTF-8
    }

    // The lookups are cut into ranges, one a thread: every index is answered once, with its own
    // size, at every cut; a folder, a link or a name gone meanwhile has none.
    void sizesAreAskedOnceForEveryName_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<unsigned>("threads");
        QTest::newRow("none") << 0 << 2u;
        QTest::newRow("fewer than a thread is worth") << 5 << 4u;
        QTest::newRow("two ranges") << 9000 << 2u;
        QTest::newRow("three uneven ranges") << 12289 << 3u;
        QTest::newRow("one thread asked") << 9000 << 1u;
    }
    void sizesAreAskedOnceForEveryName() {
        QFETCH(int, count);
        QFETCH(unsigned, threads);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("f" + std::to_string(i));
            const fs::path file = folder / names.back();
            if (i % 1000 == 7)
                fs::create_directory(file);
            else if (i % 1000 == 8)
                fs::create_symlink("f0", file);
            else if (i % 1000 != 9) { // never made: a name gone meanwhile
                const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                QVERIFY(fd >= 0 && ::ftruncate(fd, i) == 0 && ::close(fd) == 0);
            }
        }
        std::vector<std::atomic<int>> answers(static_cast<std::size_t>(count));
        std::vector<std::int64_t> sizes(std::size_t(count), -2);
        const Result<HeldFolder> held = HeldFolder::open(folder);
        QVERIFY(held.ok());
        const Status asked = sizesIn(
            held.value(), names.size(), threads, [&](std::size_t i) { return names[i].c_str(); },
            [&](std::size_t i, std::optional<std::uint64_t> size) {
                ++answers[i];
                sizes[i] = size ? std::int64_t(*size) : -1;
            });
        QVERIFY(asked.ok());
        for (int i = 0; i < count; ++i) {
            QCOMPARE(answers[std::size_t(i)].load(), 1);
            QCOMPARE(sizes[std::size_t(i)], (i % 1000 >= 7 && i % 1000 <= 9) ? -1 : std::int64_t(i));
        }
    }

    // What decides that a picture may go as a duplicate: any byte that differs, wherever it lies
    // against the reading's pieces, keeps the two apart; the hash of an equal pair is the one the
    // whole file gets alone, and a failure names the file that failed.
    void contentsAreComparedByteForByte_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("changedAt");    // the second file's byte that differs, or -1
        QTest::addColumn<int>("asked");        // the size the caller expects, or -1 for the length
        QTest::addColumn<QString>("second");   // "copy", "link" or "missing"
        QTest::addColumn<QString>("expected"); // "equal", "differ" or the failing file
        QTest::newRow("one byte, equal") << 1 << -1 << -1 << "copy"
                                         << "equal";
        QTest::newRow("one piece exactly, equal") << 65536 << -1 << -1 << "copy"
                                                  << "equal";
        QTest::newRow("one piece and a byte, equal") << 65537 << -1 << -1 << "copy"
                                                     << "equal";
        QTest::newRow("the first byte differs") << 200000 << 0 << -1 << "copy"
                                                << "differ";
        QTest::newRow("the second piece's first byte differs") << 200000 << 65536 << -1 << "copy"
                                                               << "differ";
        QTest::newRow("only the last byte differs") << 200000 << 199999 << -1 << "copy"
                                                    << "differ";
        QTest::newRow("two names of one file") << 70000 << -1 << -1 << "link"
                                               << "equal";
        QTest::newRow("shorter than expected") << 70000 << -1 << 70001 << "copy"
                                               << "first";
        QTest::newRow("the twin gone") << 70000 << -1 << -1 << "missing"
                                       << "second";
    }
    void contentsAreComparedByteForByte() {
        QFETCH(int, length);
        QFETCH(int, changedAt);
        QFETCH(int, asked);
        QFETCH(QString, second);
        QTemporaryDir dir;
        const fs::path one = fs::path(dir.path().toStdString()) / "one.jpg";
        const fs::path two = fs::path(dir.path().toStdString()) / "two.jpg";
        std::string bytes(std::size_t(length), '\0');
        for (int i = 0; i < length; ++i)
            bytes[std::size_t(i)] = char(i * 7 + i / 251);
        writeBytes(one, bytes);
        if (changedAt >= 0)
            bytes[std::size_t(changedAt)] ^= 1;
        if (second == "copy")
            writeBytes(two, bytes);
        else if (second == "link")
            fs::create_hard_link(one, two);
        const std::uint64_t size = std::uint64_t(asked < 0 ? length : asked);
        const Result<HeldFolder> folder = HeldFolder::open(dir.path().toStdString());
        QVERIFY(folder.ok());
        const HeldFolder& held = folder.value();
        const std::string first = "one.jpg";
        const std::string other = "two.jpg";
        const Result<ContentComparison> compared = compareContents({held, first}, {held, other}, size);
        QFETCH(QString, expected);
        if (expected == "first" || expected == "second") {
            QVERIFY(!compared.ok());
            QCOMPARE(compared.error().path, expected == "first" ? one : two);
            return;
        }
        QVERIFY(compared.ok());
        QCOMPARE(compared.value().equal, expected == "equal");
        QCOMPARE(compared.value().first, currentStampOf(held, first).value());
        QCOMPARE(compared.value().second, currentStampOf(held, other).value());
        if (compared.value().hash)
            QCOMPARE(*compared.value().hash, wholeHashOf(held, other, size).value());
    }

    void listingAMissingFolderNamesIt() {
        QTemporaryDir dir;
        const fs::path missing = fs::path(dir.path().toStdString()) / "gone";
        for (const Error& error : {listFiles(missing).error(), listSubfolders(missing).error(),
                                   checkFolderReadable(missing).error()}) {
            QCOMPARE(error.operation, std::string("フォルダの読み取り"));
            QCOMPARE(error.path, missing);
            QCOMPARE(error.code, ENOENT);
        }
    }

    void subfoldersOfAnotherMountCanBeLeftOut_data() {
        QTest::addColumn<bool>("bind");
        QTest::newRow("another file system") << false;
        QTest::newRow("a bind mount of the same file system") << true;
    }
    void subfoldersOfAnotherMountCanBeLeftOut() {
        QFETCH(bool, bind);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        makeEntries(folder, {"d:mounted", "d:plain"});
        const int result = test::runInChild([&] {
            const bool mounted =
                bind ? test::enterOwnUserNamespace() && ::unshare(CLONE_NEWNS) == 0 &&
                           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                           ::mount(folder.c_str(), (folder / "mounted").c_str(), nullptr, MS_BIND, nullptr) ==
                               0
                     : test::mountPrivateTmpfs(folder / "mounted");
            if (!mounted)
                return test::skipExit;
            const auto all = listSubfolders(folder);
            const auto same = listSubfolders(folder, {.sameFileSystemOnly = true});
            return all.value() == std::vector<std::string>{"mounted", "plain"} &&
                           same.value() == std::vector<std::string>{"plain"}
                       ? 0
                       : 1;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
    }

    void normalAttributesAddOnlyOwnerWrite_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("read-only") << 0444 << 0644;
        QTest::newRow("owner read only") << 0400 << 0600;
        QTest::newRow("executable") << 0555 << 0755;
        QTest::newRow("no rights") << 0000 << 0200;
        QTest::newRow("already writable") << 0640 << 0640;
    }
    void normalAttributesAddOnlyOwnerWrite() {
        QFETCH(int, before);
        QTemporaryDir dir;
        const fs::path file = fs::path(dir.path().toStdString()) / "a.jpg";
        writeBytes(file, "x");
        QCOMPARE(::chmod(file.c_str(), before), 0);
        QVERIFY(setNormalAttributes(file).ok());
        QTEST(static_cast<int>(modeOf(file)), "after");
    }

    void normalAttributesLeaveALinkTargetAlone() {
        QTemporaryDir dir;
        const fs::path target = fs::path(dir.path().toStdString()) / "target.jpg";
        writeBytes(target, "x");
        ::chmod(target.c_str(), 0444);
        QCOMPARE(::symlink(target.c_str(), (target.parent_path() / "link.jpg").c_str()), 0);
        QVERIFY(setNormalAttributes(target.parent_path() / "link.jpg").ok());
        QCOMPARE(modeOf(target), mode_t(0444));
    }

    // A link that takes the file's name between the look-up and the change of mode is not
    // followed: its target keeps its mode. The swap lands as the change is about to be made.
    void normalAttributesNeverFollowALinkSwappedIn() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        const fs::path file = root / "a.jpg";
        writeBytes(file, "x");
        writeBytes(root / "target.jpg", "y");
        ::chmod(file.c_str(), 0444);
        ::chmod((root / "target.jpg").c_str(), 0444);
        QCOMPARE(::symlink("target.jpg", (root / "link").c_str()), 0);
        test::SyscallListener listener({SYS_chmod, SYS_fchmodat, SYS_openat});
        std::atomic<bool> swapped = false;
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(listener.installHere() ? (setNormalAttributes(file).ok() ? 0 : 1) : test::skipExit);
        const bool watched = listener.attach([&](const seccomp_notif& call) {
            const auto* a = call.data.args;
            const auto here = std::uint64_t(std::int64_t(AT_FDCWD));
            const std::string named = call.data.nr == SYS_chmod ? test::namedPath(child, here, a[0])
                                                                : test::namedPath(child, a[0], a[1]);
            if (!swapped && named == file.native())
                swapped = ::rename((root / "link").c_str(), file.c_str()) == 0;
            return test::SyscallListener::Verdict::GoOn;
        });
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        if (!watched)
            QSKIP("this system cannot watch a process's calls");
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(swapped);
        QCOMPARE(modeOf(root / "target.jpg"), mode_t(0444));
    }

    void createFolderRefusesATakenName_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<int>("code");
        QTest::newRow("free") << QByteArrayList{} << 0;
        QTest::newRow("file") << QByteArrayList{"f:new"} << EEXIST;
        QTest::newRow("folder") << QByteArrayList{"d:new"} << EEXIST;
        QTest::newRow("dangling link") << QByteArrayList{"l:new>nowhere"} << EEXIST;
    }
    void createFolderRefusesATakenName() {
        QFETCH(QByteArrayList, entries);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        makeEntries(folder, entries);
        const Status status = createFolder(folder / "new");
        QTEST(status.code(), "code");
        if (status.ok())
            QCOMPARE(lookupEntry(folder / "new"), EntryKind::Folder);
        else
            QCOMPARE(status.error().operation, std::string("フォルダの作成"));
    }

    void atomicWriteReplacesContentAndKeepsMode() {
        QTemporaryDir dir;
        const fs::path file = fs::path(dir.path().toStdString()) / "Corvalin.ini";
        writeBytes(file, "old content that is longer");
        ::chmod(file.c_str(), 0640);
        for (const Durability durability : {Durability::ProcessCrash, Durability::PowerLoss}) {
            QVERIFY(writeFileAtomically(file, "new", durability).ok());
            QCOMPARE(readWholeFile(file).value(), std::string("new"));
            QCOMPARE(modeOf(file), mode_t(0640));
            QCOMPARE(allNames(file.parent_path()), QByteArrayList{"Corvalin.ini"});
        }
    }

    void failedAtomicWriteLeavesOldFileAlone() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        if (::geteuid() == 0)
            QCOMPARE(::chown(folder.c_str(), 65534, 65534), 0);
        const int result = test::runInChild([&] {
            const fs::path file = folder / "Quillet.ini";
            if (!test::dropPrivileges())
                return test::skipExit;
            writeBytes(file, "old");
            ::chmod(folder.c_str(), 0555);
            const Status status = writeFileAtomically(file, "new");
            ::chmod(folder.c_str(), 0755);
            const bool onlyOld =
                allNames(folder) == QByteArrayList{"Quillet.ini"} && readWholeFile(file).value() == "old";
            return status.code() == EACCES && status.error().path == file && onlyOld ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }

    // Names beside Corvalin.ini: only the killed writer's temporary files of that very file go.
    void leftoverWritesOfKilledWritersGo_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("whoseWriter"); // false: a process that ended; true: one still running
        QTest::addColumn<bool>("removed");
        QTest::newRow("killed writer") << QByteArray(".Corvalin.ini.tmp-PID-0") << false << true;
        QTest::newRow("running writer") << QByteArray(".Corvalin.ini.tmp-PID-3") << true << false;
        QTest::newRow("another file's") << QByteArray(".Quillet.ini.tmp-PID-0") << false << false;
        QTest::newRow("not hidden") << QByteArray("Corvalin.ini.tmp-PID-0") << false << false;
        QTest::newRow("no process id") << QByteArray(".Corvalin.ini.tmp-x-0") << false << false;
        QTest::newRow("the file itself") << QByteArray("Corvalin.ini") << false << false;
    }

    void leftoverWritesOfKilledWritersGo() {
        QFETCH(QByteArray, name);
        QFETCH(bool, whoseWriter);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        const pid_t ended = ::fork();
        if (ended == 0)
            ::_exit(0);
        ::waitpid(ended, nullptr, 0);
        const pid_t running = ::fork(); // this same program, still going
        if (running == 0) {
            ::pause();
            ::_exit(0);
        }
        name.replace("PID", QByteArray::number(whoseWriter ? running : ended));
        writeBytes(folder / name.toStdString(), "half");
        ::mkdir((folder / (".Corvalin.ini.tmp-" + std::to_string(ended) + "-9")).c_str(), 0755);
        const Status status = removeLeftoverWrites(folder / "Corvalin.ini");
        ::kill(running, SIGKILL);
        ::waitpid(running, nullptr, 0);
        QVERIFY(status.ok());
        QCOMPARE(allNames(folder).contains(name), !removed);
        QCOMPARE(allNames(folder).size(), removed ? 1 : 2); // a folder under such a name stays
        QVERIFY(removeLeftoverWrites(folder / "none" / "Corvalin.ini").ok());
    }

    void readWholeFileRespectsItsLimit() {
        QTemporaryDir dir;
        const fs::path file = fs::path(dir.path().toStdString()) / "Readme.txt";
        writeBytes(file, "0123456789");
        QCOMPARE(readWholeFile(file, 10).value(), std::string("0123456789"));
        QCOMPARE(readWholeFile(file, 9).code(), EFBIG);
        const auto missing = readWholeFile(file.parent_path() / "none.txt");
        QCOMPARE(missing.code(), ENOENT);
        QCOMPARE(missing.error().operation, std::string("ファイルの読み取り"));
    }
};

QTEST_APPLESS_MAIN(TestFileOps)
#include "test_file_ops.moc"
