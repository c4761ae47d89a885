// Power cuts at random instants of runs, in a virtual machine of our own (power_cut_machine.h):
// a gather on one file system, a gather onto a second disk, an undo, and a strip. HOME and the
// settings, state and data folders lie on the first disk, so the settings files, the journals and
// the Trash are hit by the cut too. After each cut the machine boots again, the run is started
// again as a user would, and the agent inside (power_cut_agent.h) checks the disks: every picture
// exactly once with its bytes, no serial number twice, the counter ahead of every number given,
// the saved folders kept, the Trash readable (every item in it with a whole info file even right
// after the cut), the interrupted run still listed in the history; then an undo of every run,
// itself cut once and started again, must bring back every item the journals on the disk record
// and everything the Trash holds from the tree. The checks read the journals as the disk holds
// them, never what a run printed. From the flush model's log on the console the harness also checks
// that no record waited much more than a second for its flush and that every record a flush
// covered before the cut is still on the disk after it.
//
// A gather is cut three times a round: in its first run and in the two runs started again after a
// cut, each time in a phase the guest said had begun (power_cut_plan.h); the phases rotate with the
// seed so that the two gathers of a round together cut in every phase. The undo and the strip are
// cut between their first and last file. CORVALIN_POWER_CUTS sets how many rounds each scenario
// makes (some cuts then fall anywhere from the first file to the end record, or from the program's
// start), CORVALIN_POWER_CUT_SEED repeats a run. Each cut is reported with where it fell. Where
// QEMU, busybox-static, kmod, e2fsprogs or the unpacked kernel is missing the test skips, and
// fails under CI (CORVALIN_CI set).
#include "crash_harness.h"
#include "naming/serial_name.h"
#include "picture_census.h"
#include "power_cut_agent.h"
#include "power_cut_layout.h"
#include "power_cut_log.h"
#include "power_cut_machine.h"
#include "power_cut_plan.h"
#include "robust_env.h"

#include <QtTest>

#include <cstring>
#include <map>
#include <random>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

constexpr int kBootTimeoutSeconds = 300;
constexpr int kTriesPerCut = 5;
// A record waits for its flush about a second, and a step of the run more in the emulator.
constexpr double kAllowedWait = 2.0;

struct Boot {
    QStringList steps;   // the agent's commands, in order
    std::string cutStep; // the step whose run the cut falls in; none when empty
    Cut cut = {};
};

// A gather is cut in its first run and in each run started again after a cut, then in the undo.
std::vector<Boot> bootsOf(Scenario scenario, const std::vector<Cut>& runs, const Cut& undo) {
    if (scenario == Scenario::Undo)
        return {{{"run first", "run undo"}, "undo", undo}, {{"check cut", "run undo", "check undone"}, ""}};
    std::vector<Boot> boots{{{"run first"}, "first", runs.front()}};
    for (std::size_t i = 1; i < runs.size(); ++i)
        boots.push_back({{"check cut", "run again"}, "again", runs[i]});
    boots.push_back({{"check cut", "run again", "check start", "run undo"}, "undo", undo});
    boots.push_back({{"run undo", "check undone"}, ""});
    return boots;
}

bool isGather(Scenario scenario) {
    return scenario == Scenario::GatherOneDisk || scenario == Scenario::GatherTwoDisks;
}

QString scenarioName(Scenario scenario) {
    const char* names[] = {"gather on one disk", "gather onto a second disk", "undo", "strip"};
    return names[int(scenario)];
}

bool writeText(const fs::path& file, const std::string& text) {
    return writeFileAtomically(file, text).ok();
}

