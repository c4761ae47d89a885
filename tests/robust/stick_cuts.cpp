#include "stick_cuts.h"

#include "app/settings_codec.h"
#include "crash_harness.h"
#include "picture_census.h"
#include "power_cut_agent.h"
#include "power_cut_layout.h"
#include "power_cut_log.h"
#include "power_cut_plan.h"

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

constexpr int kBootTimeoutSeconds = 600;
constexpr int kTriesPerCut = 4;
constexpr int kPictures = 80;
constexpr int kFolders = 8;
// A record waits for its flush about a second, and a step of the run more in the emulator.
constexpr double kAllowedWait = 2.0;

// One stick: the ext4 disk with HOME and the source (disk1), the stick (disk2), and what the
// cut's flushes covered of the journals.
struct StickRun {
    GuestDiskKind kind;
    Layout layout;
    fs::path layoutFile;
    std::map<unsigned long, long long> covered;
    bool cut = false;        // the power was cut within the gather
    QStringList cutProblems; // of the cut boot, reported on each of its rows
};

fs::path imageOf(const fs::path& mountPoint, const std::string& copy = {}) {
    return mountPoint.native() + ".img" + copy;
}

std::optional<std::string> stageStick(StickRun& run, const fs::path& work) {
    Layout& layout = run.layout;
    layout.scenario = Scenario::GatherTwoDisks;
    layout.disk1 = work / "disk1";
    layout.disk2 = work / "stick";
    layout.pictures = kPictures;
    layout.folders = kFolders;
    layout.firstSerialNo = 41;
    run.layoutFile = work / "layout.txt";
    fs::create_directories(layout.disk1);
    fs::create_directories(layout.disk2);
    const PictureSet pictures(layout.source(), layout.pictures, layout.folders);
    const SettingsFiles files = layout.files();
    if (!chooseFolders(files, layout.source(), layout.destination()) ||
        !writeFileAtomically(files.counterFile(), encodeCounter(layout.firstSerialNo)).ok() ||
        !writeFileAtomically(run.layoutFile, encodeLayout(layout)).ok())
        return "cannot write the settings files in " + files.settingsFolder.native();
    if (auto error = makeImage(imageOf(layout.disk1), layout.disk1))
        return error;
    fs::remove_all(layout.disk1); // the guest mounts the image here
    fs::create_directories(layout.disk1);
    return makeBlankImage(imageOf(layout.disk2), run.kind);
}

std::string quoted(const fs::path& path) {
    return "'" + path.native() + "'";
}

// A subshell that mounts both disks from the devices `first` and `first + 1`, runs `steps` and
// unmounts them; a disk that does not mount ends only this subshell.
std::string mountedSteps(const StickRun& run, char first, const std::string& steps) {
    const Layout& layout = run.layout;
    return "(\n" + guestEnvironment(layout.home()) + "mount -t ext4 /dev/vd" + std::string(1, first) + " " +
           quoted(layout.disk1) + " && " +
           mountLine(run.kind, "/dev/vd" + std::string(1, char(first + 1)), layout.disk2) +
           " || { echo 'PC-PROBLEM the disks do not mount'; exit 1; }\nmkdir -p " +
           quoted(layout.destination()) + "\n" + steps + "umount " + quoted(layout.disk2) + " " +
           quoted(layout.disk1) + "\n)\n";
}

// The agent's step, its output to the console or to `output`.
std::string agentStep(const std::string& layoutFile, const std::string& step,
                      const std::string& output = {}) {
    const std::string agent = fs::read_symlink("/proc/self/exe").native();
    return "'" + agent + "' " + kGuestFlag + " " + layoutFile + " " + step +
           (output.empty() ? "" : " > " + output) + " || echo \"PC-PROBLEM the agent's " + step +
           " ended with status $?\"\n";
}

// The start after the cut: the disks checked as the cut left them (the pictures no run had
// handled for good go into the layout the undo's check reads), the gather again, its undo.
std::string startSteps(const StickRun& run) {
    const std::string layout = quoted(run.layoutFile), after = "/run/layout-after-cut.txt";
    return agentStep(layout, "check cut", "/run/cut.out") + "cat /run/cut.out\n" +
           "sed \"s/^pending=.*/pending=$(sed -n 's/^PC-PENDING //p' /run/cut.out | paste -sd, -)/\" " +
           layout + " > " + after + "\n" + agentStep(after, "run again") + agentStep(after, "check start") +
           agentStep(after, "run undo") + agentStep(after, "check undone");
}

std::optional<std::string> copyImages(const StickRun& run, const std::string& from, const std::string& to) {
    for (const fs::path& disk : {run.layout.disk1, run.layout.disk2})
        if (auto error = copyImage(imageOf(disk, from), imageOf(disk, to)))
            return error;
    return std::nullopt;
}

