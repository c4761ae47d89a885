#include "app/ui/raise_request.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

constexpr int kConnectAttempts = 10;
constexpr int kConnectWaitMs = 100;

// An abstract socket name: no file to leave behind when a window is killed. The user's id keeps
// two users' copies apart; the folder's hash keeps two portable copies apart.
QString socketName(const fs::path& settingsFolder) {
    std::error_code ignored;
    const std::string folder = fs::weakly_canonical(settingsFolder, ignored).native();
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha256);
    return QStringLiteral("corvalin-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash.toHex().left(32)));
}

} // namespace

RaiseRequestListener::RaiseRequestListener(const fs::path& settingsFolder, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(m_server, &QLocalServer::newConnection, this, &RaiseRequestListener::onNewConnection);
    // Without it only the raising is lost; the lock still keeps a second copy out.
    (void)m_server->listen(socketName(settingsFolder));
}

bool RaiseRequestListener::isListening() const {
    return m_server->isListening();
}

void RaiseRequestListener::onNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->disconnectFromServer();
        socket->deleteLater();
        emit raiseRequested();
    }
}

bool askRunningWindowToRaise(const fs::path& settingsFolder) {
    const QString name = socketName(settingsFolder);
    // The running window listens right after taking the lock; a moment may lie between the two.
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(name);
        if (socket.waitForConnected(kConnectWaitMs)) {
            socket.disconnectFromServer();
            return true;
        }
        QThread::msleep(kConnectWaitMs);
    }
    return false;
}

void bringToFront(QWidget* window) {
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    QApplication::alert(window);
}

} // namespace corvalin
