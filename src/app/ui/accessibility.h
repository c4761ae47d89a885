#pragma once

#include <QString>

class QLabel;
class QWidget;

// What a screen reader says for the controls: the caption the person reads on the screen as the
// name, the tool tip as the description. Qt reads some controls by their value alone (a drive
// list's name is its drive, a display label's name its figures, a list has no name at all); these
// helpers give every control a name without changing anything on the screen or in what the
// controls do.
namespace corvalin {

// `caption` stands beside `control` and names it: it becomes the caption's buddy, and the
// control's name follows the caption (see setCaptionText). A display label tied so is read as its
// caption followed by its value ("フォルダ総数 0/0").
void tieCaption(QLabel* caption, QWidget* control);

// A control without a caption on the screen, named by its tool tip or the caption of its frame.
// A drive list keeps its drive as its value.
void nameControl(QWidget* control, const QString& name);

// A display label without a caption of its own, read as `caption` followed by its value.
void nameDisplay(QLabel* display, const QString& caption);

// Changes a caption's text and the name of the control it is tied to.
void setCaptionText(QLabel* caption, const QString& text);

// A label that opens something when clicked: reached with Tab, opened with Return or Space (the
// window's key handling does that), read as a link.
void markLink(QLabel* link);

// A window read as an alert when it appears (a message box): its text is its description.
void markAlert(QWidget* window, const QString& text);

// Says `text` to a screen reader at once, as a notification of `window`, without moving the focus
// or showing anything (the end of a run).
void announce(QWidget* window, const QString& text);

} // namespace corvalin
