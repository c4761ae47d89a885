// Runs raced by another program that swaps a folder of their tree for a symbolic link to a victim
// folder outside it: at the run's first change inside that folder, and at random instants round
// after round. Whatever the run does then, the victim stays byte for byte as it was and every
// picture exists exactly once. CORVALIN_RACE_ROUNDS (per case) and CORVALIN_RACE_SEED make a longer
// or a repeated run; the seed, the rounds and how many swaps fell inside a run are printed.
#include "engine/move_run.h"
#include "folder_swap.h"
#include "history/run_journal.h"
#include "history/undo.h"
#include "move_fixture.h"
#include "options/folder_action.h"
#include "own_trash.h"
#include "plan/move_plan.h"
#include "platform/file_ops.h"
#include "quiet_observers.h"
#include "robust_env.h"
#include "scripted_message_box.h"
#include "strip/strip_runs.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>

using namespace corvalin;
using namespace corvalin::test;

namespace {

// A round's folders: the tree a run works in, the victim beside it, the journals.
struct Round {
    fs::path folder;
    fs::path elsewhere; // on another file system (not /dev/shm), for destinations reached by copies
    fs::path tree() const { return folder / "tree"; }
    fs::path victim() const { return folder / "victim"; }
    fs::path history() const { return folder / "history"; }
};

struct Built {
    std::vector<std::string> pictures; // their contents, each one of a kind
    fs::path journal = {};             // for an undo: the run's journal
    // A picture whose bytes the destination holds already: removed as a duplicate, or still in its
    // folder when the run stopped before it (a swap at the survey may stop it), so once or twice.
    std::string plantedTwin = {};
};

// What a scenario does: builds its tree, names the folder the racer swaps (below the tree), and
// runs. A run may fail at what the swap left; it must never harm the victim or lose a picture.
struct Scenario {
    std::function<Built(const Round&)> build;
    std::string swapped;
    std::function<void(const Round&, const Built&)> run;
    // The swapped folder is the run's own, whose path the user gave: what it names when the run
    // opens it is the user's choice, so the racer starts at the run's first change inside it.
    bool ownFolder = true;
    // The swap falls at the run's first look inside the folder instead: for a run that changes
    // nothing there (a plan).
    bool atFirstRead = false;
};

Built numberedPictures(const Round& round) {
    Built built;
    for (int k = 1; k <= 6; ++k) {
        const std::string name = "00000" + std::to_string(k) + " p" + std::to_string(k) + ".jpg";
        built.pictures.push_back(pictureContent(round.folder.native() + name));
        writeContent(round.tree() / "cats" / name, built.pictures.back());
    }
    return built;
}

RunStart startOf(RunKind kind, const fs::path& folder) {
    RunStart start;
    start.kind = kind;
    start.source = folder;
    return start;
}

void stripInPlace(const Round& round, const Built&) {
    auto journal = RunJournal::create(round.history(), startOf(RunKind::Strip, round.tree() / "cats"));
    QuietStrip observer;
    const auto names = listFiles(round.tree() / "cats");
    const StripOutcome outcome =
        stripInFolder(round.tree() / "cats", names ? names.value() : std::vector<std::string>{}, observer,
                      &journal.value());
    (void)journal.value().finish(outcome.error ? kOutcomeFailed : kOutcomeCompleted);
}

void stripIntoNewSubfolder(const Round& round, const Built&) {
    const fs::path folder = round.tree() / "cats";
    auto journal = RunJournal::create(round.history(), startOf(RunKind::StripIntoSubfolder, folder));
    QuietStrip observer;
    const auto names = listFiles(folder);
    const auto made = createStripSubfolder(folder, &journal.value());
    if (names && made && made.value())
        (void)stripIntoSubfolder(*made.value(), names.value(), observer, &journal.value());
    (void)journal.value().finish(kOutcomeCompleted);
}

void makeChildFolders(const Round& round, const Built&) {
    ScriptedMessageBox messages;
    FolderActionRequest request;
    request.choice = FolderChoice::Create;
    request.parent = round.tree() / "cats";
    request.countText = "5";
    request.historyFolder = round.history();
    (void)runFolderAction(request, messages, ProtectedPlaces{});
}

// A move run of three child folders into the destination, as the window runs it: what its undo
// puts back.
Built movedPictures(const Round& round, bool deleteFolders) {
    Built built;
    for (int folder = 1; folder <= 3; ++folder) {
        for (int k = 1; k <= 3; ++k) {
            const std::string name = "dl" + std::to_string(folder) + "/q" + std::to_string(k) + ".jpg";
            built.pictures.push_back(pictureContent(round.folder.native() + name));
            writeContent(round.tree() / "src" / name, built.pictures.back());
        }
        writeContent(round.tree() / "src" / ("dl" + std::to_string(folder)) / "notes.txt", "notes");
    }
    fs::create_directories(round.tree() / "dst");
    RunStart start;
    start.source = round.tree() / "src";
    start.destination = round.tree() / "dst";
    auto journal = RunJournal::create(round.history(), start);
    ScriptedObserver observer;
    observer.dest = round.tree() / "dst";
    Module1 vars;
    std::vector<fs::path> folders;
    MoveRun run(vars, {round.folder / "prog", round.folder / "prog"}, observer);
    run.setJournal(&journal.value());
    (void)run.run(round.tree() / "src", deleteFolders, folders);
    built.journal = journal.value().file();
    (void)journal.value().finish(kOutcomeCompleted);
    return built;
}

// Three child folders of pictures and other files, gathered with the folders removed: the racer
// swaps one of them, which the run reaches only below the source parent it was given.
Built gatherTree(const Round& round) {
    Built built;
    for (int folder = 1; folder <= 3; ++folder) {
        const fs::path child = round.tree() / "src" / ("dl" + std::to_string(folder));
        for (int k = 1; k <= 3; ++k) {
            built.pictures.push_back(pictureContent(child.native() + std::to_string(k)));
            writeContent(child / ("q" + std::to_string(k) + ".jpg"), built.pictures.back());
        }
        writeContent(child / "notes.txt", "notes");
        writeContent(child / "inner" / "deep.txt", "deep");
    }
    fs::create_directories(round.tree() / "dst");
    return built;
}

void gather(const Round& round, bool permanent, bool across = false) {
    const Removal removal(permanent);
    const fs::path destination = across ? round.elsewhere / "dst" : round.tree() / "dst";
    fs::create_directories(destination);
    auto journal = RunJournal::create(round.history(),
                                      moveRunStart(0, round.tree() / "src", destination, true, removal));
    ScriptedObserver observer;
    observer.dest = destination;
    Module1 vars;
    std::vector<fs::path> folders;
    MoveRun run(vars, {round.folder / "prog", round.folder / "prog"}, observer, removal);
    run.setJournal(&journal.value());
    const MoveRunResult result = run.run(round.tree() / "src", true, folders);
    (void)journal.value().finish(journalOutcome(result.outcome));
}

// With duplicates left out: a picture of dl1 is held by the destination already, and the victim
// holds a name of dl2 with the bytes of another destination picture. A verdict read through the
// swapped folder would remove dl2's own picture for bytes that are not its own.
Built duplicatesTree(const Round& round) {
    Built built = gatherTree(round);
    writeContent(round.tree() / "dst" / "000100 twin.jpg", built.pictures.front());
    built.plantedTwin = built.pictures.front();
    built.pictures.erase(built.pictures.begin());
    writeContent(round.victim() / "q2.jpg", "victim's twin");
    writeContent(round.tree() / "dst" / "000101 victim's twin.jpg", "victim's twin");
    return built;
}

void gatherLeavingOutDuplicates(const Round& round, const Built&) {
    ScriptedObserver observer;
    observer.dest = round.tree() / "dst";
    Module1 vars;
    std::vector<fs::path> folders;
    MoveRun run(vars, {round.folder / "prog", round.folder / "prog"}, observer);
    run.setSkipDuplicates(true);
    (void)run.run(round.tree() / "src", true, folders);
}

// The plan of a gather, duplicates left out: it changes nothing, and none of its verdicts may name
// a file of the victim (its hidden picture would be named as one left in a child folder). A plan
// that does ends the watched process with status 3.
Built planTree(const Round& round) {
    writeContent(round.victim() / ".h.jpg", "victim's hidden");
    return duplicatesTree(round);
}

void planTheGather(const Round& round, const Built&) {
    const MovePlan plan = makeMovePlan(Module1{}, {round.folder / "prog", round.folder / "prog"},
                                       {round.tree() / "src", round.tree() / "dst", true, false, {}, true});
    std::vector<std::string> named;
    for (const PlanPicture& picture : plan.pictures)
        named.push_back(picture.from);
    for (const PlanRemoval& removal : plan.removals)
        named.push_back(removal.path);
    for (const PlanDuplicate& duplicate : plan.duplicates)
        named.insert(named.end(), {duplicate.path, duplicate.twin});
    for (const PlanProblem& problem : plan.problems)
        named.push_back(problem.path);
    for (const std::string& path : named) {
        for (const char* victims : {"/000001 p1.jpg", "/000002 p2.jpg", "/deep.jpg", "/.h.jpg"}) {
            if (path.ends_with(victims)) {
                std::fprintf(stderr, "the plan names a file of the victim: %s\n", path.c_str());
                ::_exit(3);
            }
        }
    }
}

// The options dialog's remover, deleting for good, asked about the tree's folder and answered yes;
// the racer swaps a folder inside it. What it deletes is its own to take: only the victim counts.
Built removerTree(const Round& round) {
    numberedPictures(round);
    writeContent(round.tree() / "cats" / "sub" / "000001 p1.jpg", "sub's");
    writeContent(round.tree() / "cats" / "sub" / "inner" / "deep.jpg", "sub's deep");
    return {};
}

void removeTheFolder(const Round& round, const Built&) {
    ScriptedMessageBox messages;
    messages.answers = {MessageAnswer::Yes};
    FolderActionRequest request;
    request.choice = FolderChoice::Delete;
    request.parent = round.tree() / "cats";
    request.historyFolder = round.history();
    (void)runFolderAction(request, messages, ProtectedPlaces{}, Removal(true));
}

void undoTheMove(const Round&, const Built& built) {
    QuietUndo observer;
    (void)undoRun(built.journal, observer);
}

// A run that reaches its files by whole paths, as runs did before they held their folders: the
// harness must see the harm it does, or it proves nothing.
void renameByPaths(const Round& round, const Built&) {
    const fs::path folder = round.tree() / "cats";
    for (int k = 1; k <= 6; ++k) {
        const std::string name = "00000" + std::to_string(k) + " p" + std::to_string(k) + ".jpg";
        (void)moveNoReplace(folder / name, folder / ("p" + std::to_string(k) + ".jpg"));
    }
}

const std::map<QString, Scenario>& scenarios() {
    static const std::map<QString, Scenario> all = {
        {"strip in place", {numberedPictures, "cats", stripInPlace}},
        {"strip into a subfolder", {numberedPictures, "cats", stripIntoNewSubfolder}},
        {"child-folder maker", {numberedPictures, "cats", makeChildFolders}},
        {"undo, child folders kept",
         {[](const Round& r) { return movedPictures(r, false); }, "src/dl2", undoTheMove, false}},
        {"undo, child folders from the Trash",
         {[](const Round& r) { return movedPictures(r, true); }, "src/dl2", undoTheMove, false}},
        {"gather into the Trash",
         {gatherTree, "src/dl2", [](const Round& r, const Built&) { gather(r, false); }, false}},
        {"gather across file systems",
         {gatherTree, "src/dl2", [](const Round& r, const Built&) { gather(r, false, true); }, false}},
        {"gather, deleting for good",
         {gatherTree, "src/dl2", [](const Round& r, const Built&) { gather(r, true); }, false}},
        {"gather, duplicates left out", {duplicatesTree, "src/dl2", gatherLeavingOutDuplicates, false}},
        {"plan of a gather, duplicates left out", {planTree, "src/dl2", planTheGather, false, true}},
        {"remover, deleting for good", {removerTree, "cats/sub", removeTheFolder, false}},
        {"renames by whole paths", {numberedPictures, "cats", renameByPaths}},
    };
    return all;
}

// Names the victim shares with the trees, so that a run turned its way would meet them.
void makeVictim(const Round& round) {
    for (const char* name : {"000001 p1.jpg", "000002 p2.jpg", "000003 p3.jpg", "inner/deep.jpg"})
        writeContent(round.victim() / name, std::string("victim:") + name);
    ::chmod((round.victim() / "inner").c_str(), 0500);
}

// The harm a round did: the victim changed, or a picture lost or doubled. Empty when none.
std::string harmDone(const Round& round, const Built& built,
                     const std::map<std::string, std::string>& victim) {
    std::string harm = folderSnapshot(round.victim()) == victim ? "" : "the victim folder changed\n";
    if (!built.plantedTwin.empty()) {
        const std::size_t twins =
            census(round.folder).count(built.plantedTwin) + census(round.elsewhere).count(built.plantedTwin);
        if (twins != 1 && twins != 2)
            harm += "the picture with a twin found " + std::to_string(twins) + " times\n";
    }
    return harm + lostOrDoubled(built.pictures, {round.folder, round.elsewhere});
}

} // namespace