// The gather onto the stick, cut while it names pictures; a cut that missed is tried again on
// the same disks, a phase that never came is cut anywhere in the run instead.
QStringList cutGather(const Machine& machine, StickRun& run, const fs::path& work, std::mt19937_64& random) {
    const fs::path script = work / "cut.sh";
    const std::string text = mountedSteps(run, 'a', agentStep(quoted(run.layoutFile), "run first"));
    if (!writeFileAtomically(script, text).ok())
        return {"cannot write " + QString::fromStdString(script.native())};
    if (const auto error = copyImages(run, "", ".before"))
        return {QString::fromStdString(*error)};
    Cut cut{CutKind::Phase, "named"};
    std::map<QString, double> spans;
    for (int attempt = 0; attempt < kTriesPerCut; ++attempt) {
        const CutPlan plan = planFor(cut, "first", spans, random);
        const BootLog log = bootMachine(machine, {imageOf(run.layout.disk1), imageOf(run.layout.disk2)},
                                        script, plan, kBootTimeoutSeconds);
        if (!log.failure.isEmpty())
            return {"the cut boot: " + log.failure + "; the console's last lines:\n    " +
                    log.lines.mid(log.lines.size() - 15).join("\n    ")};
        if (log.cut) {
            const JournalFlushes flushes = readJournalFlushes(log, "first", kAllowedWait);
            run.covered = flushes.covered;
            run.cut = true;
            qInfo("%s: cut %s, %.2f s after \"%s\"; %s", qPrintable(run.kind.name),
                  qPrintable(describeCut(cut)), plan.delay, qPrintable(plan.opening),
                  qPrintable(flushes.where));
            return flushes.problems;
        }
        if (log.opened)
            spans[windowKey(cut, "first")] = log.span;
        else
            cut = {CutKind::Uniform, {}};
        if (const auto error = copyImages(run, ".before", ""))
            return {QString::fromStdString(*error)};
    }
    return {"no cut fell within the gather in " + QString::number(kTriesPerCut) + " tries"};
}

// Each start's lines, from its marker on.
void readStarts(const BootLog& log, const std::vector<StickRun>& runs, StickCutFindings& findings) {
    std::map<QString, QStringList> lines;
    QString key;
    for (const QString& line : log.lines) {
        if (line.startsWith("PC-STICK "))
            key = line.mid(9);
        else if (!key.isEmpty())
            lines[key] << line;
    }
    for (const StickRun& run : runs) {
        for (const QString& start : kStickStarts) {
            const QString row = stickRowKey(run.kind.name, start);
            QStringList& problems = findings.problems[row];
            for (const QString& line : lines[row]) {
                if (line.startsWith("PC-PROBLEM "))
                    problems << line.mid(11);
                else if (line.startsWith("PC-OUT "))
                    findings.said[row] << line.mid(7);
            }
            if (!run.cut)
                continue;
            problems += checkCoveredRecords(lines[row], run.covered);
            if (!lines[row].contains("PC-END undo"))
                problems << "the start did not come to the end of its undo" +
                                (log.failure.isEmpty() ? QString() : ": " + log.failure);
        }
    }
}

// The starts after every cut, one boot for all: each on its own copy of the disks the cut left.
struct StartsBoot {
    std::vector<fs::path> images;
    std::string script;
};

void addStarts(const StickRun& run, StickCutFindings& findings, StartsBoot& boot) {
    for (const QString& start : kStickStarts) {
        const bool checked = start == kStickStarts.front();
        const std::string copy = checked ? ".checked" : ".unchecked";
        const QString row = stickRowKey(run.kind.name, start);
        findings.problems[row] = run.cutProblems;
        if (!run.cut)
            continue;
        if (const auto error = copyImages(run, "", copy))
            findings.problems[row] << QString::fromStdString(*error);
        else if (const auto error =
                     checked ? checkImage(imageOf(run.layout.disk2, copy), run.kind) : std::nullopt)
            findings.problems[row] << QString::fromStdString(*error);
        boot.images.push_back(imageOf(run.layout.disk1, copy));
        boot.images.push_back(imageOf(run.layout.disk2, copy));
        boot.script += "echo 'PC-STICK " + row.toStdString() + "'\n" +
                       mountedSteps(run, char('a' + boot.images.size() - 2), startSteps(run));
    }
}

} // namespace

QString stickRowKey(const QString& kind, const QString& start) {
    return kind + ": " + start;
}

StickCutFindings cutGathersOntoSticks(const Machine& machine, const std::vector<GuestDiskKind>& kinds,
                                      const fs::path& work, std::mt19937_64& random) {
    StickCutFindings findings;
    std::vector<StickRun> runs;
    StartsBoot boot;
    for (const GuestDiskKind& kind : kinds) {
        StickRun run{kind, {}, {}, {}, false, {}};
        const fs::path folder = work / kind.name.toStdString();
        if (const auto error = stageStick(run, folder))
            run.cutProblems << QString::fromStdString(*error);
        else
            run.cutProblems = cutGather(machine, run, folder, random);
        addStarts(run, findings, boot);
        runs.push_back(run);
    }
    if (boot.images.empty())
        return findings;
    const fs::path scriptFile = work / "starts.sh";
    BootLog log;
    if (writeFileAtomically(scriptFile, boot.script).ok())
        log = bootMachine(machine, boot.images, scriptFile, std::nullopt, kBootTimeoutSeconds);
    else
        log.failure = "cannot write " + QString::fromStdString(scriptFile.native());
    if (qEnvironmentVariableIsSet("CORVALIN_POWER_CUT_CONSOLE"))
        qInfo("the starts' console:\n%s", qPrintable(log.lines.join('\n')));
    readStarts(log, runs, findings);
    return findings;
}

} // namespace corvalin::test
