#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvalin::e2e {

using WindowId = qulonglong;

// A child started by `process` gets SIGTERM when the test ends, even when the test is killed.
void endWithParent(QProcess& process);

// Polls `condition` while letting events run, until it holds or `timeoutMs` has passed.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// A private X server with a window manager, and the hands of a person in front of it: every
// action goes through the X server, as key presses and pointer clicks, never into a program.
class XSession {
public:
    XSession() = default;
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;
    ~XSession();

    // The tools a session needs that are not on PATH, for a clear reason to skip.
    static QStringList missingTools();

    // Starts the server on a free display and the window manager; an empty text on success,
    // otherwise what went wrong.
    QString start();
    void stop();

    // The environment of a program shown on this server.
    QProcessEnvironment environment() const;
    // A variable given to every program started on this server from now on (a session bus).
    void setEnvironment(const QString& name, const QString& value) { m_extraEnvironment.insert(name, value); }

    // Key presses as xdotool names them ("Tab", "ctrl+a", "alt+F4"), one after another.
    bool key(const QStringList& keys) const;
    bool type(const QString& text) const;
    // A left click at `place`, relative to the top-left corner of `window`.
    bool click(WindowId window, QPoint place, const QString& modifier = {}) const;
    // The pointer moved there without a click (away from controls with tool tips, say).
    bool movePointer(WindowId window, QPoint place) const;
    // The window's top-left corner moved to `place` on the screen.
    bool moveWindow(WindowId window, QPoint place) const;

    // The visible windows whose title matches the regular expression `titlePattern`.
    QList<WindowId> windows(const QString& titlePattern) const;
    QString windowTitle(WindowId window) const;
    std::optional<WindowId> waitForWindow(const QString& titlePattern, int timeoutMs,
                                          const QList<WindowId>& except = {}) const;
    bool waitForNoWindow(WindowId window, int timeoutMs) const;
    bool waitUntilActive(WindowId window, int timeoutMs) const;
    QSize windowSize(WindowId window) const;

    // The window's content as the screen shows it; null when it cannot be grabbed.
    QImage grab(WindowId window) const;
    // Saves the whole screen; the path written, or empty.
    QString screenshot(const QString& file) const;

private:
    std::optional<QByteArray> run(const QString& tool, const QStringList& arguments,
                                  int timeoutMs = 10000) const;
    bool waitForWindowManager() const;

    QProcess m_server;
    QProcess m_windowManager;
    QString m_display;
    QProcessEnvironment m_extraEnvironment;
};

} // namespace corvalin::e2e
