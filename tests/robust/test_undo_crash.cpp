// A move run killed with SIGKILL at a random instant (or left to finish), then undone, with the
// undo itself killed at random instants and started again, round after round. The destination
// lies on another file system, so that moves both ways are copies a kill can cut off. After the
// last undo: every picture exists exactly once, under its original name and path, with its bytes
// unchanged, every file the run put in the Trash is back and the Trash holds nothing of it, and
// nothing of a cut-off copy is left anywhere.
//
// CORVALIN_UNDO_CRASH_ROUNDS, CORVALIN_UNDO_CRASH_PICTURES, CORVALIN_UNDO_CRASH_KILLS (per undo)
// and CORVALIN_UNDO_CRASH_SEED set a larger or a repeated run; the seed is printed.
#include "crash_harness.h"
#include "history/run_history.h"
#include "history/undo.h"
#include "own_trash.h"
#include "picture_census.h"
#include "robust_env.h"

#include <QtTest>

#include <cstdio>
#include <random>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

struct UndoCrashConfig {
    int rounds = 0;
    int pictures = 0;
    int undoKills = 0;
    std::uint64_t seed = 0;
};

class PlainUndoObserver : public UndoObserver {
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

// The undo of the newest run, as the history window starts it; 0 when it went through to the
// end and left nothing.
int runUndo(const fs::path& history) {
    const auto runs = listRuns(history);
    if (!runs || runs.value().empty())
        return 0; // killed before its journal was written: nothing was moved
    PlainUndoObserver observer;
    const UndoOutcome outcome = undoRun(runs.value().front().file, observer);
    if (outcome.error) {
        std::fprintf(stderr, "undo failed: %s: %s\n", outcome.error->path.c_str(),
                     outcome.error->reason().c_str());
        return 1;
    }
    for (const UndoLeftItem& item : outcome.left)
        std::fprintf(stderr, "left: %s\n", item.path.c_str());
    return outcome.left.empty() ? 0 : 2;
}

// Hidden names anywhere below `folder`: the parts and records of a copy cut off.
std::string leftoversBelow(const fs::path& folder) {
    std::string found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; it != end; it.increment(error)) {
        if (it->path().filename().native().starts_with("."))
            found += "left over: " + it->path().native() + "\n";
    }
    return found;
}

std::string checkUndone(const PictureSet& pictures, const fs::path& source, const fs::path& destination,
                        const fs::path& trash) {
    const Census census = takeCensus(pictures, source, destination, true);
    std::string problems = census.problems + leftoversBelow(source);
    for (int i = 0; i < pictures.size(); ++i) {
        if (!fs::exists(pictures.originOf(i).parent_path() / "readme.txt"))
            problems +=
                "not back from the Trash: " + pictures.originOf(i).parent_path().native() + "/readme.txt\n";
    }
    for (const auto& [original, info] : trashedItems(trash))
        problems += "still in the Trash: " + original.native() + "\n";
    if (census.picturesInDestination != 0 || !namesIn(destination).empty())
        problems += std::to_string(namesIn(destination).size()) + " names still in the destination\n";
    return problems;
}

// One round: the run killed at a random point of its moves (one round in four runs to its end),
// its undo killed `undoKills` times, then undone to the end.
std::string runRound(const fs::path& work, const fs::path& destination, const UndoCrashConfig& config,
                     std::mt19937_64& random) {
    const fs::path source = work / "downloads";
    const SettingsFiles files{work / "program", work / "program"};
    const OwnHome home(work / "home"); // what the runs trash stays in the work folder
    const PictureSet pictures(source, config.pictures, std::max(1, config.pictures / 20));
    if (!chooseFolders(files, source, destination))
        return "cannot write the settings file\n";
    const auto inDestination = [&] {
        return countEntries(destination, false);
    };
    int exitStatus = 0;
    const Kill runKill{int(random() % std::uint64_t(config.pictures)), long(random() % 3000)};
    runAndKill([&] { return runProgram(files); }, inDestination, random() % 4 ? &runKill : nullptr,
               exitStatus);
    const int moved = inDestination();
    const auto cameBack = [&] {
        return moved - inDestination();
    };
    for (int k = 0; k < config.undoKills; ++k) {
        const Kill undoKill{int(random() % std::uint64_t(moved + 1)), long(random() % 3000)};
        runAndKill([&] { return runUndo(files.history()); }, cameBack, &undoKill, exitStatus);
    }
    runAndKill([&] { return runUndo(files.history()); }, cameBack, nullptr, exitStatus);
    if (exitStatus != 0)
        return "the last undo ended with " + std::to_string(exitStatus) + "\n";
    return checkUndone(pictures, source, destination, home.trash());
}

std::string runUndoHarness(const fs::path& work, const fs::path& destination, const UndoCrashConfig& config) {
    std::mt19937_64 random(config.seed);
    for (int round = 0; round < config.rounds; ++round) {
        const fs::path roundFolder = work / ("round-" + std::to_string(round));
        for (const auto& entry : fs::directory_iterator(destination))
            fs::remove_all(entry.path());
        if (const std::string problems = runRound(roundFolder, destination, config, random);
            !problems.empty())
            return "round " + std::to_string(round) + ":\n" + problems;
    }
    std::printf("%d rounds of %d pictures, %d kills of each undo (seed %llu)\n", config.rounds,
                config.pictures, config.undoKills, static_cast<unsigned long long>(config.seed));
    std::fflush(stdout);
    return {};
}

} // namespace

class TestUndoCrash : public QObject {
    Q_OBJECT

private slots:
    void killedRunAndUndoLoseNothing() {
        const UndoCrashConfig config{
            int(numberFromEnvironment("CORVALIN_UNDO_CRASH_ROUNDS", 8)),
            int(std::max(1LL, numberFromEnvironment("CORVALIN_UNDO_CRASH_PICTURES", 300))),
            int(numberFromEnvironment("CORVALIN_UNDO_CRASH_KILLS", 3)),
            seedFromEnvironment("CORVALIN_UNDO_CRASH_SEED")};
        QTemporaryDir work;
        const fs::path root = work.path().toStdString();
        const auto problems = acrossFileSystems(
            root, [&](const fs::path& destination) { return runUndoHarness(root, destination, config); });
        if (!problems)
            QSKIP(kNoSecondFileSystem);
        QVERIFY2(problems->empty(), problems->c_str());
    }
};

QTEST_APPLESS_MAIN(TestUndoCrash)
#include "test_undo_crash.moc"
