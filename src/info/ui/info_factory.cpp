#include "info/ui/info_factory.h"

namespace corvalin {

QWidget* createHelpWindow(Form1&) {
    return nullptr;
}
QWidget* createAboutWindow(Form1&) {
    return nullptr;
}

} // namespace corvalin