// A tree the runs have not seen: its size, its first serial number (often just below the wrap)
// and its pictures drawn from `random`; then both disk images made of it.
std::optional<std::string> stage(Layout& layout, std::mt19937_64& random) {
    layout.pictures = 150 + int(random() % 251);
    layout.folders = 10 + int(random() % 31);
    layout.firstSerialNo = random() % 2 ? kHighestSerialNo - int(random() % std::uint64_t(layout.pictures))
                                        : int(random() % 990000);
    layout.pending.clear();
    for (int i = 0; layout.scenario == Scenario::Undo && i < layout.pictures; ++i)
        layout.pending.push_back(i); // the undo of a completed run takes back all of it
    for (const fs::path& disk : {layout.disk1, layout.disk2}) {
        fs::remove_all(disk);
        fs::create_directories(disk);
    }
    const PictureSet pictures(layout.pictureRoot(), layout.pictures, layout.strips() ? 1 : layout.folders);
    for (int i = 0; layout.strips() && i < pictures.size(); ++i)
        fs::rename(pictures.originOf(i),
                   layout.stripFolder() /
                       serialName(wrapSerialNo(layout.firstSerialNo + i), pictures.nameOf(i)));
    fs::create_directories(layout.source());
    fs::create_directories(layout.destination());
    const SettingsFiles files = layout.files();
    if (!chooseFolders(files, layout.source(), layout.destination()) ||
        !writeText(files.counterFile(), encodeCounter(layout.firstSerialNo)))
        return "cannot write the settings files in " + files.settingsFolder.native();
    for (const fs::path& disk : {layout.disk1, layout.disk2}) {
        if (auto error = makeImage(disk.native() + ".img", disk))
            return error;
        // Left empty: the guest mounts the image here.
        fs::remove_all(disk);
        fs::create_directories(disk);
    }
    return std::nullopt;
}

std::string bootScript(const Layout& layout, const fs::path& layoutFile, const QStringList& steps) {
    const std::string disk1 = layout.disk1.native(), disk2 = layout.disk2.native();
    std::string script = guestEnvironment(layout.home()) + "mount -t ext4 /dev/vda '" + disk1 +
                         "' && mount -t ext4 /dev/vdb '" + disk2 +
                         "' || { echo 'PC-PROBLEM the disks do not mount'; exit 1; }\n";
    const std::string agent = fs::read_symlink("/proc/self/exe").native();
    for (const QString& step : steps)
        script += "'" + agent + "' " + kGuestFlag + " '" + layoutFile.native() + "' " + step.toStdString() +
                  " || echo \"PC-PROBLEM the agent's " + step.toStdString() + " ended with status $?\"\n";
    return script + "umount '" + disk2 + "' '" + disk1 + "'\n";
}

// One scenario's rounds: a tree staged, the boots of the scenario with their cuts, the findings.
class ScenarioRounds {
public:
    ScenarioRounds(const Machine& machine, const fs::path& work, Scenario scenario, std::uint64_t seed,
                   int cuts, std::map<QString, int>& phasesCut)
        : m_machine(machine), m_work(work), m_seed(seed), m_random(seed), m_cuts(cuts),
          m_phasesCut(phasesCut) {
        m_layout.scenario = scenario;
        m_layout.disk1 = work / "disk1";
        m_layout.disk2 = work / "disk2";
    }

    // The problems of the first round that found any, and the first line of each later one.
    QStringList run() {
        QStringList problems;
        int failed = 0;
        for (int round = 0; round < m_cuts; ++round) {
            if (const auto error = stage(m_layout, m_random))
                return {QString::fromStdString(*error)};
            QStringList found;
            const bool mixed = m_cuts > 1;
            const auto runs = runCuts(m_layout.scenario, m_seed + std::uint64_t(round), mixed, m_random);
            for (const Boot& boot : bootsOf(m_layout.scenario, runs, undoCut(mixed, m_random))) {
                const QString where =
                    QString("round %1, boot \"%2\": ").arg(round).arg(boot.steps.join(", "));
                const BootLog log = bootOnce(boot);
                found += findings(log, boot, where);
                if (!log.failure.isEmpty())
                    break;
            }
            failed += !found.isEmpty();
            problems += problems.isEmpty() ? found : found.mid(0, 1);
        }
        qInfo("%s: problems found in %d of %d rounds", qPrintable(scenarioName(m_layout.scenario)), failed,
              m_cuts);
        return problems;
    }

private:
    std::vector<fs::path> images() const {
        return {m_layout.disk1.native() + ".img", m_layout.disk2.native() + ".img"};
    }

