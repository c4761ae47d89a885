#pragma once

#include <QObject>

#include <filesystem>

class QLocalServer;
class QWidget;

namespace corvalin {

// A second start of the window asks the running one, the holder of the settings folder's lock, to
// come to the front, through a local socket named after that folder. Any connection is the request.
class RaiseRequestListener : public QObject {
    Q_OBJECT
public:
    explicit RaiseRequestListener(const std::filesystem::path& settingsFolder, QObject* parent = nullptr);
    bool isListening() const;

signals:
    void raiseRequested();

private:
    void onNewConnection();
    QLocalServer* m_server;
};

// Asks the window that holds `settingsFolder` to come to the front. False when none answers within
// about a second: the lock's holder is then a command.
bool askRunningWindowToRaise(const std::filesystem::path& settingsFolder);

// Brings a window to the front; where the desktop does not let a program do that (Wayland), the
// window asks for the user's attention instead.
void bringToFront(QWidget* window);

} // namespace corvalin
