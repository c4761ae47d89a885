#include "platform/file_ops.h"

#include "child_process.h"
#include "disk_helpers.h"
#include "other_file_system.h"
#include "platform/cross_device_batch.h"
#include "platform/interrupted_moves.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvalin;
namespace fs = std::filesystem;
using namespace corvalin::test;

namespace {

std::optional<std::string> bytesOf(const fs::path& path) {
    const auto read = readWholeFile(path, 64 << 20);
    return read.ok() ? std::optional(read.value()) : std::nullopt;
}

// Picture-like content that differs for every index.
std::string pictureBytes(int index, std::size_t size = 200 * 1024) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + index * 7919) % 251);
    return bytes;
}

// Keeps each file's name.
class SameName : public CopyNaming {
public:
    explicit SameName(fs::path folder) : m_folder(std::move(folder)) {}
    Result<fs::path> finalPathFor(const fs::path& source, const FileIdentity&, bool) override {
        return m_folder / source.filename();
    }
    void copyNamed(const fs::path&) override {}

private:
    fs::path m_folder;
};

// A picture "a.jpg" beside a destination folder, as a move across file systems meets them.
struct InterruptedLayout {
    QTemporaryDir dir;
    fs::path root = dir.path().toStdString();
    fs::path from = root / "a.jpg";
    fs::path dest = root / "dest";
    fs::path final = dest / "000001 a.jpg";
    std::string picture;
    explicit InterruptedLayout(int index) : picture(pictureBytes(index)) { fs::create_directory(dest); }
};

void moveInBatches(const fs::path& from, const fs::path& to, int files, int perBatch, bool exclusive) {
    SameName naming(to);
    CrossDeviceBatch batch(HeldFolder::open(to).value(),
                           {.count = std::size_t(perBatch), .exclusiveCreate = exclusive});
    const Result<HeldFolder> source = HeldFolder::open(from);
    for (int i = 0; i < files; ++i) {
        if (!batch.add(source.value(), std::to_string(i)) || (batch.full() && !batch.commit(naming)))
            return;
    }
    batch.commit(naming);
}

} // namespace

class TestMoveFile : public QObject {
    Q_OBJECT

private slots:
    void moveNeverReplaces_data() {
        QTest::addColumn<bool>("across");
        QTest::newRow("same file system") << false;
        QTest::newRow("across file systems") << true;
    }
    void moveNeverReplaces() {
        QFETCH(bool, across);
        QTemporaryDir source;
        std::unique_ptr<QTemporaryDir> target =
            across ? otherFileSystemDir() : std::make_unique<QTemporaryDir>();
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        const fs::path from = fs::path(source.path().toStdString()) / "a.jpg";
        const fs::path dest = target->path().toStdString();
        writeBytes(from, pictureBytes(1));
        writeBytes(dest / "b.jpg", "old");
        ::chmod(from.c_str(), 0444);

        const Status refused = moveNoReplace(from, dest / "b.jpg");
        QCOMPARE(refused.code(), EEXIST);
        QCOMPARE(refused.error().operation, std::string("ファイルの移動"));
        QCOMPARE(refused.error().path, from);
        QCOMPARE(bytesOf(dest / "b.jpg"), std::optional<std::string>("old"));
        QCOMPARE(bytesOf(from), std::optional(pictureBytes(1)));

        QVERIFY(moveNoReplace(from, dest / "c.jpg").ok());
        QCOMPARE(lookupEntry(from), EntryKind::None);
        QCOMPARE(bytesOf(dest / "c.jpg"), std::optional(pictureBytes(1)));
        QCOMPARE(moveLeftovers(dest), 0);
    }

