// The plan window, opened from the main window's first menu.
#include "app/ui/form1.h"

namespace corvalin {

void Form1::mnuPlan_Click() {
    if (!isBusy())
        frmPlan.show();
}

} // namespace corvalin
