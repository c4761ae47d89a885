#include "engine/ui/move_controller.h"

#include "app/message_box.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/run_end_notice.h"
#include "app/ui/ui_text.h"
#include "engine/files_left.h"
#include "history/journal_messages.h"
#include "plan/plan_text.h"
#include "plan/ui/frm_plan.h"
#include "platform/paths.h"
#include "preview/ui/picture_decoder.h"
#include "preview/ui/preview_decoder.h"
#include "preview/ui/thumbnail_service.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Re-reading a destination that grows to thousands of files after every folder would cost
// seconds over a run; during the run the list follows at this pace instead, and exactly at its end.
constexpr qint64 kDestinationListIntervalMs = 300;
// ... and at least this many times as long as reading it took, so that it costs the run at most
// some 2% (at 50,000 names a reading takes some 25 ms).
constexpr qint64 kDestinationListShare = 50;

QString countText(long first, long second) {
    return QStringLiteral("%1/%2").arg(first).arg(second);
}

} // namespace

MoveController& MoveController::of(Form1& form) {
    auto* controller =
        form.findChild<MoveController*>(QStringLiteral("moveController"), Qt::FindDirectChildrenOnly);
    return controller ? *controller : *new MoveController(form);
}

MoveController::MoveController(Form1& form)
    : QObject(&form), m_form(form), m_decoder(new PreviewDecoder(this)) {
    setObjectName(QStringLiteral("moveController"));
    connect(m_decoder, &PreviewDecoder::decoded, this, &MoveController::showDecoded);
}

void MoveController::run() {
    if (m_form.runInProgress() || !m_form.readExtraOptionsForRun())
        return;
    // The plan makes its own survey; the run makes its own again, so it acts on the disk as it is then.
    if (m_form.extraOptions().planBeforeMove && !confirmMoveByPlan(m_form))
        return;
    runMove();
}

void MoveController::runMove() {
    if (!m_form.beginRun())
        return;
    // Read again here too: the plan's 「実行」 starts the run without run().
    if (!m_form.readExtraOptionsForRun()) {
        m_form.endRun();
        return;
    }
    RunEndNotice::of(m_form).runStarted();
    const fs::path source = m_form.ui.Dir1->path();
    const Removal removal = m_form.removal();
    // Refused before anything, the window included, is touched.
    Status allowed = checkSource(source, m_form.files());
    if (allowed)
        allowed = checkDestination(source, m_form.ui.Dir2->path());
    if (allowed)
        allowed = removal.checkUsable(source);
    if (!allowed) {
        m_form.showError(allowed.error());
        m_form.endRun();
        return;
    }
    std::optional<RunJournal> journal;
    if (!startJournal(source, journal)) {
        m_form.endRun();
        return;
    }
    showRunLayout();
    MoveRun moveRun(m_form.vars(), m_form.files(), *this, removal);
    moveRun.setJournal(journal ? &*journal : nullptr);
    moveRun.setPictureTypes(m_form.extraOptions().pictureTypes);
    moveRun.setSkipDuplicates(m_form.extraOptions().skipDuplicates);
    const MoveRunResult result = moveRun.run(source, m_form.vars().OptFlags[0].isOn(), m_form.FolderList);
    // The last counts, name and folder entered stay; the endings show the folders.
    showPendingHeading();
    showFileLabels();
    // A cancel clicked during the last files belongs to this run, which ends now; left waiting, it
    // would reach the idle window.
    yield();
    tellEnd(result, removal);
    if (result.error)
        m_form.showError(*result.error);
    const fs::path journalFile = journal ? journal->file() : fs::path();
    finishRunJournal(m_form.messages(), journal, journalOutcome(result.outcome), result.error);
    ThumbnailService::of(m_form).follow(journalFile, JournalPass::Run);
    if (result.outcome == MoveOutcome::Completed)
        completedEnding(result.foldersWithFiles);
    else
        cancelEnding(source);
    // Told over the idle window, whatever ended the run.
    const std::string left = describeFilesLeft(source, result);
    if (!left.empty())
        m_form.messages().show(left, MessageButtons::Ok, MessageIcon::Information);
    m_form.endRun();
}

// No run starts without its journal: without one nothing it does could be undone. False when the
// run is refused for it.
bool MoveController::startJournal(const fs::path& source, std::optional<RunJournal>& journal) {
    if (!m_journalling)
        return true;
    const RunStart start = moveRunStart(m_form.vars().SerialNo, source, m_form.ui.Dir2->path(),
                                        m_form.vars().OptFlags[0].isOn(), m_form.removal());
    return openRunJournal(m_form.messages(), m_form.files().history(), start, journal);
}

