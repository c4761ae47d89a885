#include "x_session.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace corvalin::e2e {

namespace {

const QStringList kTools = {"Xvfb", "openbox", "xdotool", "xprop", "import"};

void endProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

void endWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

XSession::~XSession() {
    stop();
}

QStringList XSession::missingTools() {
    QStringList missing;
    for (const QString& tool : kTools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    return missing;
}

QString XSession::start() {
    // -displayfd picks a free display and writes its number once the server takes connections.
    endWithParent(m_server);
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    if (!m_server.waitForStarted(10000))
        return "Xvfb did not start: " + m_server.errorString();
    waitUntil([this] { return m_server.canReadLine() || m_server.state() == QProcess::NotRunning; }, 30000);
    const QByteArray number = m_server.readLine().trimmed();
    if (number.isEmpty())
        return "Xvfb gave no display number";
    m_display = ":" + QString::fromLatin1(number);

    endWithParent(m_windowManager);
    m_windowManager.setProcessEnvironment(environment());
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    m_windowManager.start("openbox", {"--sm-disable"});
    if (!m_windowManager.waitForStarted(10000) || !waitForWindowManager())
        return "openbox did not start on " + m_display;
    return {};
}

void XSession::stop() {
    endProcess(m_windowManager);
    endProcess(m_server);
}

bool XSession::waitForWindowManager() const {
    return waitUntil(
        [this] {
            const auto answer = run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
            return answer && answer->contains("window id");
        },
        60000); // a busy machine (an emulator beside the suite) may take this long
}

QProcessEnvironment XSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    env.remove("WAYLAND_DISPLAY");
    env.insert(m_extraEnvironment);
    return env;
}

std::optional<QByteArray> XSession::run(const QString& tool, const QStringList& arguments,
                                        int timeoutMs) const {
    QProcess process;
    QProcessEnvironment env = environment();
    // Window titles are Japanese: the tools print them as UTF-8 only in a UTF-8 locale.
    env.insert("LC_ALL", "C.UTF-8");
    process.setProcessEnvironment(env);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(tool, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

bool XSession::key(const QStringList& keys) const {
    return run("xdotool", QStringList{"key", "--delay", "80"} + keys).has_value();
}

bool XSession::type(const QString& text) const {
    return run("xdotool", {"type", "--delay", "20", text}).has_value();
}

bool XSession::click(WindowId window, QPoint place, const QString& modifier) const {
    QStringList arguments;
    if (!modifier.isEmpty())
        arguments << "keydown" << modifier;
    arguments << "mousemove"
              << "--window" << QString::number(window) << QString::number(place.x())
              << QString::number(place.y()) << "sleep"
              << "0.1"
              << "click"
              << "1";
    if (!modifier.isEmpty())
        arguments << "keyup" << modifier;
    return run("xdotool", arguments).has_value();
}

bool XSession::movePointer(WindowId window, QPoint place) const {
    return run("xdotool", {"mousemove", "--window", QString::number(window), QString::number(place.x()),
                           QString::number(place.y())})
        .has_value();
}

bool XSession::moveWindow(WindowId window, QPoint place) const {
    return run("xdotool", {"windowmove", "--sync", QString::number(window), QString::number(place.x()),
                           QString::number(place.y())})
        .has_value();
}

// Matched on _NET_WM_NAME, which holds the title in UTF-8 whatever the program's locale; the
// older WM_NAME that xdotool matches is in the locale's encoding.
QList<WindowId> XSession::windows(const QString& titlePattern) const {
    const QRegularExpression pattern(titlePattern);
    QList<WindowId> found;
    // xdotool answers with an error when nothing matches, which is an empty list here.
    const auto answer = run("xdotool", {"search", "--onlyvisible", "--name", "."});
    if (!answer)
        return found;
    for (const QByteArray& line : answer->split('\n')) {
        bool ok = false;
        const WindowId id = line.trimmed().toULongLong(&ok);
        if (ok && pattern.match(windowTitle(id)).hasMatch())
            found << id;
    }
    return found;
}

QString XSession::windowTitle(WindowId window) const {
    const auto answer = run("xprop", {"-id", QString::number(window), "-notype", "_NET_WM_NAME"});
    if (!answer)
        return {};
    const qsizetype first = answer->indexOf('"');
    const qsizetype last = answer->lastIndexOf('"');
    return first >= 0 && last > first ? QString::fromUtf8(answer->mid(first + 1, last - first - 1))
                                      : QString();
}

std::optional<WindowId> XSession::waitForWindow(const QString& titlePattern, int timeoutMs,
                                                const QList<WindowId>& except) const {
    std::optional<WindowId> window;
    waitUntil(
        [&] {
            for (WindowId id : windows(titlePattern)) {
                if (!except.contains(id))
                    window = id;
            }
            return window.has_value();
        },
        timeoutMs);
    return window;
}

bool XSession::waitForNoWindow(WindowId window, int timeoutMs) const {
    return waitUntil(
        [&] {
            return !run("xdotool", {"getwindowname", QString::number(window)}) ||
                   !windows(".").contains(window);
        },
        timeoutMs);
}

bool XSession::waitUntilActive(WindowId window, int timeoutMs) const {
    return waitUntil(
        [&] {
            const auto answer = run("xdotool", {"getactivewindow"});
            return answer && answer->trimmed().toULongLong() == window;
        },
        timeoutMs);
}

QSize XSession::windowSize(WindowId window) const {
    const auto answer = run("xdotool", {"getwindowgeometry", "--shell", QString::number(window)});
    QSize size;
    if (!answer)
        return size;
    for (const QByteArray& line : answer->split('\n')) {
        if (line.startsWith("WIDTH="))
            size.setWidth(line.mid(6).toInt());
        else if (line.startsWith("HEIGHT="))
            size.setHeight(line.mid(7).toInt());
    }
    return size;
}

QImage XSession::grab(WindowId window) const {
    const auto png = run("import", {"-window", QString::number(window), "png:-"});
    return png ? QImage::fromData(*png, "PNG") : QImage();
}

QString XSession::screenshot(const QString& file) const {
    return run("import", {"-window", "root", file}) ? file : QString();
}

} // namespace corvalin::e2e
