#pragma once

#include <QObject>

class QSocketNotifier;

namespace corvalin {

// Turns SIGTERM and SIGHUP (the system shutting down, the session ending, `kill`) into a Qt
// signal on the event loop, so that they close the main window like its close box does.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void shutdownRequested();

private:
    void onSignalArrived();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace corvalin
