#pragma once

#include "x_session.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QStringList>

namespace corvalin::e2e {

// A private session bus with the desktop's accessibility bus on it, and a screen reader of our
// own listening there (atspi_client.py): every program started on the X session afterwards is
// reached through it as a screen reader reaches it.
class ScreenReader {
public:
    ScreenReader() = default;
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;
    ~ScreenReader();

    // What this machine lacks for it (the session bus, the accessibility bus, the client library).
    static QStringList missingPieces();

    // Starts the bus and the reader, and gives `x`'s programs the bus; an empty text on success.
    QString start(XSession& x);
    void stop();

    // Every accessible of the program's active window, depth first (objects of "depth", "role",
    // "name", "description", "states" and, for a combo box, "value").
    QJsonArray walk();
    // The control with the keyboard focus in the active window; an empty object when none.
    QJsonObject focus();
    // The texts of the cells of the focused row, when the focused control is a table.
    QJsonArray row();
    // The notifications and alerts that appeared since the last call.
    QJsonArray events();

private:
    QJsonValue request(const QByteArray& command);

    QProcess m_bus;
    QProcess m_reader;
    int m_lastId = 0;
};

// Where the client library answers: Debian's own interpreter first, since another one first on
// the PATH may lack it.
QString readerInterpreter();

} // namespace corvalin::e2e
