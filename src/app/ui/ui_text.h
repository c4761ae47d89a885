#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <filesystem>
#include <string>

namespace corvalin {

// Text for the screen. Paths stay byte strings everywhere else; bytes that are not UTF-8 are shown
// as replacement characters, never used to reach the disk.
QString toDisplay(const std::filesystem::path& path);
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
