#include "options/ui/options_factory.h"

namespace corvalin {

QWidget* createOptionsWindow(Form1&) {
    return nullptr;
}

} // namespace corvalin
