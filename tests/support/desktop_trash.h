#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <string>

// The desktop's own trash client (gio, with the trash backend of gvfs on a private session bus),
// run against what a test trashed.
namespace corvalin::test {

// gio escapes every byte outside printable ASCII as \xNN.
inline QByteArray asGioPrints(const std::string& bytes) {
    QByteArray text;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        text += c >= 0x20 && c < 0x7f ? QByteArray(1, byte)
                                      : QByteArray::number(c, 16).rightJustified(2, '0').prepend("\\x");
    }
    return text;
}

// What the desktop's trash client lists, with original paths; empty where it is not installed.
inline QByteArray gioListing() {
    const QString gio = QStandardPaths::findExecutable("gio");
    const QString session = QStandardPaths::findExecutable("dbus-run-session");
    if (gio.isEmpty() || session.isEmpty())
        return {};
    QProcess process;
    process.start(session, {"--", gio, "list", "-a", "trash::orig-path", "trash://"});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// Trashes `file` the client's way: its own choice of trash, made where missing. Its status.
inline int gioTrash(const std::string& file) {
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty())
        return -1;
    return QProcess::execute(gio, {"trash", QString::fromStdString(file)});
}

} // namespace corvalin::test
