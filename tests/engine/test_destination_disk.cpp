// A destination whose disk cannot name a picture without risk of replacing another (exFAT and FAT
// through FUSE: no hard links, no rename that refuses to replace) is refused by the run and by its
// plan before anything is touched; every other destination is used, by the way its disk allows,
// and the plan says which.
#include "child_process.h"
#include "move_fixture.h"
#include "plan/move_plan.h"
#include "plan/plan_text.h"

#include <QtTest>

#include <cstdio>

using namespace corvalin;
using namespace corvalin::test;

namespace {

const Names kPictures = {"a/cat.jpg", "a/dog.jpg", "b/fox.jpg"};
const Names kOthers = {"a/notes.txt", "b/readme.txt"};

// What the refusal says whatever the disk's kind.
const char* const kRefusalWords = "ほかのファイルを置き換えずに画像の名前を付けられません";

constexpr int kPlanDiffers = 3;
constexpr int kRunDiffers = 4;

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace

class TestDestinationDisk : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_other;

    fs::path root() const { return m_dir.path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }

    // In the child, with the calls refused: the plan, then the run, each as expected. The exit code
    // says which differed.
    static int planThenRun(const fs::path& source, const fs::path& destination, const SettingsFiles& files,
                           const std::string& planSays, bool refused) {
        const PlanRequest request{source, destination, true, true, {}, false};
        const std::string plan = joined(planSummary(makeMovePlan(Module1{}, files, request)));
        if (plan.find(planSays) == std::string::npos) {
            std::fprintf(stderr, "plan:\n%s", plan.c_str());
            return kPlanDiffers;
        }
        Module1 vars;
        ScriptedObserver observer;
        observer.dest = destination;
        MoveRun run(vars, files, observer, Removal(true));
        std::vector<fs::path> folderList;
        const MoveRunResult result = run.run(source, true, folderList);
        const bool stoppedByTheDisk =
            result.error && result.error->reason().find(kRefusalWords) != std::string::npos;
        const bool asExpected = refused ? stoppedByTheDisk : result.outcome == MoveOutcome::Completed;
        if (!asExpected)
            std::fprintf(stderr, "run: %s\n", result.error ? result.error->reason().c_str() : "completed");
        return asExpected ? 0 : kRunDiffers;
    }

private slots:
    void init() {
        fs::remove_all(root());
        fs::create_directories(root() / "prog");
        fs::create_directories(root() / "dst");
        for (const std::string& picture : kPictures)
            QVERIFY(writeContent(src() / picture, pictureContent(picture)));
        for (const std::string& other : kOthers)
            QVERIFY(writeContent(src() / other, "other"));
        m_other.reset();
    }

    void namingWayOfTheDestination_data() {
        QTest::addColumn<bool>("noLinks");   // link(): EPERM
        QTest::addColumn<bool>("noRenames"); // renameat2(): EINVAL
        QTest::addColumn<bool>("elsewhere"); // the destination on another file system
        QTest::addColumn<QString>("planSays");
        QTest::addColumn<bool>("refused");
        const QString refusal = kRefusalWords;
        QTest::newRow("every way") << false << false << false << "（名前の変更で移動します）" << false;
        QTest::newRow("no hard links") << true << false << false << "（名前の変更で移動します）" << false;
        QTest::newRow("no rename without replacing")
            << false << true << false << "（ハードリンクで名前を付けて移動します）" << false;
        QTest::newRow("no rename without replacing, other disk")
            << false << true << true << "（コピーして、ハードリンクで名前を付けます）" << false;
        QTest::newRow("no hard links, other disk")
            << true << false << true << "（コピーして移動します）" << false;
        QTest::newRow("neither, as exFAT") << true << true << false << refusal << true;
        QTest::newRow("neither, as exFAT, other disk") << true << true << true << refusal << true;
    }
    // Refused, nothing is touched: not a file removed, not a probe file left. Used, every picture
    // arrives and the other files go.
    void namingWayOfTheDestination() {
        QFETCH(bool, noLinks);
        QFETCH(bool, noRenames);
        QFETCH(bool, elsewhere);
        QFETCH(QString, planSays);
        QFETCH(bool, refused);
        fs::path destination = root() / "dst";
        if (elsewhere) {
            m_other = otherFileSystemDir();
            if (!m_other)
                QSKIP("/dev/shm is not another file system here");
            destination = m_other->path().toStdString();
        }
        const auto before = census(src());
        const int code = runInChild([&] {
            if (!refuseNamingCalls(noLinks, noRenames))
                return skipExit;
            return planThenRun(src(), destination, files(), planSays.toStdString(), refused);
        });
        if (code == skipExit)
            QSKIP("no seccomp filter here");
        QCOMPARE(code, 0);
        if (refused) {
            QCOMPARE(census(src()), before);
            QCOMPARE(namesIn(destination), Names());
            return;
        }
        QCOMPARE(namesIn(destination).size(), kPictures.size());
        QCOMPARE(namesIn(src()), Names());
    }
};

QTEST_GUILESS_MAIN(TestDestinationDisk)
#include "test_destination_disk.moc"