    std::optional<QString> restoreImages(const char* from, const char* to) {
        for (const fs::path& image : images())
            if (auto error = copyImage(image.native() + from, image.native() + to))
                return QString::fromStdString(*error);
        return std::nullopt;
    }

    // The boot with its cut; a cut that missed its window is tried again on the same disks, and a
    // phase that never came is cut anywhere in the run instead. A run with nothing left to do
    // cannot be cut at all: its boot counts as one without a cut.
    BootLog bootOnce(const Boot& boot) {
        const fs::path layoutFile = m_work / "layout.txt", script = m_work / "boot.sh";
        if (!writeText(layoutFile, encodeLayout(m_layout)) ||
            !writeText(script, bootScript(m_layout, layoutFile, boot.steps)))
            return {{}, {}, false, 0, false, -1, "cannot write the boot's files in the work folder"};
        if (boot.cutStep.empty())
            return bootMachine(m_machine, images(), script, std::nullopt, kBootTimeoutSeconds);
        if (const auto error = restoreImages("", ".before"))
            return {{}, {}, false, 0, false, -1, *error};
        Cut cut = boot.cut;
        BootLog log;
        for (int attempt = 0; attempt < kTriesPerCut; ++attempt) {
            const CutPlan plan = planFor(cut, boot.cutStep, m_spans, m_random);
            log = bootMachine(m_machine, images(), script, plan, kBootTimeoutSeconds);
            if (log.cut)
                reportCut(log, cut, plan);
            if (log.cut || !log.failure.isEmpty())
                return log;
            if (!log.opened && cut.kind != CutKind::Phase)
                return log; // nothing happened to cut in
            if (log.opened)
                m_spans[windowKey(cut, boot.cutStep)] = log.span;
            else
                cut = {CutKind::Uniform, {}};
            if (const auto error = restoreImages(".before", ""))
                return {{}, {}, false, 0, false, -1, *error};
        }
        log.failure = "no cut fell within the run in " + QString::number(kTriesPerCut) + " tries";
        return log;
    }

    void reportCut(const BootLog& log, const Cut& cut, const CutPlan& plan) {
        if (cut.kind == CutKind::Phase)
            ++m_phasesCut[cut.phase];
        const JournalFlushes flushes = readJournalFlushes(log, plan.step, kAllowedWait);
        qInfo("%s: cut %s of \"%s\", %.2f s after \"%s\"; %s", qPrintable(scenarioName(m_layout.scenario)),
              qPrintable(describeCut(cut)), plan.step.c_str(), plan.delay, qPrintable(plan.opening),
              qPrintable(flushes.where));
    }

    // The journal's flushes of each gather the boot ran, and what the last cut's flushes covered
    // against what the disk still holds.
    QStringList journalFindings(const BootLog& log, const Boot& boot) {
        QStringList problems = checkCoveredRecords(log.lines, m_covered);
        m_covered.clear();
        if (!isGather(m_layout.scenario))
            return problems;
        for (const char* step : {"first", "again"}) {
            const JournalFlushes flushes = readJournalFlushes(log, step, kAllowedWait);
            problems += flushes.problems;
            if (flushes.longestWait > 0)
                qInfo("%s: the longest wait of a record for its flush in \"%s\": %.2f s",
                      qPrintable(scenarioName(m_layout.scenario)), step, flushes.longestWait);
            if (log.cut && boot.cutStep == step)
                m_covered = flushes.covered;
        }
        return problems;
    }