    // The copy keeps the mode (plus owner write), the time, the bytes and the holes of a sparse
    // file: 32 MB holding two bytes take no 32 MB on the other disk.
    void copyAcrossKeepsModeTimeAndHoles() {
        QTemporaryDir source;
        const auto target = otherFileSystemDir();
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        const fs::path from = fs::path(source.path().toStdString()) / "a.jpg";
        const fs::path to = fs::path(target->path().toStdString()) / "a.jpg";
        constexpr off_t kSize = off_t(32) << 20;
        writeBytes(from, "x");
        const int fd = ::open(from.c_str(), O_WRONLY | O_CLOEXEC);
        QCOMPARE(::pwrite(fd, "y", 1, kSize / 2), ssize_t(1));
        QCOMPARE(::ftruncate(fd, kSize), 0); // a hole at the end too
        ::close(fd);
        struct stat st {};
        if (::stat(from.c_str(), &st) != 0 || st.st_blocks * 512 >= kSize / 8)
            QSKIP("the temporary folder's file system keeps no holes");
        const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
        ::utimensat(AT_FDCWD, from.c_str(), times, 0);
        ::chmod(from.c_str(), 0444);
        QVERIFY(moveNoReplace(from, to).ok());
        QCOMPARE(::stat(to.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0644));
        QCOMPARE(st.st_mtim.tv_sec, time_t(1234567890));
        QCOMPARE(st.st_size, kSize);
        QVERIFY2(st.st_blocks * 512 < kSize / 8, qPrintable(QString::number(st.st_blocks)));
        const std::optional<std::string> bytes = bytesOf(to);
        QVERIFY(bytes && bytes->size() == std::size_t(kSize));
        QCOMPARE(std::count(bytes->begin(), bytes->end(), '\0'), std::ptrdiff_t(kSize - 2));
        QCOMPARE((*bytes)[0], 'x');
        QCOMPARE((*bytes)[kSize / 2], 'y');
    }

    // The states a cross-file-system move passes through, as a kill would leave them.
    void recoveryFinishesOrUndoesEachStep_data() {
        QTest::addColumn<QString>("record"); // none, source (as a batch first writes it), both
        QTest::addColumn<QString>("part"); // none, short, full, linked, final-only, final-empty, final-zeros
        QTest::addColumn<QString>("source"); // present, gone, changed
        QTest::addColumn<bool>("sourceStays");
        QTest::addColumn<bool>("finalStays");
        const auto row = [](const char* name, const char* record, const char* part, const char* source,
                            bool sourceStays, bool finalStays) {
            QTest::newRow(name) << QString(record) << QString(part) << QString(source) << sourceStays
                                << finalStays;
        };
        row("record written", "both", "none", "present", true, false);
        row("copy cut short", "both", "short", "present", true, false);
        row("copy complete", "both", "full", "present", true, false);
        row("linked into place", "both", "linked", "present", false, true);
        row("source removed", "both", "linked", "gone", false, true);
        row("part removed", "both", "final-only", "gone", false, true);
        // Without hard links the part is renamed into place: only the record tells the copy is whole.
        row("renamed into place", "both", "final-only", "present", false, true);
        row("renamed, source changed meanwhile", "both", "final-only", "changed", true, true);
        // On FAT the renamed entry can reach the disk before the copy's size or its bytes do.
        row("renamed, cut before its size", "both", "final-empty", "present", true, false);
        row("renamed, cut before its bytes", "both", "final-zeros", "present", true, false);
        row("renamed, cut, source gone", "both", "final-zeros", "gone", false, true);
        row("source changed meanwhile", "both", "linked", "changed", true, true);
        // Only the source itself may go: never a file a link in its place leads to.
        row("source now a link to the same bytes", "both", "linked", "link", false, true);
        row("part without record", "none", "short", "present", true, false);
        row("linked part without record", "none", "linked", "gone", false, true);
        // A batch names the final file in its record only where it renames the part into place.
        row("batch copy whole, not yet named", "source", "full", "present", true, false);
        row("batch copy linked into place", "source", "linked", "present", false, true);
    }
    void recoveryFinishesOrUndoesEachStep() {
        QFETCH(QString, record);
        QFETCH(QString, part);
        QFETCH(QString, source);
        const InterruptedLayout layout(2);
        const auto& [dir, root, from, dest, final, picture] = layout;
        const fs::path stem = dest / (".corvalin-" + std::to_string(::getpid()) + "-7");
        if (record != "none")
            writeBytes(stem.native() + ".from",
                       from.native() + (record == "both" ? '\0' + final.native() : ""));
        const bool finalOnly = part.startsWith("final-");
        if (part != "none" && !finalOnly)
            writeBytes(stem.native() + ".part", part == "short" ? picture.substr(0, 1000) : picture);
        if (part == "linked")
            QCOMPARE(::link((stem.native() + ".part").c_str(), final.c_str()), 0);
        if (finalOnly) {
            const std::map<QString, std::string> copies = {
                {"final-only", picture},
                {"final-empty", ""},
                {"final-zeros", std::string(picture.size(), '\0')}};
            writeBytes(final, copies.at(part));
        }
        const std::optional<std::string> finalBefore = bytesOf(final);
        if (source == "link") {
            writeBytes(root / "elsewhere.jpg", picture);
            QCOMPARE(::symlink((root / "elsewhere.jpg").c_str(), from.c_str()), 0);
        } else if (source != "gone") {
            writeBytes(from, source == "changed" ? std::string("edited") : picture);
        }

        QVERIFY(recoverInterruptedMoves(dest).ok());
        QCOMPARE(moveLeftovers(dest), 0);
        QTEST(lookupEntry(from) == EntryKind::File, "sourceStays");
        QTEST(lookupEntry(final) == EntryKind::File, "finalStays");
        if (lookupEntry(final) == EntryKind::File)
            QCOMPARE(bytesOf(final), finalOnly ? finalBefore : std::optional(picture));
        if (lookupEntry(from) == EntryKind::File)
            QCOMPARE(bytesOf(from)->size(), source == "changed" ? 6u : picture.size());
        if (source == "link")
            QCOMPARE(bytesOf(root / "elsewhere.jpg"), std::optional(picture));
    }

