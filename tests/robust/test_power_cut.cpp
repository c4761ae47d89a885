// Power cuts at random instants of runs, in a virtual machine of our own (power_cut_machine.h):
// a gather on one file system, a gather onto a second disk, an undo, and a strip. HOME and the
// settings, state and data folders lie on the first disk, so the settings files, the journals and
// the Trash are hit by the cut too. After each cut the machine boots again, the run is started
// again as a user would, and the agent inside (power_cut_agent.h) checks the disks: every picture
// exactly once with its bytes, no serial number twice, the counter ahead of every number given,
// the saved folders kept, the Trash readable; then an undo of every run, itself cut once and
// started again, must bring back every item the journals on the disk record. The checks read the
// journals as the disk holds them, never what a run printed, so they hold for any flush policy.
//
// One cut per scenario and step by default, between the first and the last file of the run;
// CORVALIN_POWER_CUTS sets how many rounds each scenario makes (a quarter of the cuts then fall
// anywhere from the program's start to its end), CORVALIN_POWER_CUT_SEED repeats a run. Where
// QEMU, busybox-static, kmod, e2fsprogs or the unpacked kernel is missing the test skips, and
// fails under CI (CORVALIN_CI set).
#include "crash_harness.h"
#include "naming/serial_name.h"
#include "picture_census.h"
#include "power_cut_agent.h"
#include "power_cut_layout.h"
#include "power_cut_machine.h"
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

struct Boot {
    QStringList steps;   // the agent's commands, in order
    std::string cutStep; // the step whose run the cut falls in; none when empty
};

std::vector<Boot> bootsOf(Scenario scenario) {
    if (scenario == Scenario::Undo)
        return {{{"run first", "run undo"}, "undo"}, {{"check cut", "run undo", "check undone"}, ""}};
    return {{{"run first"}, "first"},
            {{"check cut", "run again", "check start", "run undo"}, "undo"},
            {{"run undo", "check undone"}, ""}};
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
    const std::string home = layout.home().native(), disk1 = layout.disk1.native(),
                      disk2 = layout.disk2.native();
    std::string script =
        "export HOME='" + home + "' XDG_CONFIG_HOME='" + home + "/.config' XDG_STATE_HOME='" + home +
        "/.local/state' XDG_DATA_HOME='" + home + "/.local/share'\n" +
        "export TMPDIR=/run XDG_RUNTIME_DIR=/run LANG=C.UTF-8 ASAN_OPTIONS=detect_leaks=0:color=never "
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1\n" +
        "mount -t ext4 /dev/vda '" + disk1 + "' && mount -t ext4 /dev/vdb '" + disk2 +
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
                   int cuts)
        : m_machine(machine), m_work(work), m_random(seed), m_cuts(cuts) {
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
            for (const Boot& boot : bootsOf(m_layout.scenario)) {
                const QString where =
                    QString("round %1, boot \"%2\": ").arg(round).arg(boot.steps.join(", "));
                const BootLog log = bootOnce(boot);
                found += findings(log, where);
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

    BootLog bootOnce(const Boot& boot) {
        const fs::path layoutFile = m_work / "layout.txt", script = m_work / "boot.sh";
        if (!writeText(layoutFile, encodeLayout(m_layout)) ||
            !writeText(script, bootScript(m_layout, layoutFile, boot.steps)))
            return {{}, false, -1, "cannot write the boot's files in the work folder"};
        if (boot.cutStep.empty())
            return bootMachine(m_machine, images(), script, std::nullopt, kBootTimeoutSeconds);
        for (const fs::path& image : images())
            if (auto error = copyImage(image, image.native() + ".before"))
                return {{}, false, -1, QString::fromStdString(*error)};
        BootLog log;
        for (int attempt = 0; attempt < kTriesPerCut; ++attempt) {
            // One cut in four anywhere from the program's start to its end, once cuts are many.
            const bool whole = m_cuts > 1 && m_random() % 4 == 0;
            const std::string key = boot.cutStep + (whole ? " whole" : "");
            const double span = m_spans.count(key) ? m_spans[key] : (whole ? 8.0 : 2.0);
            const CutPlan plan{boot.cutStep, whole,
                               std::uniform_real_distribution<double>(0, span)(m_random)};
            log = bootMachine(m_machine, images(), script, plan, kBootTimeoutSeconds);
            if (log.cut)
                qInfo("%s: cut %.2f s after the %s of \"%s\"", qPrintable(scenarioName(m_layout.scenario)),
                      plan.delay, whole ? "start" : "first file", boot.cutStep.c_str());
            if (log.cut || !log.failure.isEmpty() || log.span < 0)
                return log;
            m_spans[key] = log.span; // the cut missed: now the window's length is known
            for (const fs::path& image : images())
                if (auto error = copyImage(image.native() + ".before", image))
                    return {{}, false, -1, QString::fromStdString(*error)};
        }
        log.failure = "no cut fell within the run in " + QString::number(kTriesPerCut) + " tries";
        return log;
    }

    QStringList findings(const BootLog& log, const QString& where) {
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
        if (!log.failure.isEmpty())
            problems << where + log.failure + "; the console's last lines:\n    " +
                            log.lines.mid(log.lines.size() - 15).join("\n    ");
        if (!problems.isEmpty() && !said.isEmpty())
            problems << where + "what Corvalin said:\n" + said.join('\n');
        return problems;
    }

    const Machine& m_machine;
    fs::path m_work;
    std::mt19937_64 m_random;
    int m_cuts;
    Layout m_layout;
    std::map<std::string, double> m_spans; // the length of a cut's window, once a cut missed it
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
        ScenarioRounds rounds(m_machine, work, Scenario(scenario), m_seed + std::uint64_t(scenario), m_cuts);
        const QStringList problems = rounds.run();
        QVERIFY2(problems.isEmpty(),
                 qPrintable("seed " + QString::number(m_seed) + ":\n" + problems.join('\n')));
    }

private:
    fs::path workFolder() const { return m_work.path().toStdString(); }

    QTemporaryDir m_work;
    Machine m_machine;
    std::uint64_t m_seed = 0;
    int m_cuts = 1;
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
