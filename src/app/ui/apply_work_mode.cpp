// Lays the main window out for the chosen work mode. Both the options dialog and the end of a strip
// run call it.
#include "app/ui/accessibility.h"
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/strip_mode_boxes.h"
#include "app/ui/ui_text.h"
#include "app/work_mode.h"

namespace corvalin {

Form1::StripChoice Form1::readStripChoice() {
    if (frmOptions.hasFactory()) {
        if (auto* boxes = dynamic_cast<StripModeBoxes*>(frmOptions.load()))
            return {boxes->isCheck3Ticked(), boxes->isCheck4Ticked()};
    }
    return {m_vars.OptFlags[1].isOn(), m_vars.OptFlags[2].isOn()};
}

void Form1::ApplyWorkMode() {
    const StripChoice choice = readStripChoice();
    const WorkLayout layout = workLayoutFor(choice.check3, choice.check4, m_vars.OptFlags[2]);
    ui.Command1->setVisible(layout.command1Visible);
    ui.Command2->setVisible(layout.command2Visible);
    if (layout.command3Visible)
        ui.Command3->setVisible(*layout.command3Visible);
    if (layout.command4Visible)
        ui.Command4->setVisible(*layout.command4Visible);
    for (QWidget* source : {static_cast<QWidget*>(ui.Label1), static_cast<QWidget*>(ui.Drive1),
                            static_cast<QWidget*>(ui.Dir1), static_cast<QWidget*>(ui.File1)})
        source->setEnabled(layout.sourcePaneEnabled);
    setCaptionText(ui.Label2, toDisplay(layout.label2Caption));
    setBackground(ui.Label14, layout.indicatorRed ? kLightRed : kLightGreen);
    for (QWidget* moveOnly : {ui.Label5, ui.Label6, ui.Label8, ui.Label10})
        moveOnly->setEnabled(layout.sourcePaneEnabled);
    ui.Label9->setText(toDisplay(layout.label9Caption));
    ui.File2->setVisible(layout.file2Visible);
    ui.File3->setVisible(layout.file3Visible);
}

// The boxes may differ from the stored modes when the dialog was ticked after its last Update; only
// the strip layout ever gets a strip button, so that never two start buttons show.
void Form1::showChosenWorkMode() {
    ApplyWorkMode();
    const bool stripLayout = !ui.Command1->isVisibleTo(this);
    ui.Command3->setVisible(stripLayout && m_vars.OptFlags[1].isOn());
    ui.Command4->setVisible(stripLayout && m_vars.OptFlags[2].isOn());
}

} // namespace corvalin
