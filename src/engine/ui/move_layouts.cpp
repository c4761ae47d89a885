// The main window as a move run shows it while the run goes, and as both endings put it back.
#include "app/ui/form1.h"
#include "engine/ui/move_controller.h"
#include "preview/ui/preview_decoder.h"

namespace corvalin {

void MoveController::showRunLayout() {
    m_form.BusyFlag = OptionValue::number(1);
    m_form.ui.Command1->hide();
    m_form.ui.Command2->show();
    m_form.ui.Label7->show();
    m_form.ui.Label12->hide();
    m_form.closeSecondaryWindows();
    ++m_generation;
    m_running = true;
    m_sinceYield.invalidate();
    m_sinceDisplay.invalidate();
    m_sinceDestinationListed.start();
    m_destinationListCostMs = 0;
    m_pendingFolder.reset();
    m_pendingHeading = false;
    m_folderCounts.reset();
    m_fileCounts.reset();
    m_newName.clear();
    m_fileLabelsPending = false;
    m_tally = GatherTally{};
    m_tally.setPictureTypes(m_form.extraOptions().pictureTypes);
}

// What both endings put back: buttons, preview box and headings. Late previews are dropped.
void MoveController::showIdleLayout() {
    m_running = false;
    ++m_generation;
    m_pendingFolder.reset();
    m_decoder->dropPending();
    m_form.ui.Command1->show();
    m_form.ui.Command2->hide();
    m_form.ui.Image1->clear();
    m_form.ui.Picture1->setFrameStyle(QFrame::NoFrame);
    m_form.ui.Label7->hide();
    m_form.ui.Label12->hide();
    // Shown until the survey display ends; a run that fails before then must not leave it.
    m_form.ui.Label13->hide();
    m_form.ui.Command2->setEnabled(true);
}

} // namespace corvalin
