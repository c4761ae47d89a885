// The real program, started from a copy in a temporary folder (so its settings live there), ended
// by each outside route: SIGTERM and SIGHUP run the shutdown sequence; SIGKILL leaves RunFlag 1, and
// the next start counts the unclean end.
#include "temp_tree.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace corvalin::testing;
namespace fs = std::filesystem;

class TestShutdownRoutes : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    fs::path settings() const { return pathOf(m_dir) / "Corvalin.ini"; }
    fs::path counter() const { return pathOf(m_dir) / "Quillet.ini"; }

    // Starts the program and waits until its start-up has replaced the settings file (a new file
    // is renamed into place, so its inode changes).
    bool start(QProcess& program) {
        const auto before = fs::exists(settings()) ? inodeOf(settings()) : 0;
        program.setProgram(QString::fromStdString((pathOf(m_dir) / "corvalin").native()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(m_dir.path());
        program.start();
        if (!program.waitForStarted())
            return false;
        for (int i = 0; i < 400 && (!fs::exists(settings()) || inodeOf(settings()) == before); ++i)
            QTest::qWait(50);
        QTest::qWait(500); // the event loop runs once the window is shown
        return fs::exists(settings()) && inodeOf(settings()) != before;
    }

    static ino_t inodeOf(const fs::path& file) {
        struct stat info = {};
        return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
    }

    void writeSavedState(int runFlag, int serial) {
        const std::string here = pathOf(m_dir).native();
        writeFile(settings(), "\"" + here + "\",\"" + here + "\",\"\"," + std::to_string(runFlag) + ",0\r\n");
        writeFile(counter(), std::to_string(serial) + "\r\n");
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        fs::copy_file(CORVALIN_BINARY, pathOf(m_dir) / "corvalin");
    }

    void signalsRunTheShutdownSequence_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<std::string>("runFlagAfter");
        QTest::addColumn<int>("serialAfter");
        QTest::newRow("SIGTERM") << int(SIGTERM) << std::string(",0,0\r\n") << 41;
        QTest::newRow("SIGHUP") << int(SIGHUP) << std::string(",0,0\r\n") << 41;
        QTest::newRow("SIGKILL") << int(SIGKILL) << std::string(",1,0\r\n") << 40;
    }
    void signalsRunTheShutdownSequence() {
        QFETCH(int, signal);
        QFETCH(std::string, runFlagAfter);
        QFETCH(int, serialAfter);
        // An unclean mark makes the start count 41; only the shutdown sequence saves it.
        writeSavedState(1, 40);
        QProcess program;
        QVERIFY(start(program));
        QVERIFY(readFile(settings()).ends_with(",1,0\r\n"));
        ::kill(static_cast<pid_t>(program.processId()), signal);
        QVERIFY(program.waitForFinished(20000));
        QVERIFY(readFile(settings()).ends_with(runFlagAfter));
        QCOMPARE(readFile(counter()), std::to_string(serialAfter) + "\r\n");
    }

    // After a SIGKILL the next start finds RunFlag 1 and adds one to the counter.
    void uncleanEndIsCountedAtTheNextStart() {
        writeSavedState(1, 41);
        QProcess first;
        QVERIFY(start(first));
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(20000));
        QProcess second;
        QVERIFY(start(second));
        ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
        QVERIFY(second.waitForFinished(20000));
        // The first start's 42 never reached the disk, so the second start counts from 41 again.
        QCOMPARE(readFile(counter()), std::string("42\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestShutdownRoutes)
#include "test_shutdown_routes.moc"
