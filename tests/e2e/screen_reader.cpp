#include "screen_reader.h"

#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>

#include <algorithm>

namespace corvalin::e2e {

namespace {

constexpr int kAnswerTimeoutMs = 60000;

const QStringList kBusLaunchers = {"/usr/libexec/at-spi-bus-launcher",
                                   "/usr/lib/at-spi2-core/at-spi-bus-launcher"};

bool hasClientLibrary(const QString& interpreter) {
    QProcess probe;
    probe.start(interpreter, {"-c", "import pyatspi"});
    return probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

} // namespace

QString readerInterpreter() {
    for (const QString& candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        const QString found = QStandardPaths::findExecutable(candidate);
        if (!found.isEmpty() && hasClientLibrary(found))
            return found;
    }
    return {};
}

ScreenReader::~ScreenReader() {
    stop();
}

QStringList ScreenReader::missingPieces() {
    QStringList missing;
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
        missing << "dbus-daemon (dbus)";
    if (std::none_of(kBusLaunchers.begin(), kBusLaunchers.end(),
                     [](const QString& path) { return QFile::exists(path); }))
        missing << "at-spi-bus-launcher (at-spi2-core)";
    if (readerInterpreter().isEmpty())
        missing << "pyatspi (python3-pyatspi)";
    return missing;
}

QString ScreenReader::start(XSession& x) {
    endWithParent(m_bus);
    m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!m_bus.waitForStarted(10000))
        return "dbus-daemon did not start: " + m_bus.errorString();
    waitUntil([this] { return m_bus.canReadLine() || m_bus.state() == QProcess::NotRunning; }, 30000);
    const QString address = QString::fromUtf8(m_bus.readLine().trimmed());
    if (address.isEmpty())
        return "dbus-daemon gave no address";
    x.setEnvironment("DBUS_SESSION_BUS_ADDRESS", address);
    // Qt asks the bus whether a screen reader runs; this says so at once, whatever the desktop's
    // settings say.
    x.setEnvironment("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");

    endWithParent(m_reader);
    m_reader.setProcessEnvironment(x.environment());
    m_reader.setProcessChannelMode(QProcess::SeparateChannels);
    m_reader.start(readerInterpreter(), {CORVALIN_ATSPI_CLIENT});
    if (!m_reader.waitForStarted(10000))
        return "the screen reader did not start: " + m_reader.errorString();
    // The first answer comes once the accessibility bus is up and the listeners are registered.
    waitUntil([this] { return m_reader.canReadLine() || m_reader.state() == QProcess::NotRunning; },
              kAnswerTimeoutMs);
    if (m_reader.readLine().trimmed() != "\"ready\"")
        return "the screen reader is not ready: " + QString::fromUtf8(m_reader.readAllStandardError());
    return {};
}

void ScreenReader::stop() {
    for (QProcess* process : {&m_reader, &m_bus}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

// An answer that came after its question had given up belongs to no question asked now.
QJsonValue ScreenReader::request(const QByteArray& command) {
    if (m_reader.state() != QProcess::Running)
        return {};
    const int id = ++m_lastId;
    m_reader.write(QByteArray::number(id) + ' ' + command + '\n');
    QJsonValue reply;
    waitUntil(
        [&] {
            while (m_reader.canReadLine()) {
                const QJsonObject answer = QJsonDocument::fromJson(m_reader.readLine()).object();
                if (answer["id"].toInt() == id) {
                    reply = answer["reply"];
                    return true;
                }
            }
            return m_reader.state() == QProcess::NotRunning;
        },
        kAnswerTimeoutMs);
    return reply;
}

QJsonArray ScreenReader::walk() {
    return request("walk").toArray();
}

QJsonObject ScreenReader::focus() {
    return request("focus").toObject();
}

QJsonArray ScreenReader::row() {
    return request("row").toArray();
}

QJsonArray ScreenReader::events() {
    return request("events").toArray();
}

} // namespace corvalin::e2e