    // What the next start finds of a copy written under its final name (disks with neither hard
    // links nor a rename that refuses to replace), and what it makes of it.
    void recoveryJudgesCopiesUnderTheirFinalNames_data() {
        QTest::addColumn<bool>("made");      // the record proves the final name was created here
        QTest::addColumn<QString>("copy");   // none, empty, short, zero tail, other bytes, whole, foreign
        QTest::addColumn<QString>("source"); // present, changed, gone
        QTest::addColumn<bool>("sourceStays");
        QTest::addColumn<bool>("finalStays");
        QTest::addColumn<bool>("kept"); // both kept and named
        const auto row = [](const char* name, bool made, const char* copy, const char* source,
                            bool sourceStays, bool finalStays, bool kept) {
            QTest::newRow(name) << made << QString(copy) << QString(source) << sourceStays << finalStays
                                << kept;
        };
        row("record only: a name planned", false, "none", "present", true, false, false);
        row("created, mark not yet durable", false, "empty", "present", true, true, true);
        row("planned name taken by another program", false, "foreign", "present", true, true, false);
        row("cut short", true, "short", "present", true, false, false);
        row("tail of zeros after a power cut", true, "zero tail", "present", true, false, false);
        row("other bytes", true, "other bytes", "present", true, false, false);
        row("whole, source still there", true, "whole", "present", false, true, false);
        row("source changed since", true, "short", "changed", true, true, true);
        row("source gone once the copy was whole", true, "whole", "gone", false, true, false);
        row("source gone, copy cut short", true, "short", "gone", false, true, true);
    }
    void recoveryJudgesCopiesUnderTheirFinalNames() {
        QFETCH(bool, made);
        QFETCH(QString, copy);
        QFETCH(QString, source);
        const InterruptedLayout layout(4);
        const auto& [dir, root, from, dest, final, picture] = layout;
        if (source != "gone")
            writeBytes(from, picture);
        struct stat st {};
        QCOMPARE(::stat(from.c_str(), &st) == 0, source != "gone");
        const std::string stamp = source == "gone"
                                      ? std::to_string(picture.size()) + " 2 3"
                                      : std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
                                            " " + std::to_string(st.st_mtim.tv_nsec);
        writeBytes(dest / (".corvalin-" + std::to_string(::getpid()) + "-9.into"),
                   from.native() + '\0' + final.native() + '\0' + stamp +
                       (made ? std::string("\0made", 5) : ""));
        std::string zeroTail = picture;
        std::fill(zeroTail.begin() + 4096, zeroTail.end(), '\0');
        std::string other = picture;
        other[other.size() / 2] ^= 1;
        const std::map<QString, std::string> copies = {
            {"empty", ""},           {"short", picture.substr(0, 5000)},
            {"zero tail", zeroTail}, {"other bytes", other},
            {"whole", picture},      {"foreign", "someone else's"}};
        if (copy != "none")
            writeBytes(final, copies.at(copy));
        const std::optional<std::string> copyBefore = bytesOf(final);
        if (source == "changed")
            writeBytes(from, "edited");

        const Result<HeldFolder> held = HeldFolder::open(dest);
        const Result<std::vector<InterruptedMove>> moves = findInterruptedMoves(held.value());
        QVERIFY(moves.ok());
        QCOMPARE(moves.value().size(), std::size_t(1));
        QTEST(!moves.value().front().kept.empty(), "kept");
        QVERIFY(settleInterruptedMove(held.value(), moves.value().front()).ok());
        QCOMPARE(moveLeftovers(dest), 0);
        QTEST(lookupEntry(from) == EntryKind::File, "sourceStays");
        QTEST(lookupEntry(final) == EntryKind::File, "finalStays");
        if (lookupEntry(final) == EntryKind::File)
            QCOMPARE(bytesOf(final), copyBefore); // a kept file is never touched
        if (lookupEntry(from) == EntryKind::File)
            QCOMPARE(bytesOf(from), std::optional(source == "changed" ? std::string("edited") : picture));
    }