// Before any message: a user who looks elsewhere would not see one waiting over the window.
void MoveController::tellEnd(const MoveRunResult& result, const Removal& removal) {
    const RemovalChoices removed{m_form.vars().OptFlags[0].isOn(), removal.permanent()};
    GatherCounts counts = m_tally.finish();
    counts.childFolders = result.foldersRemoved;
    counts.numbersSkipped = result.numbersSkipped;
    RunEndNotice::of(m_form).runEnded(moveEndTitle(), gatherSummary(result.outcome, counts, removed));
}

// Pictures deleted for good without a word would be lost to a setting the user never looked at.
bool MoveController::deleteUnchosenPictures(const std::map<std::string, std::size_t>& byEnding) {
    return m_form.messages().show(unchosenPicturesQuestion(mostFirst(byEnding)), MessageButtons::YesNo,
                                  MessageIcon::Warning) == MessageAnswer::Yes;
}

void MoveController::completedEnding(int foldersWithFiles) {
    refreshDestinationFiles(true);
    (void)m_form.ui.Dir1->refresh();
    (void)m_form.ui.Dir2->refresh();
    m_form.BusyFlag = OptionValue::number(0);
    m_form.CancelFlag = 0;
    showIdleLayout();
    m_form.ui.Label10->setText(displayName(ownName(m_form.ui.Dir1->path())));
    m_form.FolderList.clear();
    m_form.ui.Label6->setText(countText(foldersWithFiles, long(m_form.FolderList.size())));
    m_form.ui.Label15->setText(QString::number(m_form.ui.File2->entryCount()));
}

// The flags go first: setting the source pane back then runs its own change reaction.
void MoveController::cancelEnding(const fs::path& sourceParent) {
    m_form.CancelFlag = 0;
    m_form.BusyFlag = OptionValue::number(0);
    showIdleLayout();
    refreshDestinationFiles(true);
    (void)m_form.ui.File1->setPath(sourceParent);
    (void)m_form.ui.Dir1->setPath(sourceParent);
    (void)m_form.ui.Dir1->refresh();
    m_form.FolderList.clear();
}

void MoveController::yield() {
    showWhenDue();
    QCoreApplication::processEvents();
    m_sinceYield.start();
}

// Moving a file, or showing a folder of the survey display, takes far less than a frame; painting
// after every one would cost more than the work. A cancel is only taken at the next folder of the
// move, whose yield lets every event through.
void MoveController::yieldForDisplay() {
    if (m_sinceYield.isValid() && m_sinceYield.elapsed() < m_yieldIntervalMs)
        return;
    yield();
}

void MoveController::surveyStarted() {
    m_form.ui.Label13->show();
}

bool MoveController::stopRequested() {
    return m_form.closeRequested();
}

// The source pane walks with the run; what it shows is only display, so a folder that cannot be
// shown is no failure here (the run reads the folder itself and stops on its error). Setting the
// folder list's path reads the folder afresh, which is all a refresh would do.
void MoveController::showFolder(const fs::path& folder) {
    (void)m_form.ui.File1->setPath(folder);
    (void)m_form.ui.Dir1->setPath(folder);
}

void MoveController::surveyFolderShown(const fs::path& folder) {
    m_pendingFolder = folder;
    m_pendingHeading = true;
    if (m_displayIntervalMs == 0)
        showPendingDisplay();
}

void MoveController::surveyCountsShown(int foldersWithFiles, int folderCount, long totalFiles) {
    m_folderCounts = std::pair(foldersWithFiles, folderCount);
    m_fileCounts = std::pair(totalFiles, totalFiles);
    m_fileLabelsPending = true;
    if (m_displayIntervalMs == 0)
        showFileLabels();
}

void MoveController::surveyFinished(const fs::path& sourceParent) {
    showPendingHeading();
    showFileLabels();
    showFolder(sourceParent);
    m_form.ui.Label13->hide();
}

bool MoveController::cancelRequested() {
    return m_form.CancelFlag == 1;
}

void MoveController::folderStarted(const fs::path& folder) {
    m_pendingFolder = folder;
    m_pendingHeading = true;
    if (m_displayIntervalMs == 0)
        showPendingDisplay();
}

// Between two paints a run handles many files; only the labels' last texts reach the screen, so
// they are set at the paints (and at once when every yield paints).
void MoveController::fileProgress(long remaining, long total) {
    m_fileCounts = std::pair(remaining, total);
    m_fileLabelsPending = true;
    if (m_displayIntervalMs == 0)
        showFileLabels();
}

