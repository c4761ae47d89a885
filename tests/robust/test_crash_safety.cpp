// The program killed with SIGKILL at many random instants of a move run, and started again each
// time, as a user would, until the run completes. The pictures lie in the work folder, the
// destination on another file system, so every move is a copy that a kill can cut off. After every
// kill: each picture exists under a final name with its bytes unchanged and nothing cut short sits
// under one; once the leftovers are recovered (as the next start does), each exists exactly once;
// the settings and counter files read.
//
// CORVALIN_CRASH_PICTURES, CORVALIN_CRASH_KILLS and CORVALIN_CRASH_SEED set a larger or a repeated
// run; the seed and the counts are printed.
#include "crash_harness.h"
#include "own_trash.h"
#include "picture_census.h"
#include "platform/file_ops.h"
#include "robust_env.h"

#include <QtTest>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <random>
#include <string_view>
#include <sys/wait.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

struct CrashConfig {
    int pictures = 0;
    int kills = 0;
    std::uint64_t seed = 0;
};

// How far the run has come, as seen from outside: pictures under a final name in the destination,
// then child folders gone from the source.
class Progress {
public:
    Progress(fs::path source, fs::path destination, int pictures)
        : m_source(std::move(source)), m_destination(std::move(destination)), m_pictures(pictures),
          m_folders(countEntries(m_source, true)) {}

    int total() const { return m_pictures + m_folders; }
    // The last point a kill can aim at and still be sure to find the run going: the last few
    // folders go faster than the harness looks.
    int lastKillPoint() const { return m_pictures + m_folders * 9 / 10; }
    int now() const { return countEntries(m_destination, false) + m_folders - countEntries(m_source, true); }

private:
    fs::path m_source, m_destination;
    int m_pictures, m_folders;
};

// Where the kills fall: one in eight at a random moment of a start, before it can have moved
// anything; the others at points drawn evenly over the whole run (moves, then folder deletions),
// each a random moment after the run got there. So they fall from the start to the end of the run
// however fast this machine is.
class KillPlan {
public:
    KillPlan(std::uint64_t seed, int kills, int lastPoint) : m_random(seed) {
        std::vector<int> points;
        for (int i = 0; i < kills; ++i) {
            const bool duringStart = m_random() % 8 == 0;
            m_kills.push_back({duringStart ? -1 : 0, long(m_random() % (duringStart ? 30000 : 3000))});
            if (!duringStart)
                points.push_back(int(m_random() % std::uint64_t(lastPoint + 1)));
        }
        // The points in the order the run passes them; the start kills stay where they fell.
        std::sort(points.begin(), points.end());
        auto point = points.begin();
        for (Kill& kill : m_kills) {
            if (kill.progress >= 0)
                kill.progress = *point++;
        }
    }
    const std::vector<Kill>& kills() const { return m_kills; }

private:
    std::mt19937_64 m_random;
    std::vector<Kill> m_kills;
};

struct Tally {
    int kills = 0;
    int cutOffCopies = 0;  // kills that left a temporary copy in the destination
    int picturesTwice = 0; // kills that left a picture under two final names
    int beforeAnyMove = 0; // kills that cut a start off before it moved a picture (or with none left)
    int afterLastMove = 0; // kills while the folders were deleted or the program was closing
};

// The checks after one kill, before and after the recovery. `picturesMoved` goes in as the count
// in the destination before this start and comes out as the count after it.
std::string checkAfterKill(const PictureSet& pictures, const fs::path& source, const fs::path& destination,
                           const SettingsFiles& files, Tally& tally, int& picturesMoved) {
    const Census before = takeCensus(pictures, source, destination, false);
    std::string problems = before.problems;
    problems += checkSettingsFiles(files.settingsFile(), files.counterFile(), before.highestSerialNo);
    if (Status recovered = recoverInterruptedMoves(destination); !recovered)
        return problems + "recovery failed: " + recovered.error().reason() + "\n";
    const Census after = takeCensus(pictures, source, destination, true);
    tally.cutOffCopies += before.temporaries > 0;
    tally.picturesTwice += before.picturesTwice > 0;
    tally.beforeAnyMove += after.picturesInDestination == picturesMoved;
    tally.afterLastMove += after.picturesInDestination == pictures.size();
    picturesMoved = after.picturesInDestination;
    return problems + (after.problems.empty() ? "" : "after the recovery:\n" + after.problems);
}

