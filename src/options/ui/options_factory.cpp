#include "options/ui/options_factory.h"

#include "options/ui/options_dialog.h"

namespace corvalin {

QWidget* createOptionsWindow(Form1& form) {
    auto* dialog = new frmOptions(form);
    dialog->Form_Load();
    return dialog;
}

} // namespace corvalin
