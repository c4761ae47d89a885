#pragma once

class QWidget;

namespace corvalin {

class Form1;

// Creates the options dialog for the main window (hidden; the caller shows it).
QWidget* createOptionsWindow(Form1& form);

} // namespace corvalin
