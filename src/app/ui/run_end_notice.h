#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <string>

namespace corvalin {

class Form1;

// The end of a long move or strip run, told by a desktop notification when the user looks
// elsewhere and the option asks for it (long_run.h). The window itself shows nothing more.
class RunEndNotice : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The window's notice, created on first use as a child of the window.
    static RunEndNotice& of(Form1& form);

    // Where the time of a run is read (tests give a run its length).
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Whether the run now starting is to be counted for its summary at all.
    bool wanted() const;

    // The click that starts a run.
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