class TestSwapRace : public QObject {
    Q_OBJECT

    // In memory where it can: the race is in the kernel's path walk, and the trees build faster.
    QTemporaryDir m_dir{fs::is_directory("/dev/shm") ? "/dev/shm/corvalin-swap-XXXXXX" : QString()};
    QTemporaryDir m_elsewhere;
    std::unique_ptr<OwnHome> m_home; // the Trash on the same file system as the trees
    int m_rounds = 0;

    Round nextRound() {
        const std::string name = "round" + std::to_string(m_rounds++);
        Round round{fs::path(m_dir.path().toStdString()) / name,
                    fs::path(m_elsewhere.path().toStdString()) / name};
        fs::create_directories(round.elsewhere);
        fs::create_directories(round.tree());
        fs::create_directories(round.folder / "prog");
        makeVictim(round);
        return round;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_home = std::make_unique<OwnHome>(fs::path(m_dir.path().toStdString()) / "home");
    }
    void cleanupTestCase() {
        m_home.reset();
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.path().toStdString(), ignored))
            ::chmod(entry.path().c_str(), 0755);
    }

    // The swap falls at the first change the run makes inside the folder, before it is made.
    void swappedAtTheFirstChange_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("harmful"); // the harness's own check: a run by paths must be caught
        for (const auto& [name, scenario] : scenarios())
            QTest::newRow(qPrintable(name)) << name << (name == "renames by whole paths");
    }
    void swappedAtTheFirstChange() {
        QFETCH(QString, scenario);
        QFETCH(bool, harmful);
        const Scenario& chosen = scenarios().at(scenario);
        const Round round = nextRound();
        const Built built = chosen.build(round);
        const auto victim = folderSnapshot(round.victim());
        const FolderSwap swap(round.tree() / chosen.swapped, round.victim(), round.folder / "link");
        bool swapped = false;
        WatchFirstChange watch(
            swap.chosen(), [&] { swapped = swap.exchange(); }, chosen.atFirstRead);
        const int status = watch.run([&] {
            chosen.run(round, built);
            return 0;
        });
        if (status == 77)
            QSKIP("this system cannot watch a process's calls");
        QCOMPARE(status, 0);
        QVERIFY2(swapped, "the run changed nothing inside the folder");
        const std::string harm = harmDone(round, built, victim);
        if (harmful)
            QVERIFY2(!harm.empty(), "a run by paths did no harm: the swap missed");
        else
            QVERIFY2(harm.empty(), harm.c_str());
    }

    // Swapped back and forth at random instants, round after round.
    void swappedAtRandomInstants_data() {
        QTest::addColumn<QString>("scenario");
        for (const auto& [name, scenario] : scenarios()) {
            if (name != "renames by whole paths")
                QTest::newRow(qPrintable(name)) << name;
        }
    }
    void swappedAtRandomInstants() {
        QFETCH(QString, scenario);
        const Scenario& chosen = scenarios().at(scenario);
        const long rounds = long(numberFromEnvironment("CORVALIN_RACE_ROUNDS", 40));
        const std::uint64_t seed = seedFromEnvironment("CORVALIN_RACE_SEED");
        long racedRounds = 0;
        for (long i = 0; i < rounds; ++i) {
            const Round round = nextRound();
            const Built built = chosen.build(round);
            const auto victim = folderSnapshot(round.victim());
            const FolderSwap swap(round.tree() / chosen.swapped, round.victim(), round.folder / "link");
            std::optional<RandomSwapper> swapper;
            WatchFirstChange watch(
                swap.chosen(), [&] { swapper->setRacing(true); }, chosen.atFirstRead);
            const int status = watch.run(
                [&] {
                    chosen.run(round, built);
                    return 0;
                },
                [&] {
                    swapper.emplace(swap, seed + std::uint64_t(i));
                    swapper->setRacing(!chosen.ownFolder);
                });
            swapper->setRacing(false);
            if (status == 77)
                QSKIP("this system cannot watch a process's calls");
            QCOMPARE(status, 0);
            racedRounds += swapper->swaps() > 0;
            const std::string harm = harmDone(round, built, victim);
            QVERIFY2(harm.empty(),
                     qPrintable(QString("round %1 (seed %2): %3").arg(i).arg(seed).arg(harm.c_str())));
            ::chmod((round.victim() / "inner").c_str(), 0755);
            fs::remove_all(round.folder);
            fs::remove_all(round.elsewhere);
        }
        std::printf("%s: %ld rounds, swaps during %ld of them (seed %llu)\n", qPrintable(scenario), rounds,
                    racedRounds, static_cast<unsigned long long>(seed));
        std::fflush(stdout);
    }
};

QTEST_APPLESS_MAIN(TestSwapRace)
#include "test_swap_race.moc"