// Opened now, before the run moves it; decoded beside the run, which never waits for it.
void MoveController::previewRequested(const fs::path& file) {
    m_tally.fileStarted(file);
    m_form.PreviewPath = file;
    if (m_inlinePreview) {
        m_form.FitPreview();
        return;
    }
    // A request the decoder would drop unread is not worth opening a file for; but a file that is
    // no picture must not leave the picture before it in the box.
    if (!m_decoder->wantsRequest()) {
        if (!hasPictureReaderName(file))
            clearPreview();
        return;
    }
    m_decoder->request(openPicture(file), m_form.ui.Picture1->contentsRect().size(), m_generation);
}

// Pictures still being decoded are dropped when they arrive.
void MoveController::clearPreview() {
    ++m_generation;
    m_decoder->dropPending();
    m_form.ui.Image1->hide();
}

void MoveController::newNameChosen(const std::string& name) {
    m_tally.nameChosen(name);
    m_newName = name;
    m_fileLabelsPending = true;
    if (m_displayIntervalMs == 0)
        showFileLabels();
}

// Label4 keeps the last new name: a duplicate gets none.
void MoveController::duplicateFound(const fs::path&, const fs::path&) {
    m_tally.duplicateFound();
}

void MoveController::fileLeft() {
    m_tally.fileLeft();
}

void MoveController::showWhenDue() {
    if (m_sinceDisplay.isValid() && m_sinceDisplay.elapsed() < m_displayIntervalMs)
        return;
    showPendingDisplay();
}

// A folder passed between two showings is never read for the source pane: reading and laying out
// its list for every folder cost the run more than moving its pictures.
void MoveController::showPendingDisplay() {
    m_sinceDisplay.start();
    showFileLabels();
    if (!m_pendingFolder)
        return;
    const fs::path folder = std::move(*m_pendingFolder);
    m_pendingFolder.reset();
    showFolder(folder);
    if (std::exchange(m_pendingHeading, false))
        m_form.ui.Label10->setText(displayName(ownName(folder)));
}

// The folder entered last is named even when the display's pace passed it by: a cancel or a
// failure leaves it shown (a completed run names the source parent folder afterwards). Its list is
// not read for it.
void MoveController::showPendingHeading() {
    if (m_pendingFolder && std::exchange(m_pendingHeading, false))
        m_form.ui.Label10->setText(displayName(ownName(*m_pendingFolder)));
    m_pendingFolder.reset();
}

// QLabel leaves a label whose text does not change as it is.
void MoveController::showFileLabels() {
    if (!m_fileLabelsPending)
        return;
    m_fileLabelsPending = false;
    // Set once the survey display has shown a folder; a run without child folders leaves them.
    if (m_folderCounts)
        m_form.ui.Label6->setText(countText(m_folderCounts->first, m_folderCounts->second));
    if (m_fileCounts)
        m_form.ui.Label11->setText(countText(m_fileCounts->first, m_fileCounts->second));
    if (!m_newName.empty())
        m_form.ui.Label4->setText(displayName(m_newName));
}

fs::path MoveController::destination() {
    return m_form.ui.Dir2->path();
}

// The emptied folder is read afresh at the next showing, unless a later one is shown by then.
void MoveController::folderFinished(const fs::path& folder) {
    m_tally.folderFinished();
    refreshDestinationFiles(false);
    m_pendingFolder = folder;
    if (m_displayIntervalMs == 0)
        showPendingDisplay();
}

void MoveController::returnedToSourceParent(const fs::path& sourceParent) {
    showPendingHeading();
    showFolder(sourceParent);
}

// The list grows with every picture: reading tens of thousands of names takes tens of
// milliseconds, so the pause between two readings grows with the time one takes. The end of a run
// (`force`) reads it whatever was read before: pictures bound for another file system are named in
// batches, the last one after the last folder.
void MoveController::refreshDestinationFiles(bool force) {
    const qint64 interval =
        std::max(kDestinationListIntervalMs, kDestinationListShare * m_destinationListCostMs);
    if (!force && m_sinceDestinationListed.elapsed() < interval)
        return;
    QElapsedTimer listing;
    listing.start();
    (void)m_form.ui.File2->refresh();
    m_destinationListCostMs = listing.elapsed();
    m_sinceDestinationListed.start();
}

void MoveController::showDecoded(const PreparedPreview& prepared, std::uint64_t generation) {
    if (!m_running || generation != m_generation)
        return;
    if (prepared.image.isNull())
        m_form.ui.Image1->hide();
    else
        showPreview(m_form.ui.Image1, m_form.ui.Picture1->contentsRect(), prepared);
}

} // namespace corvalin
