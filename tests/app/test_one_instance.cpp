// One Corvalin per settings folder, with the built program in processes of its own: a second window
// start brings the first to the front and ends without touching a file, a command against a running
// window ends with status 3, and a window that is killed leaves nothing that blocks the next start.
// In the test's own process: a request to come to the front arrives while a move run is busy.
#include "app/ui/form1.h"
#include "app/ui/raise_request.h"
#include "engine/ui/move_controller.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "program_run.h"
#include "scripted_message_box.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace corvalin;
using namespace corvalin::test;

namespace {

struct FileState {
    ino_t inode = 0;
    std::string content;
    bool operator==(const FileState&) const = default;
};

FileState stateOf(const fs::path& file) {
    struct stat info = {};
    ::stat(file.c_str(), &info);
    return {info.st_ino, contentOf(file)};
}

} // namespace

class TestOneInstance : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home; // the Trash of the runs, in the test's folder
    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path prog() const { return root() / "prog"; }
    fs::path settings() const { return prog() / "Corvalin.ini"; }

    // Started and past its start-up, which rewrites the settings file with RunFlag 1.
    bool startWindow(QProcess& window) {
        prepareProgram(window, prog(), {});
        window.start();
        if (!window.waitForStarted())
            return false;
        for (int i = 0; i < 600 && !contentOf(settings()).ends_with(",1,0\r\n"); ++i)
            QTest::qWait(50);
        return contentOf(settings()).ends_with(",1,0\r\n");
    }

private slots:
    void init() {
        m_home.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<OwnHome>(root() / "home");
        QVERIFY(copyProgram(prog()));
        QVERIFY(
            writeContent(settings(), "\"" + prog().native() + "\",\"" + prog().native() + "\",\"\",0,0\r\n"));
        QVERIFY(writeContent(prog() / "Quillet.ini", "41\r\n"));
        QVERIFY(writeContent(root() / "src/a/cat.jpg", pictureContent("cat")));
        fs::create_directories(root() / "dst");
    }

    void secondStartsWhileAWindowRuns() {
        QProcess window;
        QVERIFY(startWindow(window));
        const FileState before = stateOf(settings());
        const ProgramRun second = runProgram(prog(), {});
        QVERIFY(second.finished && !second.signalled);
        QCOMPARE(second.exitCode, 0); // the first window answered
        const ProgramRun command =
            runProgram(prog(), {"gather", QString::fromStdString((root() / "src").native()),
                                QString::fromStdString((root() / "dst").native())});
        QCOMPARE(command.exitCode, 3);
        QVERIFY2(command.err.contains(prog().c_str()), command.err.constData());
        QVERIFY(stateOf(settings()) == before);
        QVERIFY(fs::exists(root() / "src/a/cat.jpg"));
        // A portable copy with a settings folder of its own runs beside it.
        const fs::path other = root() / "other";
        QVERIFY(copyProgram(other));
        QProcess otherWindow;
        prepareProgram(otherWindow, other, {});
        otherWindow.start();
        QTRY_VERIFY_WITH_TIMEOUT(contentOf(other / "Corvalin.ini").ends_with(",1,0\r\n"), 30000);
        for (QProcess* running : {&window, &otherWindow}) {
            QCOMPARE(running->state(), QProcess::Running);
            running->terminate();
            QVERIFY(running->waitForFinished(20000));
            QCOMPARE(running->exitCode(), 0);
        }
    }

    // The kernel releases the lock of a killed window; the gather then counts the unclean end.
    void killedWindowBlocksNothing() {
        QProcess window;
        QVERIFY(startWindow(window));
        window.kill();
        QVERIFY(window.waitForFinished(20000));
        const ProgramRun gather =
            runProgram(prog(), {"gather", QString::fromStdString((root() / "src").native()),
                                QString::fromStdString((root() / "dst").native())});
        QCOMPARE(gather.exitCode, 0);
        QCOMPARE(namesIn(root() / "dst"), Names{"000042 cat.jpg"});
    }

    // The running window hears a second start at the run's next yield, not after the run.
    void raiseRequestArrivesDuringARun() {
        for (int i = 0; i < 200; ++i)
            QVERIFY(
                writeContent(root() / "src" / std::to_string(i % 10) / (std::to_string(i) + ".jpg"), "x"));
        QVERIFY(writeContent(settings(), "\"" + (root() / "src").native() + "\",\"" +
                                             (root() / "dst").native() + "\",\"\",0,0\r\n"));
        Module1 vars;
        ScriptedMessageBox messages;
        Form1 form(vars, {prog(), prog()}, messages);
        QVERIFY(form.Form_Load());
        form.show();
        RaiseRequestListener listener(prog());
        QVERIFY(listener.isListening());
        int heardDuringRun = 0;
        connect(&listener, &RaiseRequestListener::raiseRequested, this,
                [&] { heardDuringRun += form.runInProgress(); });
        bool asked = false;
        MoveController::of(form).setYieldInterval(0);
        QTimer secondStart;
        secondStart.setInterval(0);
        connect(&secondStart, &QTimer::timeout, this, [&] {
            if (form.runInProgress() && !asked)
                asked = askRunningWindowToRaise(prog());
        });
        secondStart.start();
        MoveController::of(form).run();
        QVERIFY(asked);
        QCOMPARE(heardDuringRun, 1);
        QCOMPARE(namesIn(root() / "dst").size(), std::size_t(201));
    }
};

QTEST_MAIN(TestOneInstance)
#include "test_one_instance.moc"
