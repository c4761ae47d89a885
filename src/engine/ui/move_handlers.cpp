// The move-and-number run, started from the main window.
#include "app/ui/form1.h"
#include "engine/ui/move_controller.h"

namespace corvalin {

void Form1::Command1_Click() {
    MoveController::of(*this).run();
}

// Asks the run to stop; the run, not the click, puts the window back.
void Form1::Command2_Click() {
    CancelFlag = 1;
    ui.Command2->setEnabled(false);
}

} // namespace corvalin
