#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <string>

namespace corvalin {

class Form1;

// The end of a move or strip run: its result line stays on the main window's status line until the
// next run starts, and a long run is told by a desktop notification too when the user looks
// elsewhere and the option asks for it (long_run.h). No message box: the window is not in the way.
class RunEndNotice : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The window's notice, created on first use as a child of the window.
    static RunEndNotice& of(Form1& form);

    // Where the time of a run is read (tests give a run its length).
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Whether the option asks for notifications.
    bool wanted() const;

    // The click that starts a run: the last run's result line goes.
    void runStarted();
    // Its end, before anything is shown over the window: `summary` is the run's result line.
    void runEnded(const QString& title, const std::string& summary);

private:
    explicit RunEndNotice(Form1& form);

    Form1& m_form;
    Clock m_clock = [] {
        return std::chrono::steady_clock::now();
    };
    std::chrono::steady_clock::time_point m_started;
};

// The notifications' titles.
QString moveEndTitle();
QString stripEndTitle();

} // namespace corvalin
