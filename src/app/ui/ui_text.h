#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

namespace corvalin {

// A file name or path for the screen, read the one way every rule counts it (legibleName). Paths
// stay byte strings everywhere else; what this shows is never used to reach the disk.
QString displayName(std::string_view nameOrPath);
QString displayName(const std::filesystem::path& path);
inline QString displayName(const std::string& nameOrPath) {
    return displayName(std::string_view(nameOrPath));
}

// The program's own UTF-8 text (captions, messages) for the screen.
QString toDisplay(const std::string& utf8);

// A path the user typed: its UTF-8 bytes.
std::filesystem::path fromUserText(const QString& text);

// The Japanese fonts the windows were drawn for, with the fallbacks a Linux desktop has.
QFont gothicFont(double pointSize, bool bold = false);
QFont minchoFont(double pointSize, bool bold = false);

// The classic palette's light green (index 10) and light red (index 12).
inline const QColor kLightGreen(0, 255, 0);
inline const QColor kLightRed(255, 0, 0);

void setBackground(QWidget* widget, const QColor& colour);
void setTextColour(QWidget* widget, const QColor& colour);

} // namespace corvalin
