// The two serial-number strip runs, started from the main window.
#include "app/ui/form1.h"
#include "strip/ui/strip_run_window.h"

namespace corvalin {

void Form1::Command3_Click() {
    if (runInProgress() || !readExtraOptionsForRun() || !beginStripRun())
        return;
    StripRunWindow(*this, StripRunWindow::Kind::InFolder).run();
    endRun();
}

void Form1::Command4_Click() {
    if (runInProgress() || !readExtraOptionsForRun() || !beginStripRun())
        return;
    StripRunWindow(*this, StripRunWindow::Kind::IntoSubfolder).run();
    endRun();
}

} // namespace corvalin
