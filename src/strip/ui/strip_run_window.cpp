#include "strip/ui/strip_run_window.h"

#include "app/error_text.h"
#include "app/message_box.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/run_end_notice.h"
#include "app/ui/ui_text.h"
#include "history/journal_messages.h"
#include "preview/ui/thumbnail_service.h"
#include "strip/strip_summary.h"

#include <QCoreApplication>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const renamingCaption = "リネーム中イメージ";
const char* const selectedCaption = "選択されたイメージ";
const char* const noSubfolderText =
    "サブフォルダが作れません。\r\nサブフォルダを削除してから実行して下さい。";

} // namespace

StripRunWindow::StripRunWindow(Form1& form, Kind kind)
    : m_form(form), m_kind(kind), m_ownButton(kind == Kind::InFolder ? form.ui.Command3 : form.ui.Command4),
      m_ownList(kind == Kind::InFolder ? form.ui.File2 : form.ui.File3) {}

void StripRunWindow::run() {
    // The folder the list was read from: that is Dir2's folder, unless re-reading it failed when it
    // was chosen; the names shown are then the only ones to act on.
    const fs::path folder = m_ownList->path();
    RunEndNotice::of(m_form).runStarted();
    if (!startJournal(folder))
        return;
    showRunning();
    if (m_kind == Kind::InFolder)
        finish(runInFolder(folder));
    else
        runIntoSubfolder(folder);
}

bool StripRunWindow::startJournal(const fs::path& folder) {
    RunStart start;
    start.kind = m_kind == Kind::InFolder ? RunKind::Strip : RunKind::StripIntoSubfolder;
    start.serialNo = m_form.vars().SerialNo;
    start.source = folder;
    return openRunJournal(m_form.messages(), m_form.files().history(), start, m_journal);
}

void StripRunWindow::showRunning() {
    m_form.ui.Command2->show();
    m_ownButton->hide();
    m_form.ui.Label12->setText(toDisplay(std::string(renamingCaption)));
    m_form.ui.Label12->show();
}

// The list as it stands now: navigating during the run changes nothing the run does.
StripOutcome StripRunWindow::runInFolder(const fs::path& folder) {
    std::vector<std::string> names;
    for (int j = 0; j < m_form.ui.File2->entryCount(); ++j)
        names.push_back(m_form.ui.File2->entry(j));
    return stripInFolder(folder, names, *this, journal());
}

void StripRunWindow::runIntoSubfolder(const fs::path& folder) {
    const Result<std::optional<StripFolders>> subfolder = createStripSubfolder(folder, journal());
    if (!subfolder || !subfolder.value()) {
        finishRunJournal(m_form.messages(), m_journal, subfolder ? kOutcomeCompleted : kOutcomeFailed);
        // Nothing was created and no file touched; the selection stays for the next try.
        if (subfolder)
            m_form.messages().show(noSubfolderText, MessageButtons::Ok, MessageIcon::None);
        else
            m_form.showError(subfolder.error());
        restoreHeading();
        restoreIdleLayout();
        return;
    }
    std::vector<std::string> selected;
    for (int k = 0; k < m_form.ui.File3->entryCount(); ++k) {
        if (m_form.ui.File3->isSelected(k))
            selected.push_back(m_form.ui.File3->entry(k));
    }
    m_subfolder = subfolder.value()->subfolder.path();
    finish(stripIntoSubfolder(*subfolder.value(), selected, *this, journal()));
}

// The end steps; a failure is told first, the files left as they were last, over the new lists.
void StripRunWindow::finish(const StripOutcome& outcome) {
    // Before any message: a user who looks elsewhere would not see one waiting over the window.
    RunEndNotice::of(m_form).runEnded(stripEndTitle(), stripSummary(outcome, m_subfolder));
    if (outcome.error)
        reportFailure(*outcome.error);
    const fs::path journalFile = m_journal ? m_journal->file() : fs::path();
    finishRunJournal(m_form.messages(), m_journal,
                     outcome.error     ? kOutcomeFailed
                     : outcome.stopped ? kOutcomeCancelled
                                       : kOutcomeCompleted,
                     outcome.error);
    ThumbnailService::of(m_form).follow(journalFile, JournalPass::Run);
    restoreHeading();
    refreshLists();
    restoreIdleLayout();
    m_form.ui.Label15->setText(QString::number(m_form.ui.File2->entryCount()));
    const std::string left = describeLeftFiles(outcome);
    if (!left.empty())
        m_form.messages().show(left, MessageButtons::Ok, MessageIcon::Information);
}

void StripRunWindow::reportFailure(const Error& error) {
    m_failureShown = true;
    m_form.messages().show(describeError(error) + "\n\n" + kStripStoppedText, MessageButtons::Ok,
                           MessageIcon::Warning);
}

// Both file lists show the folder, so both are re-read, and the folder list shows a new subfolder.
// A folder that vanished is reported once, not again here.
void StripRunWindow::refreshLists() {
    Status refreshed = m_form.ui.File2->refresh();
    if (refreshed)
        refreshed = m_form.ui.File3->refresh();
    if (refreshed && m_kind == Kind::IntoSubfolder)
        refreshed = m_form.ui.Dir2->refresh();
    if (!refreshed && !m_failureShown)
        m_form.showError(refreshed.error());
}

void StripRunWindow::restoreHeading() {
    m_form.ui.Label12->hide();
    m_form.ui.Label12->setText(toDisplay(std::string(selectedCaption)));
}

void StripRunWindow::restoreIdleLayout() {
    m_form.CancelFlag = 0;
    m_form.ui.Command2->setEnabled(true);
    m_form.ApplyWorkMode();
    // The options dialog may have chosen another mode meanwhile; then this button stays hidden, so
    // that never two start buttons lie on top of each other.
    if (m_ownList->isVisibleTo(&m_form) && !m_form.ui.Command1->isVisibleTo(&m_form))
        m_ownButton->show();
    m_form.ui.Command2->hide();
}

void StripRunWindow::yield() {
    QCoreApplication::processEvents();
}

bool StripRunWindow::cancelRequested() {
    return m_form.CancelFlag != 0;
}

bool StripRunWindow::stopRequested() {
    return m_form.closeRequested();
}

void StripRunWindow::newName(const std::string& name) {
    m_form.ui.Label4->setText(displayName(name));
}

void StripRunWindow::previewRequested(const fs::path& file) {
    m_form.PreviewPath = file;
    m_form.FitPreview();
}

void StripRunWindow::progress(int remaining, int total) {
    m_form.ui.Label11->setText(QStringLiteral("%1/%2").arg(remaining).arg(total));
}

} // namespace corvalin
