// The two serial-number strip runs, started from the main window.
#include "app/ui/form1.h"

namespace corvalin {

void Form1::Command3_Click() {}

void Form1::Command4_Click() {}

} // namespace corvalin