    void recoveryLeavesALiveMoverAlone() {
        QTemporaryDir dir;
        const fs::path dest = dir.path().toStdString();
        const pid_t mover = ::fork();
        if (mover == 0) {
            ::pause();
            ::_exit(0);
        }
        const std::string stem = dest.native() + "/.corvalin-" + std::to_string(mover) + "-0";
        writeBytes(stem + ".from", "/nowhere/a.jpg");
        writeBytes(stem + ".part", "half");
        QVERIFY(recoverInterruptedMoves(dest).ok());
        const int whileAlive = moveLeftovers(dest);
        ::kill(mover, SIGKILL);
        ::waitpid(mover, nullptr, 0);
        QVERIFY(recoverInterruptedMoves(dest).ok());
        QCOMPARE(whileAlive, 2);
        QCOMPARE(moveLeftovers(dest), 0);
    }

    void failedCopyKeepsTheSource_data() {
        QTest::addColumn<bool>("fullDisk"); // else a file size limit
        QTest::addColumn<int>("code");
        QTest::newRow("file size limit") << false << EFBIG;
        QTest::newRow("full file system") << true << ENOSPC;
    }
    void failedCopyKeepsTheSource() {
        QFETCH(bool, fullDisk);
        QFETCH(int, code);
        QTemporaryDir source;
        std::unique_ptr<QTemporaryDir> target =
            fullDisk ? std::make_unique<QTemporaryDir>() : otherFileSystemDir();
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        const fs::path from = fs::path(source.path().toStdString()) / "a.jpg";
        const fs::path dest = target->path().toStdString();
        writeBytes(from, pictureBytes(3, 1 << 20));
        const int result = test::runInChild([&] {
            if (fullDisk && !test::mountPrivateTmpfs(dest, "64k"))
                return test::skipExit;
            const struct rlimit limit = {4096, 4096};
            if (!fullDisk &&
                (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
                return test::skipExit;
            const Status status = moveNoReplace(from, dest / "000001 a.jpg");
            const bool untouched = bytesOf(from) == pictureBytes(3, 1 << 20) && fs::is_empty(dest);
            return status.code() == code && untouched ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot limit the disk here");
        QCOMPARE(result, 0);
    }

    // Memory cards and USB sticks (FAT, exFAT) have no hard links: the copy is renamed into place.
    void copyAcrossWithoutHardLinks() {
        QTemporaryDir source;
        const auto target = otherFileSystemDir();
        if (!target)
            QSKIP("/dev/shm is not another file system here");
        const fs::path from = fs::path(source.path().toStdString()) / "a.jpg";
        const fs::path dest = target->path().toStdString();
        writeBytes(from, pictureBytes(3));
        writeBytes(dest / "taken.jpg", "old");
        const int result = test::runInChild([&] {
            if (!test::refuseHardLinks())
                return test::skipExit;
            const bool refused = moveNoReplace(from, dest / "taken.jpg").code() == EEXIST;
            return refused && moveNoReplace(from, dest / "b.jpg").ok() ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("no seccomp filter here");
        QCOMPARE(result, 0);
        QCOMPARE(lookupEntry(from), EntryKind::None);
        QCOMPARE(bytesOf(dest / "b.jpg"), std::optional(pictureBytes(3)));
        QCOMPARE(bytesOf(dest / "taken.jpg"), std::optional<std::string>("old"));
        QCOMPARE(moveLeftovers(dest), 0);
    }

    void killAtAnyInstantLosesNothing_data() {
        QTest::addColumn<bool>("hardLinks");
        QTest::addColumn<bool>("safeRenames"); // a rename that refuses to replace
        QTest::addColumn<int>("batch");        // files a batch holds; 0: one move after the other
        QTest::newRow("hard links") << true << true << 0;
        QTest::newRow("no hard links, as on FAT") << false << true << 0;
        QTest::newRow("batches, hard links") << true << true << 3;
        QTest::newRow("batches, no hard links") << false << true << 3;
        // Copies written under their final names, as on exFAT or FAT through FUSE.
        QTest::newRow("neither, as through FUSE") << false << false << 0;
        QTest::newRow("batches, neither") << false << false << 3;
    }
    void killAtAnyInstantLosesNothing() {
        QFETCH(bool, hardLinks);
        QFETCH(bool, safeRenames);
        QFETCH(int, batch);
        QTemporaryDir target;
        const auto source = otherFileSystemDir(); // the copy then goes to the real disk
        if (!source)
            QSKIP("/dev/shm is not another file system here");
        const fs::path from = source->path().toStdString();
        const fs::path dest = target.path().toStdString();
        constexpr int files = 8;
        constexpr int rounds = 40;
        qint64 runTime = 0;
        for (int round = 0; round <= rounds; ++round) {
            for (int i = 0; i < files; ++i)
                writeBytes(from / std::to_string(i), pictureBytes(i));
            QElapsedTimer timer;
            timer.start();
            const pid_t mover = ::fork();
            if (mover == 0) {
                if (!hardLinks && !test::refuseHardLinks(!safeRenames))
                    ::_exit(test::skipExit);
                if (batch > 0)
                    moveInBatches(from, dest, files, batch, !safeRenames);
                for (int i = 0; batch == 0 && i < files; ++i)
                    moveNoReplace(from / std::to_string(i), dest / std::to_string(i));
                ::_exit(0);
            }
            // The first round runs to the end and times the run; the others are killed at
            // instants spread over that time.
            if (round > 0) {
                ::usleep(static_cast<useconds_t>(runTime * (round - 1) / rounds));
                ::kill(mover, SIGKILL);
            }
            int status = 0;
            ::waitpid(mover, &status, 0);
            if (round == 0 && WIFEXITED(status) && WEXITSTATUS(status) == test::skipExit)
                QSKIP("no seccomp filter here");
            if (round == 0)
                runTime = timer.nsecsElapsed() / 1000;
            QVERIFY(recoverInterruptedMoves(dest).ok());
            QCOMPARE(moveLeftovers(dest), 0);
            for (int i = 0; i < files; ++i) {
                const auto inSource = bytesOf(from / std::to_string(i));
                auto inDest = bytesOf(dest / std::to_string(i));
                // A kill between a create and its mark leaves an empty file no record proves ours:
                // kept beside the untouched source, never removed.
                if (!safeRenames && inSource && inDest && inDest->empty())
                    inDest.reset();
                QVERIFY2(inSource.has_value() != inDest.has_value(),
                         qPrintable(QString("round %1: %2 %3")
                                        .arg(round)
                                        .arg(inSource ? int(inSource->size()) : -1)
                                        .arg(inDest ? int(inDest->size()) : -1)));
                QCOMPARE(inSource.has_value() ? *inSource : *inDest, pictureBytes(i));
                fs::remove(from / std::to_string(i));
                fs::remove(dest / std::to_string(i));
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestMoveFile)
#include "test_move_file.moc"