std::string checkCompleted(const PictureSet& pictures, const fs::path& source, const fs::path& destination,
                           const SettingsFiles& files) {
    const Census census = takeCensus(pictures, source, destination, true);
    std::string problems = census.problems;
    if (census.picturesInDestination != pictures.size())
        problems += std::to_string(census.picturesInDestination) + " pictures in the destination\n";
    if (const auto left = listSubfolders(source, {.includeHidden = true}); !left || !left.value().empty())
        problems += "child folders left in the source\n";
    problems += checkSettingsFiles(files.settingsFile(), files.counterFile(), census.highestSerialNo);
    // A kill within a rewrite of the settings or counter file leaves its temporary file; the next
    // start removes it.
    if (const int left = countEntries(files.settingsFolder, true) - countEntries(files.settingsFolder, false))
        problems += std::to_string(left) + " temporary files left beside the settings files\n";
    return problems;
}

std::string runCrashHarness(const fs::path& work, const fs::path& destination, const CrashConfig& config) {
    const fs::path source = work / "downloads";
    const SettingsFiles files{work / "program", work / "program"};
    const PictureSet pictures(source, config.pictures, std::max(1, config.pictures / 20));
    if (!chooseFolders(files, source, destination))
        return "cannot write the settings file\n";

    const Progress progress(source, destination, config.pictures);
    const KillPlan plan(config.seed, config.kills, progress.lastKillPoint());
    Tally tally;
    int exitStatus = 0;
    int moved = 0; // pictures in the destination
    const auto program = [&] {
        return runProgram(files);
    };
    const auto progressNow = [&] {
        return progress.now();
    };
    for (const Kill& kill : plan.kills()) {
        if (!runAndKill(program, progressNow, &kill, exitStatus))
            break; // the run completed before this kill
        ++tally.kills;
        if (const std::string problems = checkAfterKill(pictures, source, destination, files, tally, moved);
            !problems.empty())
            return "after kill " + std::to_string(tally.kills) + " (at " + std::to_string(kill.progress) +
                   " of " + std::to_string(progress.total()) + ", " + std::to_string(kill.delay) +
                   " us on):\n" + problems;
    }
    if (tally.kills == config.kills)
        runAndKill(program, progressNow, nullptr, exitStatus); // the last start runs to the end
    if (exitStatus != 0)
        return "the last start ended with " + std::to_string(exitStatus) + "\n";
    std::printf("%d pictures, %d kills (seed %llu): %d before a start moved a picture, %d after the "
                "last one was moved; a copy cut off by %d, a picture under two names by %d\n",
                config.pictures, tally.kills, static_cast<unsigned long long>(config.seed),
                tally.beforeAnyMove, tally.afterLastMove, tally.cutOffCopies, tally.picturesTwice);
    std::fflush(stdout);
    return checkCompleted(pictures, source, destination, files);
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

private slots:
    void killedAndRestartedLosesNothing() {
        const CrashConfig config{int(numberFromEnvironment("CORVALIN_CRASH_PICTURES", 2000)),
                                 int(numberFromEnvironment("CORVALIN_CRASH_KILLS", 50)),
                                 seedFromEnvironment("CORVALIN_CRASH_SEED")};
        QTemporaryDir work;
        const fs::path root = work.path().toStdString();
        const OwnHome home(root / "home"); // what the runs trash stays in the work folder
        const auto problems = acrossFileSystems(
            root, [&](const fs::path& destination) { return runCrashHarness(root, destination, config); });
        if (!problems)
            QSKIP(kNoSecondFileSystem);
        QVERIFY2(problems->empty(), problems->c_str());
    }
};

QTEST_APPLESS_MAIN(TestCrashSafety)
#include "test_crash_safety.moc"
