// The history window, opened from the main window's first menu.
#include "app/ui/form1.h"

namespace corvalin {

void Form1::mnuHistory_Click() {
    if (!isBusy())
        frmHistory.show();
}

} // namespace corvalin
