// The desktop notification at the end of a long run: sent through a private session bus to a
// notification service of the test's own, only when the run took longer than ten seconds (the
// clock is the test's), the window was not the active one and the option is on; without a service
// or a bus nothing happens and nothing is said.
#include "app/ui/desktop_notification.h"
#include "app/ui/form1.h"
#include "app/ui/run_end_notice.h"
#include "engine/ui/move_controller.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "scripted_message_box.h"
#include "strip/ui/strip_run_window.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

// What a notification service is asked to show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString app;
        QString title;
        QString body;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& title, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        shown.append({app, title, body});
        return uint(shown.size());
    }
};

} // namespace

class TestRunEndNotice : public QObject {
    Q_OBJECT

    QProcess m_bus;
    QTemporaryDir m_busDir;
    FakeNotifications m_service;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;

    fs::path root() const { return m_dir->path().toStdString(); }
    QDBusConnection serviceSide() const { return QDBusConnection(QStringLiteral("service")); }

    // The bus reads its own configuration only: no service of this machine is started on it.
    bool startBus() {
        const QString config = m_busDir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        // An abstract socket, named after this process: no path length limit, no clash with a
        // test running beside this one.
        file.write(
            QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                           "1.0//EN\"\n \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type>"
                           "<listen>unix:abstract=corvalin-test-%1</listen><auth>EXTERNAL</auth>"
                           "<policy context=\"default\"><allow send_destination=\"*\"/>"
                           "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n")
                .arg(QCoreApplication::applicationPid())
                .toUtf8());
        file.close();
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                     QStringLiteral("--nofork")});
        if (!m_bus.waitForStarted() || !m_bus.waitForReadyRead(10000))
            return false;
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection service = QDBusConnection::connectToBus(QString::fromUtf8(address), "service");
        return service.isConnected() &&
               service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_service,
                                      QDBusConnection::ExportAllSlots);
    }

    void openForm(bool notify) {
        const fs::path src = root() / "src", dst = root() / "dst";
        QVERIFY(writeContent(root() / "prog" / "Corvalin.ini",
                             "\"" + src.native() + "\",\"" + dst.native() + "\",\"\",0,1\r\n"));
        if (!notify)
            QVERIFY(writeContent(root() / "prog" / "Corvalin.conf", "notify_long_runs=false\n"));
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        QVERIFY(m_form->Form_Load());
        MoveController::of(*m_form).setYieldInterval(0);
    }

    // Gives the run its length: the first reading is its start, every later one its end.
    void runTakes(std::chrono::seconds length) {
        auto readings = std::make_shared<int>(0);
        RunEndNotice::of(*m_form).setClock([readings, length] {
            const std::chrono::steady_clock::time_point start{};
            return (*readings)++ == 0 ? start : start + length;
        });
    }

    // Whatever the run sent arrives before this, on the same connection.
    void waitForSentinel() {
        sendDesktopNotification(QStringLiteral("sentinel"), QString());
        QTRY_VERIFY(!m_service.shown.isEmpty() && m_service.shown.last().title == QStringLiteral("sentinel"));
        m_service.shown.removeLast();
    }

private slots:
    void initTestCase() { QVERIFY2(startBus(), qPrintable(m_bus.readAllStandardError())); }
    void cleanupTestCase() {
        m_bus.kill();
        m_bus.waitForFinished();
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<OwnHome>(root() / "home");
        for (const char* name : {"src/a/cat.jpg", "src/a/notes.txt", "src/b/dog.jpg"})
            QVERIFY(writeContent(root() / name, pictureContent(name)));
        for (const char* name : {"dst/000007 old.jpg", "dst/000008 older.jpg"})
            QVERIFY(writeContent(root() / name, pictureContent(name)));
        m_messages = ScriptedMessageBox{};
        m_vars = Module1{};
        m_service.shown.clear();
        QVERIFY(serviceSide().registerService(kService));
    }
    void cleanup() {
        m_form.reset();
        m_home.reset();
        m_dir.reset();
    }

    void toldWhenLongAndUnseen_data() {
        QTest::addColumn<QString>("run");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("watched"); // the main window is the active one at the end
        QTest::addColumn<bool>("option");
        QTest::addColumn<QString>("without"); // "service" or "bus"
        QTest::addColumn<QString>("told");    // the body, or nothing
        const QString moved =
            QStringLiteral("完了: 画像 2 個を移動しました（000000〜000001）。ほかのファイル 1 "
                           "個と子フォルダ 2 個をごみ箱に入れました。");
        const QString stripped = QStringLiteral("完了: 通し番号を切り取ったファイル 2 個");
        QTest::newRow("move, 11 s, unseen") << "move" << 11 << false << true << "" << moved;
        QTest::newRow("move, 10 s") << "move" << 10 << false << true << ""
                                    << "";
        QTest::newRow("move, watched") << "move" << 11 << true << true << ""
                                       << "";
        QTest::newRow("move, option off") << "move" << 11 << false << false << ""
                                          << "";
        QTest::newRow("strip, 11 s, unseen") << "strip" << 11 << false << true << "" << stripped;
        QTest::newRow("strip, option off") << "strip" << 60 << false << false << ""
                                           << "";
        QTest::newRow("no notification service") << "move" << 11 << false << true << "service"
                                                 << "";
        QTest::newRow("no session bus") << "strip" << 11 << false << true << "bus"
                                        << "";
    }
    void toldWhenLongAndUnseen() {
        QFETCH(QString, run);
        QFETCH(bool, watched);
        QFETCH(bool, option);
        QFETCH(QString, without);
        QFETCH(int, seconds);
        QFETCH(QString, told);
        openForm(option);
        if (watched) {
            m_form->show();
            QApplication::setActiveWindow(m_form.get());
            QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        }
        runTakes(std::chrono::seconds(seconds));
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const bool runtimeSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (without == "service")
            QVERIFY(serviceSide().unregisterService(kService));
        if (without == "bus") {
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
            qputenv("XDG_RUNTIME_DIR", m_dir->path().toUtf8());
        }
        if (run == "move")
            MoveController::of(*m_form).runMove();
        else
            StripRunWindow(*m_form, StripRunWindow::Kind::InFolder).run();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        if (!runtimeSet)
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", runtime);
        QVERIFY(serviceSide().registerService(kService));
        QCOMPARE(int(m_messages.shown.size()), 0);
        waitForSentinel();
        QCOMPARE(int(m_service.shown.size()), told.isEmpty() ? 0 : 1);
        if (told.isEmpty())
            return;
        QCOMPARE(m_service.shown[0].app, QStringLiteral("Corvalin"));
        QCOMPARE(m_service.shown[0].title, run == "move" ? moveEndTitle() : stripEndTitle());
        QCOMPARE(m_service.shown[0].body, told);
    }
};

QTEST_MAIN(TestRunEndNotice)
#include "test_run_end_notice.moc"
