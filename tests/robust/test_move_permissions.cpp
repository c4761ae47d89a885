// The move run where file permissions stand in its way. Only an unprivileged user meets them (root
// passes through), so CTest runs this as the user "nobody" (run_unprivileged.sh); run as root, it
// skips.
#include "app/error_text.h"
#include "engine/move_run.h"
#include "history/run_history.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "plan/move_plan.h"

#include <QtTest>

#include <cerrno>
#include <sys/stat.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

// Three child folders in the order the run takes them; b is the one the rows lock.
const Names kPictures = {"a/1.jpg", "a/2.jpg", "b/3.jpg", "b/4.jpg", "c/5.jpg"};
const Names kOthers = {"a/notes.txt", "c/notes.txt"};

std::vector<std::string> makeTree(const fs::path& source) {
    std::vector<std::string> contents;
    for (const std::string& picture : kPictures) {
        contents.push_back(pictureContent(picture));
        writeContent(source / picture, contents.back());
    }
    for (const std::string& other : kOthers)
        writeContent(source / other, "notes");
    return contents;
}

// The base names of the pictures in the destination, and whether all are writable by their owner.
Names movedNames(const fs::path& destination, bool& allWritable) {
    Names names;
    allWritable = true;
    for (const std::string& name : namesIn(destination)) {
        names.push_back(name.size() > 7 ? name.substr(7) : name);
        struct stat st {};
        allWritable = allWritable && ::stat((destination / name).c_str(), &st) == 0 && (st.st_mode & S_IWUSR);
    }
    return names;
}

} // namespace

Q_DECLARE_METATYPE(corvalin::MoveOutcome)

