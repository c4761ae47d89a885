#pragma once

#include <QString>

namespace corvalin {

// Sends one notification to the desktop's notification service (org.freedesktop.Notifications on
// the session bus) and returns at once: no reply is waited for, and without a session bus or a
// service nothing happens and nothing is said.
void sendDesktopNotification(const QString& title, const QString& body);

} // namespace corvalin
