#include "info/ui/info_factory.h"

#include "app/ui/form1.h"
#include "info/ui/form4.h"
#include "info/ui/frm_about.h"

namespace corvalin {

QWidget* createHelpWindow(Form1& form) {
    auto* window = new Form4(form.files().programFolder, &form);
    window->Form_Load();
    return window;
}

QWidget* createAboutWindow(Form1& form) {
    auto* window = new frmAbout(form.messages(), std::make_unique<SystemToolRegistry>(), &form);
    window->Form_Load();
    return window;
}

} // namespace corvalin
