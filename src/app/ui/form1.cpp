#include "app/ui/form1.h"

#include "app/error_text.h"
#include "app/message_box.h"
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/follow_drive.h"
#include "app/ui/screen_room.h"
#include "app/ui/scrolling_client.h"
#include "app/ui/ui_text.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QStatusBar>
#include <QTimer>

#include <utility>

namespace corvalin {

namespace fs = std::filesystem;

namespace {
const char* const kCutShortUndeletableText =
    "途中で切れた設定ファイルを削除できないため、終了します。このファイルを削除してから起動し直して下さい。";
} // namespace

Form1::Form1(Module1& vars, SettingsFiles files, MessageBox& messages, QWidget* parent)
    : QMainWindow(parent), m_vars(vars), m_files(std::move(files)), m_messages(messages) {
    ui.setupUi(this);
    showDesignedFolders();
    connectControls();
}

// Before start-up sets them, the panes show the working folder, as new folder lists do.
void Form1::showDesignedFolders() {
    const fs::path here = workingFolder();
    for (auto* folders : {ui.Dir1, ui.Dir2})
        (void)folders->setPath(here);
    for (auto* files : {ui.File1, ui.File2, ui.File3})
        (void)files->setPath(here);
    ui.Drive1->setDrive(here);
    ui.Drive2->setDrive(here);
}

void Form1::connectControls() {
    connect(ui.Drive1, &DriveList::driveChanged, this, &Form1::Drive1_Change);
    connect(ui.Drive2, &DriveList::driveChanged, this, &Form1::Drive2_Change);
    connect(ui.Dir1, &FolderList::folderChanged, this, &Form1::Dir1_Change);
    connect(ui.Dir2, &FolderList::folderChanged, this, &Form1::Dir2_Change);
    for (auto* folders : {ui.Dir1, ui.Dir2}) {
        connect(folders, &FolderList::openFailed, this, [this](const Error& error) {
            if (!isBusy())
                showError(error);
        });
    }
    connect(ui.File1, &FileList::fileClicked, this, &Form1::File1_Click);
    connect(ui.File2, &FileList::fileClicked, this, &Form1::File2_Click);
    connect(ui.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui.Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui.Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(ui.Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(ui.mnuOpt1, &QAction::triggered, this, &Form1::mnuOpt1_Click);
    connect(ui.mnuPlan, &QAction::triggered, this, &Form1::mnuPlan_Click);
    connect(ui.mnuHistory, &QAction::triggered, this, &Form1::mnuHistory_Click);
    connect(ui.mnuEnd, &QAction::triggered, this, &Form1::mnuEnd_Click);
    connect(ui.mnuHelp, &QAction::triggered, this, &Form1::mnuHelp_Click);
    connect(ui.mnuVer2, &QAction::triggered, this, &Form1::mnuVer2_Click);
}

bool Form1::Form_Load() {
    const StartupResult result = runStartup(m_vars, m_files);
    // What the start put in order after an unclean end; said before a window that will not open
    // ends, else once it is shown.
    const std::string recovered = describeUncleanEnd(result.uncleanEnd);
    const MessageIcon recoveredIcon =
        result.uncleanEnd.failures.empty() ? MessageIcon::Information : MessageIcon::Warning;
    if (result.outcome == StartupOutcome::EndProgram) {
        if (!recovered.empty())
            m_messages.show(recovered, MessageButtons::Ok, recoveredIcon);
        // Left in place, the cut-short file would end every later start without a word.
        if (result.writeError)
            m_messages.show(describeError(*result.writeError) + "\n\n" + kCutShortUndeletableText,
                            MessageButtons::Ok, MessageIcon::Warning);
        return false;
    }
    if (!recovered.empty()) {
        QTimer::singleShot(0, this, [this, recovered, recoveredIcon] {
            m_messages.show(recovered, MessageButtons::Ok, recoveredIcon);
        });
    }
    if (result.writeError) {
        const Error error = *result.writeError;
        QTimer::singleShot(0, this, [this, error] { showError(error); });
    }
    loadExtraOptions();
    if (result.outcome == StartupOutcome::Completed)
        applyInitialState();
    return true;
}

// An options file that cannot be read is said once the window shows; the dialog shows the defaults,
// and no run starts until they are confirmed there.
void Form1::loadExtraOptions() {
    const Result<ExtraOptions> loaded = corvalin::loadExtraOptions(m_files.extraOptionsFile());
    if (loaded) {
        m_extraOptions = loaded.value();
        return;
    }
    m_extraOptionsUnreadable = true;
    const Error error = loaded.error();
    QTimer::singleShot(0, this, [this, error] { showError(error); });
}

bool Form1::readExtraOptionsForRun() {
    const Result<ExtraOptions> loaded = corvalin::loadExtraOptions(m_files.extraOptionsFile());
    if (loaded) {
        m_extraOptions = loaded.value();
        m_extraOptionsUnreadable = false;
        m_extraOptionsChosen = false;
        return true;
    }
    // Chosen on the 「詳細」 tab, whose failed write was told then: those choices hold.
    if (m_extraOptionsChosen)
        return true;
    m_extraOptionsUnreadable = true;
    showError(loaded.error());
    return false;
}

void Form1::applyExtraOptions(const ExtraOptions& options) {
    // A file that could not be read is written anew, so that the next read finds these choices.
    const bool changed = !options.sameValues(m_extraOptions) || m_extraOptionsUnreadable;
    m_extraOptions = options;
    m_extraOptionsUnreadable = false;
    m_extraOptionsChosen = true;
    if (!changed)
        return;
    if (const Status written = saveExtraOptions(m_files.extraOptionsFile(), m_extraOptions); !written)
        showError(written.error());
}

Removal Form1::removal() const {
    return Removal(m_extraOptions.permanentDeletion);
}

// The window's initial state, in order; the first step that fails ends the sequence, and the
// controls not yet set keep their designed state.
bool Form1::applyInitialState() {
    ui.Picture1->setFrameStyle(QFrame::NoFrame);
    ui.Label7->hide();
    ui.Label12->hide();
    if (!showSavedFolder(ui.Dir1, m_vars.SourcePath, &Form1::Dir1_Change) ||
        !showSavedFolder(ui.Dir2, m_vars.DestPath, &Form1::Dir2_Change))
        return false;
    ui.Drive1->setDrive(m_vars.SourcePath);
    ui.Drive2->setDrive(m_vars.DestPath);
    if (!ui.Dir1->refresh() || !ui.Dir2->refresh())
        return false;
    ui.Label10->setText(displayName(ownName(ui.Dir1->path())));
    setBackground(ui.Label14, m_vars.OptFlags[0].isOn() ? kLightRed : kLightGreen);
    showFileCount();
    return true;
}

// Sets a folder list to a saved folder. When it already shows that folder no change event comes,
// but the file lists still re-read it: the start-up has just written a file there.
bool Form1::showSavedFolder(corvalin::FolderList* folders, const fs::path& folder,
                            void (Form1::*onChange)()) {
    const fs::path before = folders->path();
    if (!folders->setPath(folder))
        return false;
    if (folders->path() == before)
        (this->*onChange)();
    return true;
}

void Form1::Drive1_Change() {
    if (!isBusy())
        followDrive(ui.Drive1, ui.Dir1, m_messages);
}

void Form1::Drive2_Change() {
    if (!isBusy())
        followDrive(ui.Drive2, ui.Dir2, m_messages);
}

void Form1::Dir1_Change() {
    if (isBusy())
        return;
    const Status listed = ui.File1->setPath(ui.Dir1->path());
    if (!listed)
        showError(listed.error());
    // Nothing is surveyed for a folder just chosen, so no folder holds files yet.
    ui.Label6->setText(QStringLiteral("0/%1").arg(FolderList.size()));
}

void Form1::Dir2_Change() {
    if (isBusy())
        return;
    const fs::path folder = ui.Dir2->path();
    Status listed = ui.File2->setPath(folder);
    if (listed)
        listed = ui.File3->setPath(folder);
    if (!listed)
        showError(listed.error());
    showFileCount();
}

void Form1::showFileCount() {
    ui.Label15->setText(QString::number(ui.File2->entryCount()));
}

void Form1::mnuOpt1_Click() {
    if (!isBusy())
        frmOptions.show();
}

void Form1::mnuEnd_Click() {
    if (!isBusy())
        close();
}

void Form1::mnuHelp_Click() {
    if (!isBusy())
        Form4.show();
}

void Form1::mnuVer2_Click() {
    if (!isBusy())
        frmAbout.show();
}

void Form1::closeSecondaryWindows() {
    frmOptions.close();
    Form4.close();
    frmAbout.close();
    frmHistory.close();
    frmPlan.close();
}

bool Form1::beginRun() {
    if (m_runInProgress)
        return false;
    m_runInProgress = true;
    emit runStateChanged(true);
    return true;
}

bool Form1::beginStripRun() {
    if (!beginRun())
        return false;
    m_stripRun = true;
    return true;
}

void Form1::endRun() {
    m_runInProgress = false;
    m_stripRun = false;
    emit runStateChanged(false);
    if (std::exchange(m_workModePending, false)) {
        showChosenWorkMode();
        setBackground(ui.Label14, m_vars.OptFlags[0].isOn() ? kLightRed : kLightGreen);
    }
    if (m_closeRequested)
        close();
}

void Form1::showError(const Error& error) {
    m_messages.show(describeError(error), MessageButtons::Ok, MessageIcon::Warning);
}

void Form1::refreshPanes() {
    for (auto* folders : {ui.Dir1, ui.Dir2})
        (void)folders->refresh();
    for (auto* files : {ui.File1, ui.File2, ui.File3})
        (void)files->refresh();
    showFileCount();
}

// The status line appears with the first result and stays from then on, so that a window that has
// shown no result yet has no empty band, and one that has keeps its size from run to run.
void Form1::showRunResult(const std::string& line) {
    const QString text = toDisplay(line);
    ui.lblRunResult->setText(text);
    ui.lblRunResult->setToolTip(text.isEmpty() ? QString() : wrappedToolTip(text));
    if (text.isEmpty() || !statusBar()->isHidden())
        return;
    statusBar()->show();
    // The window grows for it, or on a small screen its client area gives the room.
    if (auto* scroller = qobject_cast<ScrollingClient*>(centralWidget()))
        scroller->fitScreen();
}

void Form1::clearRunDisplay() {
    ui.Label4->clear();
    PreviewPath.clear();
    ui.Image1->clear();
    ui.Image1->hide();
    ui.Picture1->setFrameStyle(QFrame::NoFrame);
    ui.Label12->hide();
    showRunResult({});
}

// Closing is never refused; during a run it waits until the run has stopped after the file in
// hand, so no picture is left half moved.
void Form1::closeEvent(QCloseEvent* event) {
    if (m_runInProgress) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    runShutdown();
    event->accept();
}

// Enter presses the focused button, as it does in dialogs.
void Form1::keyPressEvent(QKeyEvent* event) {
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        button->animateClick();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Form1::runShutdown() {
    if (m_shutdownDone)
        return;
    m_shutdownDone = true;
    m_vars.SourcePath = ui.Dir1->path();
    m_vars.DestPath = ui.Dir2->path();
    const Status written = writeShutdownFiles(m_vars, m_files);
    if (!written)
        showError(written.error());
    closeSecondaryWindows();
}

} // namespace corvalin
