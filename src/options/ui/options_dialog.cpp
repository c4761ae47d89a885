#include "options/ui/options_dialog.h"

#include "app/message_box.h"
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/follow_drive.h"
#include "app/ui/form1.h"
#include "app/ui/ui_text.h"
#include "options/folder_action.h"
#include "options/serial_number.h"
#include "options/stored_options.h"
#include "platform/file_ops.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QShortcut>

namespace corvalin {

namespace fs = std::filesystem;

namespace {
const char* const kRunInProgress = "実行中の処理が終わるまで、オプションは変更できません。";
const char* const kFolderActionWaits = "実行中の処理が終わるまで、フォルダの作成と削除はできません。";
} // namespace

frmOptions::frmOptions(Form1& form) : QDialog(&form), m_form(form) {
    ui.setupUi(this);
    showDesignedFolders();
    connectControls();
}

// A new maker shows the working folder, as new folder lists do.
void frmOptions::showDesignedFolders() {
    const fs::path here = workingFolder();
    (void)ui.Dir1->setPath(here);
    (void)ui.File1->setPath(here);
    ui.Drive1->setDrive(here);
}

void frmOptions::connectControls() {
    // A shortcut sees the key before the focused control does.
    auto* nextTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(nextTab, &QShortcut::activated, this, &frmOptions::Form_KeyDown);
    ui.tbsOptions->installEventFilter(this);
    // After the selection has moved, however it moved (a click, the keyboard).
    connect(ui.tbsOptions, &QTabWidget::currentChanged, this, &frmOptions::tbsOptions_Click);
    connect(ui.Check2, &QCheckBox::toggled, this, &frmOptions::Check2_Click);
    connect(ui.Drive1, &DriveList::driveChanged, this, &frmOptions::Drive1_Change);
    connect(ui.Dir1, &FolderList::folderChanged, this, &frmOptions::Dir1_Change);
    connect(ui.Dir1, &FolderList::openFailed, &m_form, &Form1::showError);
    for (int index = 0; index < static_cast<int>(ui.Option1.size()); ++index) {
        connect(ui.Option1[static_cast<std::size_t>(index)], &QRadioButton::toggled, this,
                [this, index](bool on) {
                    if (on)
                        Option1_Click(index);
                });
    }
    connect(ui.cmdOK, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(ui.cmdApply, &QPushButton::clicked, this, &frmOptions::cmdApply_Click);
    connect(ui.cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
}

void frmOptions::Form_Load() {
    centreOnScreen();
    showMakerPath(ui.Dir1->path());
    // A maker folder that is gone leaves the list where it is.
    (void)ui.Dir1->setPath(m_form.vars().MakerPath);
    const Module1& vars = m_form.vars();
    ui.Check1->setChecked(vars.OptFlags[0].isOn());
    ui.Text3->setText(QString::number(vars.SerialNo));
    ui.Check3->setChecked(vars.OptFlags[1].isOn());
    ui.Check4->setChecked(vars.OptFlags[2].isOn());
    const ExtraOptions& extra = m_form.extraOptions();
    ui.chkPermanentDelete->setChecked(extra.permanentDeletion);
    ui.chkPlanBeforeMove->setChecked(extra.planBeforeMove);
    ui.chkNotifyLongRuns->setChecked(extra.notifyLongRuns);
    ui.chkSkipDuplicates->setChecked(extra.skipDuplicates);
    for (PictureType type : kOptionalPictureTypes) {
        if (QCheckBox* box = ui.chkPictureType[static_cast<std::size_t>(type)])
            box->setChecked(extra.pictureTypes.contains(type));
    }
}

void frmOptions::centreOnScreen() {
    const QScreen* screen = m_form.screen() ? m_form.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

bool frmOptions::isCheck3Ticked() const {
    return ui.Check3->isChecked();
}

bool frmOptions::isCheck4Ticked() const {
    return ui.Check4->isChecked();
}

void frmOptions::Form_KeyDown() {
    const int count = ui.tbsOptions->count();
    const int selected = ui.tbsOptions->currentIndex();
    ui.tbsOptions->setCurrentIndex(selected + 1 >= count ? 0 : selected + 1);
    tbsOptions_Click();
}

// Each tab owns the page at its position; only the selected tab's page is in sight and usable. The
// maker's frame lies on the window itself, so it goes and comes back with the first page.
void frmOptions::tbsOptions_Click() {
    const int selected = ui.tbsOptions->currentIndex();
    m_extraTabShown = m_extraTabShown || selected == 1;
    for (int i = 0; i < ui.tbsOptions->count() && i < static_cast<int>(ui.picOptions.size()); ++i) {
        QWidget* page = ui.picOptions[static_cast<std::size_t>(i)];
        page->move(i == selected ? OptionsDialogUi::kPageLeft : OptionsDialogUi::kHiddenPageLeft, page->y());
        page->setEnabled(i == selected);
    }
    ui.Frame1->setVisible(selected == 0);
}

void frmOptions::Check2_Click() {
    ui.Text3->setEnabled(ui.Check2->isChecked());
}

void frmOptions::Drive1_Change() {
    followDrive(ui.Drive1, ui.Dir1, m_form.messages());
}

void frmOptions::Dir1_Change() {
    const Status listed = ui.File1->setPath(ui.Dir1->path());
    if (!listed)
        m_form.showError(listed.error());
    showMakerPath(ui.Dir1->path());
}

void frmOptions::Option1_Click(int) {
    ui.Text2->setEnabled(ui.Option1[0]->isChecked());
}

void frmOptions::showMakerPath(const fs::path& folder) {
    m_shownMakerPath = folder;
    m_shownMakerText = displayName(folder);
    ui.Text1->setText(m_shownMakerText);
}

fs::path frmOptions::makerParent() const {
    const QString text = ui.Text1->text();
    return text == m_shownMakerText ? m_shownMakerPath : fromUserText(text);
}

void frmOptions::cmdOK_Click() {
    if (applyOptions())
        unload();
}

void frmOptions::cmdApply_Click() {
    applyOptions();
}

void frmOptions::cmdCancel_Click() {
    unload();
}

void frmOptions::reject() {
    cmdCancel_Click();
}

void frmOptions::closeEvent(QCloseEvent* event) {
    event->accept();
}

void frmOptions::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
        button->click();
}

// The tab widget's own key handling would switch on Ctrl+Shift+Tab and Ctrl+Alt+Tab as well; Ctrl+Tab
// alone is the window's shortcut and never arrives here.
bool frmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui.tbsOptions && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

// Closed through the main window's slot when it holds this dialog, so that the next use loads a
// fresh one at once.
void frmOptions::unload() {
    if (m_form.frmOptions.window() == this)
        m_form.frmOptions.close();
    else
        close();
}

// The apply sequence of OK and Update. False when the dialog went away meanwhile (it lets events
// run) or a press arrived while the sequence was already running.
bool frmOptions::applyOptions() {
    if (m_applying)
        return false;
    // A strip run lets this dialog work while it runs and takes everything but the folder action
    // and the layout: deleting folders under it would take its files, and switching the layout its
    // Cancel button. Any other run closes the dialog as it starts and must not be changed at all.
    const bool stripRunning = m_form.stripRunInProgress();
    if (m_form.runInProgress() && !stripRunning) {
        m_form.messages().show(kRunInProgress, MessageButtons::Ok, MessageIcon::Information);
        return false;
    }
    m_applying = true;
    const QPointer<frmOptions> self(this);
    // First, so that the folder action already removes as the page now says.
    ExtraOptions extra = m_form.extraOptions();
    extra.permanentDeletion = ui.chkPermanentDelete->isChecked();
    extra.planBeforeMove = ui.chkPlanBeforeMove->isChecked();
    extra.notifyLongRuns = ui.chkNotifyLongRuns->isChecked();
    extra.skipDuplicates = ui.chkSkipDuplicates->isChecked();
    // A type without a box here (no plugin on this machine) keeps what the file says.
    for (PictureType type : kOptionalPictureTypes) {
        if (const QCheckBox* box = ui.chkPictureType[static_cast<std::size_t>(type)])
            extra.pictureTypes.set(type, box->isChecked());
    }
    // Options that could not be read are taken only from a page the user has seen: the boxes
    // show the defaults, not the user's choices.
    if (m_extraTabShown || !m_form.extraOptionsUnreadable())
        m_form.applyExtraOptions(extra);
    if (!self)
        return false;
    if (stripRunning)
        m_form.messages().show(kFolderActionWaits, MessageButtons::Ok, MessageIcon::Information);
    else
        ApplyFolderAction();
    if (!self)
        return false;
    ApplySerialNumber();
    Module1& vars = m_form.vars();
    const OptionTicks shown =
        storeOptions(vars, {ui.Check1->isChecked(), ui.Check3->isChecked(), ui.Check4->isChecked()});
    ui.Check3->setChecked(shown.check3);
    ui.Check4->setChecked(shown.check4);
    Form1& form = m_form;
    if (stripRunning)
        form.deferWorkMode();
    else
        form.showChosenWorkMode();
    QCoreApplication::processEvents();
    const bool deleteAfterMove = self ? ui.Check1->isChecked() : vars.OptFlags[0].isOn();
    setBackground(form.ui.Label14, deleteAfterMove ? kLightRed : kLightGreen);
    if (!self)
        return false;
    m_applying = false;
    return true;
}

void frmOptions::ApplySerialNumber() {
    const SerialTakeover taken = serialNumberFrom(ui.Text3->text().toStdString());
    m_form.vars().SerialNo = taken.serialNo;
    if (taken.showZero)
        ui.Text3->setText(QStringLiteral("0"));
}

void frmOptions::ApplyFolderAction() {
    FolderActionRequest request;
    if (ui.Option1[0]->isChecked()) {
        ui.Text2->setEnabled(true);
        request.choice = FolderChoice::Create;
    } else if (ui.Option1[1]->isChecked()) {
        ui.Text2->setEnabled(false);
        request.choice = FolderChoice::Delete;
    }
    request.parent = makerParent();
    request.countText = ui.Text2->text().toStdString();
    request.historyFolder = m_form.files().history();
    request.serialNo = m_form.vars().SerialNo;
    // While a message waits for the user, a shutdown may close (and destroy) this dialog.
    Module1& vars = m_form.vars();
    const QPointer<frmOptions> self(this);
    const FolderActionResult result =
        runFolderAction(request, m_form.messages(), ProtectedPlaces::ofThisSystem(), m_form.removal());
    if (result.makerPath)
        vars.MakerPath = *result.makerPath;
    if (self && result.refreshLists)
        refreshMakerLists();
}

// When the folder shown was deleted, the list moves up to the nearest folder that is left; Text1
// keeps the deleted folder, so a second press reports it missing rather than offering its parent.
void frmOptions::refreshMakerLists() {
    if (!ui.Dir1->refresh()) {
        const fs::path keptPath = m_shownMakerPath;
        const QString keptText = m_shownMakerText;
        const QString typed = ui.Text1->text();
        fs::path folder = ui.Dir1->path();
        while (!isFolder(folder) && folder.has_relative_path())
            folder = folder.parent_path();
        (void)ui.Dir1->setPath(folder);
        m_shownMakerPath = keptPath;
        m_shownMakerText = keptText;
        ui.Text1->setText(typed);
    }
    (void)ui.File1->refresh();
}

} // namespace corvalin