class TestMovePermissions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() == 0)
            QSKIP("root ignores file permissions: run this as an unprivileged user");
    }

    // The plan made before the run says the same: where the run stops and why. The history counts
    // what arrived, never the move that was refused.
    void stopsWhereItMayNotGoAndLosesNothing_data() {
        QTest::addColumn<QByteArrayList>("locks"); // "mode:path" below the source, or "mode:dst"
        QTest::addColumn<bool>("lockAfterPlan");   // changed between the plan and the run
        QTest::addColumn<bool>("across");          // destination on another file system
        QTest::addColumn<MoveOutcome>("outcome");
        QTest::addColumn<QByteArray>("failedAt");
        QTest::addColumn<QByteArrayList>("moved");

        const QByteArrayList all{"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"};
        for (const bool across : {false, true}) {
            const QByteArray where = across ? ", across file systems" : "";
            QTest::newRow("unreadable child folder" + where)
                << QByteArrayList{"000:b"} << false << across << MoveOutcome::Failed << QByteArray("b")
                << QByteArrayList{};
            // The survey display already enters every folder, before anything is moved.
            QTest::newRow("child folder without search permission" + where)
                << QByteArrayList{"444:b"} << false << across << MoveOutcome::Failed << QByteArray("b")
                << QByteArrayList{};
            // The folder refused, not its picture.
            QTest::newRow("read-only child folder" + where)
                << QByteArrayList{"555:b"} << false << across << MoveOutcome::Failed << QByteArray("b")
                << QByteArrayList{"1.jpg", "2.jpg"};
            QTest::newRow("read-only pictures" + where)
                << QByteArrayList{"444:b/3.jpg", "444:b/4.jpg", "444:a/notes.txt"} << false << across
                << MoveOutcome::Completed << QByteArray() << all;
            // A rename needs no read permission; a copy does, and the run stops at the picture,
            // which keeps its mode.
            QTest::newRow("unreadable picture" + where)
                << QByteArrayList{"000:b/3.jpg"} << false << across
                << (across ? MoveOutcome::Failed : MoveOutcome::Completed)
                << QByteArray(across ? "b/3.jpg" : "") << (across ? QByteArrayList{"1.jpg", "2.jpg"} : all);
            // The destination refused, not the source; before anything is touched.
            QTest::newRow("destination without write permission" + where)
                << QByteArrayList{"555:dst"} << false << across << MoveOutcome::Failed << QByteArray("dst")
                << QByteArrayList{};
            QTest::newRow("destination closed between the plan and the run" + where)
                << QByteArrayList{"555:dst"} << true << across << MoveOutcome::Failed << QByteArray("dst")
                << QByteArrayList{};
        }
    }
    void stopsWhereItMayNotGoAndLosesNothing() {
        QFETCH(QByteArrayList, locks);
        QFETCH(bool, lockAfterPlan);
        QFETCH(bool, across);
        QFETCH(MoveOutcome, outcome);
        QFETCH(QByteArray, failedAt);
        QFETCH(QByteArrayList, moved);

        QTemporaryDir work;
        const std::unique_ptr<QTemporaryDir> other = across ? otherFileSystemDir() : nullptr;
        if (across && !other)
            QSKIP("/dev/shm is not another file system here");
        const fs::path root = work.path().toStdString();
        const OwnHome home(root / "home");
        const fs::path source = root / "src";
        const fs::path destination = other ? fs::path(other->path().toStdString()) : root / "dst";
        fs::create_directories(destination);
        const std::vector<std::string> pictures = makeTree(source);
        const auto place = [&](const QByteArray& name) {
            return name == "dst" ? destination : source / name.toStdString();
        };
        const auto lockAll = [&](bool locked) {
            for (const QByteArray& lock : locks) {
                const int changed =
                    ::chmod(place(lock.mid(4)).c_str(), locked ? lock.left(3).toUInt(nullptr, 8) : 0755);
                QVERIFY(changed == 0 || !locked); // a locked picture may have moved away meanwhile
            }
        };
        if (!lockAfterPlan)
            lockAll(true);
        const SettingsFiles files{root / "prog", root};
        const MovePlan plan = makeMovePlan(Module1{}, files, {source, destination, true, false, {}});
        if (lockAfterPlan)
            lockAll(true);

        ScriptedObserver observer;
        observer.dest = destination;
        Module1 vars;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files, observer);
        auto journal =
            RunJournal::create(root / "history", moveRunStart(0, source, destination, true, Removal()));
        run.setJournal(&journal.value());
        const MoveRunResult result = run.run(source, true, folderList); // delete option on
        QVERIFY(journal.value().finish(kOutcomeFailed));
        // What the run left where it was keeps its mode.
        for (const QByteArray& lock : locks) {
            struct stat st {};
            if (::stat(place(lock.mid(4)).c_str(), &st) == 0)
                QCOMPARE(st.st_mode & 0777, mode_t(lock.left(3).toUInt(nullptr, 8)));
        }
        bool allWritable = false;
        const Names arrived = movedNames(destination, allWritable);
        lockAll(false); // so that the folders can go
        // ... and a picture that arrived unreadable can be counted.
        for (const std::string& name : namesIn(destination))
            ::chmod((destination / name).c_str(), 0644);

        QCOMPARE(result.outcome, outcome);
        QCOMPARE(plan.outcome, lockAfterPlan ? MoveOutcome::Completed : outcome);
        if (plan.error && result.error) {
            QCOMPARE(plan.error->path, result.error->path);
            QCOMPARE(plan.error->code, result.error->code);
        }
        // The place the run stops at is one problem of the plan, not two.
        if (plan.error)
            QCOMPARE(std::count_if(plan.problems.begin(), plan.problems.end(),
                                   [&](const PlanProblem& problem) {
                                       return problem.path == plan.error->path.native();
                                   }),
                     std::ptrdiff_t(1));
        if (outcome == MoveOutcome::Failed) {
            QCOMPARE(result.error->path, place(failedAt));
            QCOMPARE(result.error->code, EACCES);
            // What the user reads names the place and the system's reason.
            const std::string message = describeError(*result.error);
            QVERIFY2(message.find(result.error->path.native()) != std::string::npos, message.c_str());
            QVERIFY2(message.find(result.error->reason()) != std::string::npos, message.c_str());
            QCOMPARE(namesIn(source), (Names{"a", "b", "c"})); // no folder deleted after a failure
        } else {
            QCOMPARE(namesIn(source), Names{});
        }
        const std::string problems = lostOrDoubled(pictures, {source, destination});
        QVERIFY2(problems.empty(), problems.c_str());
        Names expected;
        for (const QByteArray& name : moved)
            expected.push_back(name.toStdString());
        QCOMPARE(arrived, expected); // nothing hidden left either
        QVERIFY(allWritable);
        const auto runs = listRuns(root / "history");
        QCOMPARE(runs.value().empty() ? 0 : runs.value()[0].picturesMoved, int(moved.size()));
    }
};

QTEST_APPLESS_MAIN(TestMovePermissions)
#include "test_move_permissions.moc"
