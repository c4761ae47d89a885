#pragma once

class QWidget;

namespace corvalin {

class Form1;

// Creates the options dialog for the main window and runs its load sequence; it stays hidden
// until the caller shows it.
QWidget* createOptionsWindow(Form1& form);

} // namespace corvalin
