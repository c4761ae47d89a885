// Batches of copies to another file system: every copy named in order without replacing anything,
// with hard links or without, flushed as a whole or file by file; a stop, a changed or vanished
// source, a full disk and a destination that cannot name a copy safely each leave every file
// exactly once and no hidden file behind.
#include "platform/cross_device_batch.h"

#include "child_process.h"
#include "disk_helpers.h"
#include "other_file_system.h"
#include "platform/file_ops.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

using Names = std::vector<std::string>;
Q_DECLARE_METATYPE(Names)
Q_DECLARE_METATYPE(BatchFlush)

namespace {

std::vector<std::string> namesIn(const fs::path& folder);

// Names the copies as the move run does: "<n> <name>", the next number when a name is taken.
class NumberedNames : public CopyNaming {
public:
    explicit NumberedNames(fs::path folder) : m_folder(std::move(folder)) {}
    int stopAfter = -1; // copies named before the naming stops

    Result<fs::path> finalPathFor(const fs::path& source, const FileIdentity&, bool taken) override {
        m_next += taken ? 1 : 0;
        return m_folder / (std::to_string(m_next) + " " + source.filename().native());
    }
    void copyNamed(const fs::path&) override {
        ++m_next;
        ++m_named;
    }
    bool namingStopped() override { return m_named == stopAfter; }
    // What the destination held when the caller was asked to put its records on the disk.
    Status recordsOnDisk() override {
        seenAtRecords.push_back(namesIn(m_folder));
        return recordsFail ? errorFromErrno("journal", m_folder, EIO) : Status();
    }
    std::vector<std::vector<std::string>> seenAtRecords;
    bool recordsFail = false;

private:
    fs::path m_folder;
    int m_next = 1;
    int m_named = 0;
};

std::vector<std::string> namesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

HeldFolder held(const fs::path& folder) {
    return std::move(HeldFolder::open(folder).value());
}

std::string contentOf(const std::string& name) {
    return std::string(100 * 1024, name[0]) + name;
}

} // namespace

class TestCrossDeviceBatch : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_source;
    std::unique_ptr<QTemporaryDir> m_target;

    fs::path src() const { return m_source->path().toStdString(); }
    fs::path dst() const { return m_target->path().toStdString(); }

    void makeSources(const Names& names) {
        for (const std::string& name : names)
            writeBytes(src() / name, contentOf(name));
    }
    // Adds the files and commits them in a child, whose exit code is returned: 0 when the
    // commit's error had `code` (0: none), 1 otherwise.
    int moveInChild(const Names& names, const std::function<bool()>& setUp, int code = 0,
                    BatchSettings settings = {}, int stopAfter = -1) {
        return runInChild([&] {
            if (!setUp())
                return skipExit;
            CrossDeviceBatch batch(held(dst()), settings);
            const HeldFolder source = held(src());
            Status status;
            for (const std::string& name : names) {
                if (status = batch.add(source, name); !status)
                    break; // what was whole is still committed
            }
            NumberedNames naming(dst());
            naming.stopAfter = stopAfter;
            const Status committed = batch.commit(naming);
            if (status)
                status = committed;
            return status.code() == code ? 0 : 1;
        });
    }

