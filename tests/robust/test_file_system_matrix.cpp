// The disks people carry pictures on, each in the power-cut harness's virtual machine
// (power_cut_machine.h) with its kernel's own driver: FAT (vfat), exFAT, NTFS, btrfs and XFS, each
// an image formatted here by the file system's own tool. On each, a gather from an ext4 disk onto
// it and a gather with source and destination on it, with names that disk cannot hold, CP932
// names and names that differ only in letter case; a strip, the Trash on that disk, and the undo
// of every run, the trees compared byte for byte with what they were (matrix_layout.h,
// matrix_checks.h). The machine boots once for the whole table. Where the emulator, the kernel, a
// driver or a file system's tool is missing the rows skip, and fail under CI (CORVALIN_CI set).
#include "guest_disks.h"
#include "matrix_layout.h"
#include "power_cut_agent.h"
#include "power_cut_machine.h"
#include "robust_env.h"
#include "stick_cuts.h"

#include "platform/file_ops.h"

#include <QtTest>

#include <cstring>
#include <map>
#include <random>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

constexpr int kMatrixTimeoutSeconds = 1200;

// Rows that fail on today's program, each with what it lacks; such a row that passes (a cut that
// missed the window) passes. When that lands, its rows go.
const std::map<QString, const char*> kFailingToday = {};

// The sticks a power cut is tried on.
const QStringList kStickKinds = {"vfat", "exfat"};

bool underCi() {
    return qEnvironmentVariableIsSet("CORVALIN_CI");
}

// What the guest found, row by row ("kind|scenario"), and what Corvalin said on each disk.
struct MatrixFindings {
    std::map<QString, QStringList> rows;
    std::map<QString, QStringList> said; // by kind
    QStringList notes;
    QString failure; // the machine did not come to its end
    double seconds = 0;
};

MatrixFindings readFindings(const BootLog& log) {
    MatrixFindings findings;
    for (const QString& line : log.lines) {
        if (line.startsWith("PC-ROW ")) {
            const QString row = line.mid(7).section('|', 0, 1), text = line.mid(7).section('|', 2);
            findings.rows[row] << (text == "ok" ? QStringList() : QStringList{text});
        } else if (line.startsWith("PC-OUT ")) {
            findings.said[line.mid(7).section(' ', 0, 0)] << line.mid(7);
        } else if (line.startsWith("PC-NOTE ") || line.startsWith("PC-PROBLEM ")) {
            findings.notes << line.mid(3);
        }
    }
    if (!log.failure.isEmpty())
        findings.failure = log.failure + "; the console's last lines:\n    " +
                           log.lines.mid(log.lines.size() - 15).join("\n    ");
    findings.seconds = log.arrived.empty() ? 0 : log.arrived.back();
    return findings;
}

} // namespace

class TestFileSystemMatrix : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        // The disks as the runs left them, for a look after a failure.
        if (qEnvironmentVariableIsSet("CORVALIN_MATRIX_KEEP")) {
            m_work.setAutoRemove(false);
            qInfo("the disk images stay in %s", qPrintable(m_work.path()));
        }
        const auto machine = prepareMachine(CORVALIN_POWER_CUT_KERNEL, CORVALIN_POWER_CUT_INIT, workFolder(),
                                            guestDiskModules());
        if (const auto* missing = std::get_if<std::string>(&machine)) {
            if (underCi())
                QFAIL(missing->c_str());
            QSKIP(missing->c_str());
        }
        m_machine = std::get<Machine>(machine);
        for (const GuestDiskKind& kind : guestDiskKinds()) {
            QString whyNot;
            if (const auto usable = usableKind(kind, m_machine, whyNot))
                m_kinds.push_back(*usable);
            else
                m_missing[kind.name] = whyNot;
        }
    }

    void kindsAgainstScenarios_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("scenario");
        for (const GuestDiskKind& kind : guestDiskKinds())
            for (const QString& scenario : kMatrixScenarios)
                QTest::newRow(qPrintable(kind.name + ": " + scenario)) << kind.name << scenario;
    }

    void kindsAgainstScenarios() {
        QFETCH(QString, kind);
        QFETCH(QString, scenario);
        if (m_missing.contains(kind)) {
            if (underCi())
                QFAIL(qPrintable(m_missing[kind]));
            QSKIP(qPrintable(m_missing[kind]));
        }
        const MatrixFindings& findings = matrixFindings();
        QVERIFY2(findings.failure.isEmpty(), qPrintable(findings.failure));
        const QString row = kind + "|" + scenario;
        QVERIFY2(findings.rows.contains(row),
                 qPrintable("the guest said nothing of this row; its notes:\n" + findings.notes.join('\n')));
        const QStringList& problems = findings.rows.at(row);
        if (const auto failing = kFailingToday.find(kind + ": " + scenario);
            failing != kFailingToday.end() && !problems.isEmpty())
            QEXPECT_FAIL("", failing->second, Continue);
        const auto said = findings.said.find(kind);
        QVERIFY2(problems.isEmpty(),
                 qPrintable(problems.join('\n') + "\nwhat Corvalin said on " + kind + ":\n" +
                            (said == findings.said.end() ? QString("nothing") : said->second.join('\n'))));
    }

    // A power cut inside a gather onto each kind of memory stick, the next start with and without
    // the stick's own check first (stick_cuts.h).
    void cutGatherOntoStick_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("start");
        for (const QString& kind : kStickKinds)
            for (const QString& start : kStickStarts)
                QTest::newRow(qPrintable(stickRowKey(kind, start))) << kind << start;
    }

    void cutGatherOntoStick() {
        QFETCH(QString, kind);
        QFETCH(QString, start);
        if (m_missing.contains(kind)) {
            if (underCi())
                QFAIL(qPrintable(m_missing[kind]));
            QSKIP(qPrintable(m_missing[kind]));
        }
        const StickCutFindings& findings = stickFindings();
        const QString row = stickRowKey(kind, start);
        QVERIFY2(findings.problems.contains(row), "the harness tried no cut onto this stick");
        const QStringList& problems = findings.problems.at(row);
        if (const auto failing = kFailingToday.find(row);
            failing != kFailingToday.end() && !problems.isEmpty())
            QEXPECT_FAIL("", failing->second, Continue);
        const auto said = findings.said.find(row);
        QVERIFY2(problems.isEmpty(),
                 qPrintable(problems.join('\n') + "\nwhat Corvalin said:\n" +
                            (said == findings.said.end() ? QString("nothing") : said->second.join('\n'))));
    }

