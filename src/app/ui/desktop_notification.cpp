#include "app/ui/desktop_notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QVariantMap>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace corvalin {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// Without an address libdbus would start a bus of its own ("autolaunch"), a process and a wait
// for a notification no one may see.
bool sessionBusKnown() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    return runtime && *runtime && ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
           S_ISSOCK(st.st_mode);
}

} // namespace

void sendDesktopNotification(const QString& title, const QString& body) {
    if (!sessionBusKnown())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    // The desktop shows the program's own name and icon from its desktop entry.
    if (!QGuiApplication::desktopFileName().isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    // Name, id to replace, icon, summary, body, actions, hints, timeout (the service's own).
    notify << QStringLiteral("Corvalin") << 0u << QStringLiteral("corvalin") << title << body << QStringList()
           << hints << -1;
    // Sent without waiting for the answer; an absent service only makes the bus answer an error
    // that no one reads.
    bus.send(notify);
}

} // namespace corvalin