private slots:
    void init() {
        m_source = std::make_unique<QTemporaryDir>();
        m_target = otherFileSystemDir();
        if (!m_target)
            QSKIP("/dev/shm is not another file system here");
    }

    void copiesAreNamedInOrder_data() {
        QTest::addColumn<BatchFlush>("flush");
        QTest::addColumn<bool>("hardLinks");
        QTest::addColumn<Names>("taken");
        QTest::addColumn<int>("stopAfter");
        QTest::addColumn<Names>("named");
        QTest::addColumn<Names>("left"); // sources still there
        const Names all{"1 a.jpg", "2 b.jpg", "3 c.jpg"};
        for (const bool links : {true, false}) {
            const char* const kind = links ? "" : ", no hard links";
            QTest::addRow("one syncfs%s", kind)
                << BatchFlush::WholeFileSystem << links << Names{} << -1 << all << Names{};
            QTest::addRow("each file flushed%s", kind)
                << BatchFlush::EachFile << links << Names{} << -1 << all << Names{};
            QTest::addRow("a taken name takes the next number%s", kind)
                << BatchFlush::Automatic << links << Names{"2 b.jpg"} << -1
                << Names{"1 a.jpg", "2 b.jpg", "3 b.jpg", "4 c.jpg"} << Names{};
            QTest::addRow("stopped after the first%s", kind) << BatchFlush::Automatic << links << Names{} << 1
                                                             << Names{"1 a.jpg"} << Names{"b.jpg", "c.jpg"};
        }
    }
    void copiesAreNamedInOrder() {
        QFETCH(BatchFlush, flush);
        QFETCH(bool, hardLinks);
        QFETCH(Names, taken);
        QFETCH(int, stopAfter);
        QFETCH(Names, named);
        makeSources({"a.jpg", "b.jpg", "c.jpg"});
        for (const std::string& name : taken)
            writeBytes(dst() / name, "old");
        const int result = moveInChild(
            {"a.jpg", "b.jpg", "c.jpg"}, [&] { return hardLinks || refuseHardLinks(); }, 0, {.flush = flush},
            stopAfter);
        if (result == skipExit)
            QSKIP("no seccomp filter here");
        QCOMPARE(result, 0);
        QCOMPARE(namesIn(dst()), named); // no hidden file left either
        QTEST(namesIn(src()), "left");
        for (const std::string& name : named) {
            const bool old = std::find(taken.begin(), taken.end(), name) != taken.end();
            QCOMPARE(readWholeFile(dst() / name).value(), old ? "old" : contentOf(name.substr(2)));
        }
    }

    // A named copy's hidden files are the only trace of its move besides the caller's records, so
    // they go only once those records are on the disk; when they cannot be, they stay for the next
    // start's recovery.
    void hiddenFilesOutliveTheRecords_data() {
        QTest::addColumn<bool>("recordsFail");
        QTest::newRow("records on the disk") << false;
        QTest::newRow("records not on the disk") << true;
    }
    void hiddenFilesOutliveTheRecords() {
        QFETCH(bool, recordsFail);
        makeSources({"a.jpg", "b.jpg"});
        CrossDeviceBatch batch(held(dst()), {});
        const HeldFolder source = held(src());
        QVERIFY(batch.add(source, "a.jpg").ok());
        QVERIFY(batch.add(source, "b.jpg").ok());
        NumberedNames naming(dst());
        naming.recordsFail = recordsFail;
        QCOMPARE(batch.commit(naming).ok(), !recordsFail);
        QCOMPARE(naming.seenAtRecords.size(), std::size_t(1));
        const Names seen = naming.seenAtRecords.front();
        QCOMPARE(std::count_if(seen.begin(), seen.end(), [](const std::string& n) { return n[0] == '.'; }),
                 4);
        QCOMPARE(namesIn(src()), Names{}); // the sources went before
        QCOMPARE(namesIn(dst()) == seen, recordsFail);
    }

    // A source written to after its copy was made keeps its new bytes and its place; one that
    // vanished leaves its copy as the file.
    void sourceChangedOrGoneAfterItsCopy_data() {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<Names>("named");
        QTest::newRow("changed") << true << Names{"1 a.jpg", "3 c.jpg"};
        QTest::newRow("gone") << false << Names{"1 a.jpg", "2 b.jpg", "3 c.jpg"};
    }
    void sourceChangedOrGoneAfterItsCopy() {
        QFETCH(bool, changed);
        makeSources({"a.jpg", "b.jpg", "c.jpg"});
        CrossDeviceBatch batch(held(dst()));
        const HeldFolder source = held(src());
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            QVERIFY(batch.add(source, name).ok());
        if (changed)
            writeBytes(src() / "b.jpg", "edited");
        else
            fs::remove(src() / "b.jpg");
        NumberedNames naming(dst());
        const Status committed = batch.commit(naming);
        QCOMPARE(committed.ok(), !changed);
        if (changed) {
            QCOMPARE(committed.error().path, src() / "b.jpg");
            QCOMPARE(readWholeFile(src() / "b.jpg").value(), std::string("edited"));
        }
        QTEST(namesIn(dst()), "named");
        QCOMPARE(namesIn(src()), changed ? Names{"b.jpg"} : Names{});
    }

    // The copy cut short by the full disk goes; the whole ones before it are named.
    void fullDiskKeepsTheWholeCopies() {
        makeSources({"a.jpg", "b.jpg", "c.jpg"});
        const int result = moveInChild(
            {"a.jpg", "b.jpg", "c.jpg"}, [&] { return mountPrivateTmpfs(dst(), "256k"); }, ENOSPC);
        if (result == skipExit)
            QSKIP("cannot mount a private tmpfs here");
        QCOMPARE(result, 0);
        QCOMPARE(namesIn(src()), Names{"c.jpg"}); // the private mount went with the child
    }

    void destinationThatCannotNameSafely() {
        makeSources({"a.jpg", "b.jpg"});
        const int result = moveInChild(
            {"a.jpg", "b.jpg"}, [] { return refuseHardLinks(true); }, EPERM);
        if (result == skipExit)
            QSKIP("no seccomp filter here");
        QCOMPARE(result, 0);
        QCOMPARE(namesIn(dst()), Names{});
        QCOMPARE(namesIn(src()), (Names{"a.jpg", "b.jpg"}));
    }

    // The limits close a batch; a file larger than the byte limit makes one of its own.
    void limits() {
        makeSources({"a.jpg", "b.jpg"});
        const HeldFolder source = held(src());
        CrossDeviceBatch byCount(held(dst()), {.count = 2});
        QVERIFY(byCount.add(source, "a.jpg").ok());
        QVERIFY(!byCount.full());
        QVERIFY(byCount.add(source, "b.jpg").ok());
        QVERIFY(byCount.full());
        byCount.discard();
        QVERIFY(byCount.empty());
        QCOMPARE(namesIn(dst()), Names{});
        CrossDeviceBatch byBytes(held(dst()), {.bytes = 1000});
        QVERIFY(byBytes.add(source, "a.jpg").ok());
        QVERIFY(byBytes.full());
    }

    void crossesFileSystemsOnly() {
        QVERIFY(CrossDeviceBatch::crosses(held(src()), held(dst())));
        QVERIFY(!CrossDeviceBatch::crosses(held(src()), held(src())));
    }
};

QTEST_APPLESS_MAIN(TestCrossDeviceBatch)
#include "test_cross_device_batch.moc"