    QStringList findings(const BootLog& log, const Boot& boot, const QString& where) {
        if (qEnvironmentVariableIsSet("CORVALIN_POWER_CUT_CONSOLE"))
            qInfo("%sthe console:\n%s", qPrintable(where), qPrintable(log.lines.join('\n')));
        QStringList problems, said;
        for (const QString& line : log.lines) {
            if (line.startsWith("PC-PROBLEM "))
                problems << where + line.mid(11);
            else if (line.startsWith("PC-OUT "))
                said << "    corvalin: " + line.mid(7);
            else if (line.startsWith("PC-NOTE "))
                qInfo("%s: %s", qPrintable(scenarioName(m_layout.scenario)), qPrintable(line.mid(8)));
            else if (line.startsWith("PC-PENDING "))
                m_layout.pending.push_back(line.mid(11).toInt());
        }
        for (const QString& problem : journalFindings(log, boot))
            problems << where + problem;
        if (!log.failure.isEmpty())
            problems << where + log.failure + "; the console's last lines:\n    " +
                            log.lines.mid(log.lines.size() - 15).join("\n    ");
        if (!problems.isEmpty() && !said.isEmpty())
            problems << where + "what Corvalin said:\n" + said.join('\n');
        return problems;
    }

    const Machine& m_machine;
    fs::path m_work;
    std::uint64_t m_seed;
    std::mt19937_64 m_random;
    int m_cuts;
    std::map<QString, int>& m_phasesCut;
    Layout m_layout;
    std::map<QString, double> m_spans;            // a window's length, once a cut missed it
    std::map<unsigned long, long long> m_covered; // what the last cut's flushes covered
};

} // namespace

class TestPowerCut : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_seed = seedFromEnvironment("CORVALIN_POWER_CUT_SEED");
        m_cuts = int(std::max(1LL, numberFromEnvironment("CORVALIN_POWER_CUTS", 1)));
        std::printf("power cuts: %d round(s) a scenario, seed %llu\n", m_cuts,
                    static_cast<unsigned long long>(m_seed));
        std::fflush(stdout);
        QVERIFY(m_work.isValid());
        const auto machine = prepareMachine(CORVALIN_POWER_CUT_KERNEL, CORVALIN_POWER_CUT_INIT, workFolder());
        if (const auto* missing = std::get_if<std::string>(&machine)) {
            if (qEnvironmentVariableIsSet("CORVALIN_CI"))
                QFAIL(missing->c_str());
            QSKIP(missing->c_str());
        }
        m_machine = std::get<Machine>(machine);
    }

    void cutRunsLoseNothing_data() {
        QTest::addColumn<int>("scenario");
        for (const Scenario scenario :
             {Scenario::GatherOneDisk, Scenario::GatherTwoDisks, Scenario::Undo, Scenario::Strip})
            QTest::newRow(qPrintable(scenarioName(scenario))) << int(scenario);
    }

    void cutRunsLoseNothing() {
        QFETCH(int, scenario);
        const fs::path work = workFolder() / std::to_string(scenario);
        // One rotation for every scenario of a seed: the two gathers then cut in every phase.
        ScenarioRounds rounds(m_machine, work, Scenario(scenario), m_seed, m_cuts, m_phasesCut);
        const QStringList problems = rounds.run();
        ++m_scenariosRun;
        QVERIFY2(problems.isEmpty(),
                 qPrintable("seed " + QString::number(m_seed) + ":\n" + problems.join('\n')));
    }

    // Every phase of a gather had its cut, once every scenario ran.
    void cleanupTestCase() {
        if (m_scenariosRun < 4)
            return;
        QStringList counts;
        for (const QString& phase : kPhases)
            counts << phase + " " + QString::number(m_phasesCut[phase]);
        qInfo("cuts by phase: %s", qPrintable(counts.join(", ")));
        for (const QString& phase : kPhases)
            QVERIFY2(m_phasesCut[phase] > 0, qPrintable("no cut fell in the phase \"" + phase + "\""));
    }

private:
    fs::path workFolder() const { return m_work.path().toStdString(); }

    QTemporaryDir m_work;
    Machine m_machine;
    std::uint64_t m_seed = 0;
    int m_cuts = 1;
    int m_scenariosRun = 0;
    std::map<QString, int> m_phasesCut;
};

int main(int argc, char* argv[]) {
    // Inside the virtual machine the same executable is the harness's agent.
    if (argc > 1 && std::strcmp(argv[1], kGuestFlag) == 0)
        return runGuestAgent(argc, argv);
    QCoreApplication application(argc, argv);
    TestPowerCut test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_power_cut.moc"