private:
    const StickCutFindings& stickFindings() {
        if (m_stickFindings)
            return *m_stickFindings;
        const std::uint64_t seed = seedFromEnvironment("CORVALIN_POWER_CUT_SEED");
        qInfo("the cuts onto sticks: seed %llu", static_cast<unsigned long long>(seed));
        std::mt19937_64 random(seed);
        std::vector<GuestDiskKind> sticks;
        for (const GuestDiskKind& kind : m_kinds)
            if (kStickKinds.contains(kind.name))
                sticks.push_back(kind);
        QElapsedTimer clock;
        clock.start();
        m_stickFindings = cutGathersOntoSticks(m_machine, sticks, workFolder() / "sticks", random);
        qInfo("the cuts onto sticks and the starts after them: %.0f s", double(clock.elapsed()) / 1000);
        return *m_stickFindings;
    }

    fs::path workFolder() const { return m_work.path().toStdString(); }

    // The one boot of the whole table, at its first row.
    const MatrixFindings& matrixFindings() {
        if (m_findings)
            return *m_findings;
        m_findings = bootMatrix();
        qInfo("the matrix: %.0f s in the machine", m_findings->seconds);
        for (const QString& note : m_findings->notes)
            qInfo("%s", qPrintable(note));
        return *m_findings;
    }

    MatrixFindings bootMatrix() {
        const fs::path work = workFolder() / "matrix";
        MatrixLayout layout{work / "ext4", {}};
        std::vector<fs::path> images{work / "ext4.img"};
        std::string mounts = "mount -t ext4 /dev/vda '" + layout.home.native() + "' || exit 1\n";
        fs::create_directories(layout.homeFolder());
        if (const auto error = makeImage(images.front(), layout.home))
            return {{}, {}, {}, QString::fromStdString(*error)};
        fs::remove_all(layout.homeFolder());
        for (const GuestDiskKind& kind : m_kinds) {
            const fs::path mountPoint = work / kind.name.toStdString();
            fs::create_directories(mountPoint);
            images.push_back(work / (kind.name.toStdString() + ".img"));
            if (const auto error = makeBlankImage(images.back(), kind))
                return {{}, {}, {}, QString::fromStdString(*error)};
            layout.disks.push_back({kind.name.toStdString(), mountPoint});
            const std::string device = "/dev/vd" + std::string(1, char('a' + images.size() - 1));
            mounts += mountLine(kind, device, mountPoint) + " || echo 'PC-NOTE " + kind.name.toStdString() +
                      " does not mount'\n";
        }
        const fs::path layoutFile = work / "layout.txt", script = work / "boot.sh";
        const std::string agent = fs::read_symlink("/proc/self/exe").native();
        std::string unmounts;
        for (const MatrixDisk& disk : layout.disks)
            unmounts += "umount '" + disk.mountPoint.native() + "'\n";
        if (!writeFileAtomically(layoutFile, encodeMatrixLayout(layout)).ok() ||
            !writeFileAtomically(script, guestEnvironment(layout.homeFolder()) + mounts + "'" + agent + "' " +
                                             kMatrixGuestFlag + " '" + layoutFile.native() + "'\n" +
                                             unmounts + "umount '" + layout.home.native() + "'\n")
                 .ok())
            return {{}, {}, {}, "cannot write the boot's files in " + QString::fromStdString(work.native())};
        const BootLog log = bootMachine(m_machine, images, script, std::nullopt, kMatrixTimeoutSeconds);
        if (qEnvironmentVariableIsSet("CORVALIN_POWER_CUT_CONSOLE"))
            qInfo("the console:\n%s", qPrintable(log.lines.join('\n')));
        return readFindings(log);
    }

    QTemporaryDir m_work;
    Machine m_machine;
    std::vector<GuestDiskKind> m_kinds;
    std::map<QString, QString> m_missing; // why a kind cannot be tried
    std::optional<MatrixFindings> m_findings;
    std::optional<StickCutFindings> m_stickFindings;
};

int main(int argc, char* argv[]) {
    // Inside the virtual machine the same executable is the harness's agent.
    if (argc > 1 && std::strcmp(argv[1], kMatrixGuestFlag) == 0)
        return runMatrixAgent(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], kGuestFlag) == 0)
        return runGuestAgent(argc, argv);
    QCoreApplication application(argc, argv);
    TestFileSystemMatrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_file_system_matrix.moc"
