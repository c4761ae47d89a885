#pragma once

class QWidget;

namespace corvalin {

class Form1;

// Create the help window and the version-information window (hidden; the caller shows them).
QWidget* createHelpWindow(Form1& form);
QWidget* createAboutWindow(Form1& form);

} // namespace corvalin
