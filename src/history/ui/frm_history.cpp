#include "history/ui/frm_history.h"

#include "app/error_text.h"
#include "app/message_box.h"
#include "app/ui/accessibility.h"
#include "app/ui/elided_label.h"
#include "app/ui/form1.h"
#include "app/ui/screen_room.h"
#include "app/ui/ui_text.h"
#include "history/history_texts.h"
#include "preview/ui/thumbnail_service.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>

namespace corvalin {

namespace {

constexpr int kYieldIntervalMs = 15;

// Each column's heading and what it counts, in full for its tool tip.
const std::pair<const char*, const char*> kColumns[] = {
    {"日時", "実行を始めた日時"},
    {"種類", "移動、番号の削除、フォルダ作成、フォルダ削除"},
    {"移動元", "移動元親フォルダ（番号の削除ではそのフォルダ、フォルダの作成と削除では親フォルダ）"},
    {"移動先", "移動先フォルダ"},
    {"画像", "移動した画像、または通し番号を切り取ったファイルの数"},
    {"ごみ箱へ", "ごみ箱へ移したファイルの数（ごみ箱を使わずに削除したものは括弧の中）"},
    {"削除フォルダ", "削除したフォルダの数"},
    {"作成フォルダ", "作成したフォルダの数"},
    {"通し番号", "この実行で使った通し番号"},
    {"状態", "完了、中断、取り消し済みなど"}};

// Long paths would push the counts out of sight; the whole path is in the cell's tool tip.
constexpr int kWidestPathColumn = 240;

QString count(int value) {
    return QString::number(value);
}

QStringList rowTexts(const RunSummary& run) {
    QString trashed = count(run.filesTrashed);
    if (run.filesDeleted > 0)
        trashed += QStringLiteral("（完全に削除 %1）").arg(run.filesDeleted);
    const bool damaged = run.state == RunState::Damaged;
    return {toDisplay(dateTimeText(run.time)),
            damaged ? QString() : toDisplay(kindText(run.kind)),
            toDisplay(run.source),
            toDisplay(run.destination),
            count(run.picturesMoved + run.filesRenamed),
            trashed,
            count(run.foldersRemoved),
            count(run.foldersMade),
            toDisplay(serialRangeText(run)),
            toDisplay(stateText(run.state))};
}

template <class T> T* named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

frmHistory::frmHistory(Form1& form, QWidget* parent) : QDialog(parent), m_form(form) {
    setupUi();
    connect(cmdUndo, &QPushButton::clicked, this, &frmHistory::cmdUndo_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmHistory::cmdCancel_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmHistory::cmdClose_Click);
    connect(lvwRuns, &QTreeWidget::currentItemChanged, this, &frmHistory::showChosenRun);
}

void frmHistory::showChosenRun() {
    const RunSummary* run = chosenRun();
    cmdUndo->setEnabled(run != nullptr && !m_undoing);
    const std::string ending = run ? journalEndTextOf(*run) : std::string();
    lblJournalEnd->setText(toDisplay(ending));
    lblJournalEnd->setVisible(!ending.empty());
}

void frmHistory::setupUi() {
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("履歴"));
    lvwRuns = named(new QTreeWidget(this), "lvwRuns");
    lvwRuns->setRootIsDecorated(false);
    lvwRuns->setUniformRowHeights(true);
    lvwRuns->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwRuns->setTextElideMode(Qt::ElideMiddle);
    auto* header = new QTreeWidgetItem;
    for (int column = 0; column < int(std::size(kColumns)); ++column) {
        header->setText(column, QString::fromUtf8(kColumns[column].first));
        header->setToolTip(column, QString::fromUtf8(kColumns[column].second));
    }
    lvwRuns->setHeaderItem(header);
    lblNote = named(new QLabel(toDisplay(std::string(kSerialNumbersKeptText)), this), "lblNote");
    lblJournalEnd = named(new QLabel(this), "lblJournalEnd");
    lblJournalEnd->setTextFormat(Qt::PlainText);
    lblJournalEnd->setWordWrap(true);
    lblJournalEnd->hide();
    lblProgress = named(new ElidedLabel(this), "lblProgress");
    lblProgress->setTextFormat(Qt::PlainText);
    prgUndo = named(new QProgressBar(this), "prgUndo");
    cmdUndo = named(new QPushButton(QStringLiteral("元に戻す"), this), "cmdUndo");
    cmdCancel = named(new QPushButton(QStringLiteral("キャンセル"), this), "cmdCancel");
    cmdClose = named(new QPushButton(QStringLiteral("閉じる"), this), "cmdClose");
    for (QPushButton* button : {cmdUndo, cmdCancel, cmdClose})
        button->setAutoDefault(false); // Return never starts an undo by accident
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblProgress, 1);
    buttons->addWidget(cmdUndo);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lvwRuns, 1);
    layout->addWidget(lblNote);
    layout->addWidget(lblJournalEnd);
    layout->addWidget(prgUndo);
    layout->addLayout(buttons);
    // Named for a screen reader after the window and the button whose progress it shows.
    nameControl(lvwRuns, windowTitle());
    nameControl(prgUndo, cmdUndo->text());
    setTabOrder(lvwRuns, cmdUndo);
    setTabOrder(cmdUndo, cmdClose);
    resize(960, 400);
    keepWithinScreen(this);
    showUndoing(false);
}

void frmHistory::Form_Load() {
    const Result<std::vector<RunSummary>> runs = listRuns(m_form.files().history());
    if (!runs)
        lblProgress->setText(toDisplay(describeError(runs.error())));
    fillRuns(runs ? runs.value() : std::vector<RunSummary>{});
}

void frmHistory::fillRuns(const std::vector<RunSummary>& runs) {
    m_runs = runs;
    lvwRuns->clear();
    for (const RunSummary& run : m_runs) {
        auto* item = new QTreeWidgetItem(rowTexts(run));
        for (const int path : {2, 3})
            item->setToolTip(path, wrappedToolTip(item->text(path)));
        lvwRuns->addTopLevelItem(item);
    }
    for (int column = 0; column < lvwRuns->columnCount(); ++column) {
        lvwRuns->resizeColumnToContents(column);
        if (column == 2 || column == 3)
            lvwRuns->setColumnWidth(column, std::min(lvwRuns->columnWidth(column), kWidestPathColumn));
    }
    if (lvwRuns->topLevelItemCount() > 0)
        lvwRuns->setCurrentItem(lvwRuns->topLevelItem(0));
    showChosenRun();
}

// The list read again with the same run chosen, so that its new state shows where it was.
void frmHistory::reloadKeeping(const std::string& id) {
    Form_Load();
    for (std::size_t row = 0; row < m_runs.size(); ++row) {
        if (m_runs[row].id == id)
            lvwRuns->setCurrentItem(lvwRuns->topLevelItem(static_cast<int>(row)));
    }
}

const RunSummary* frmHistory::chosenRun() const {
    const int row = lvwRuns->indexOfTopLevelItem(lvwRuns->currentItem());
    return row >= 0 && row < static_cast<int>(m_runs.size()) ? &m_runs[static_cast<std::size_t>(row)]
                                                             : nullptr;
}

// Like the main window's menu entries, it does nothing while a run is in progress.
void frmHistory::cmdUndo_Click() {
    const RunSummary* chosen = chosenRun();
    if (!chosen || m_undoing || m_form.isBusy() || m_form.runInProgress())
        return;
    const RunSummary run = *chosen;
    if (run.damage) {
        m_form.showError(*run.damage);
        return;
    }
    if (!m_form.readExtraOptionsForRun())
        return;
    if (!confirmUndo(run) || !m_form.beginRun())
        return;
    m_form.BusyFlag = OptionValue::number(1);
    m_form.frmOptions.close(); // its folder action is a run of its own
    showUndoing(true);
    const UndoOutcome outcome = undoRun(run.file, *this);
    ThumbnailService::of(m_form).follow(run.file, JournalPass::Undo);
    m_form.BusyFlag = OptionValue::number(0);
    showUndoing(false);
    m_form.refreshPanes();
    m_form.clearRunDisplay();
    if (!m_form.closeRequested())
        tellOutcome(outcome);
    reloadKeeping(run.id);
    m_form.endRun();
}

bool frmHistory::confirmUndo(const RunSummary& run) {
    return m_form.messages().show(undoQuestion(run), MessageButtons::YesNo, MessageIcon::Warning) ==
           MessageAnswer::Yes;
}

void frmHistory::tellOutcome(const UndoOutcome& outcome) {
    std::string text = describeUndo(outcome);
    if (outcome.error)
        text = describeError(*outcome.error) + "\n\n" + text;
    m_form.messages().show(text, MessageButtons::Ok,
                           outcome.error || !outcome.left.empty() ? MessageIcon::Warning
                                                                  : MessageIcon::Information);
}

void frmHistory::showUndoing(bool undoing) {
    m_undoing = undoing;
    m_cancel = false;
    m_sinceYield.invalidate();
    lvwRuns->setEnabled(!undoing);
    cmdUndo->setVisible(!undoing);
    cmdUndo->setEnabled(!undoing && chosenRun() != nullptr);
    cmdClose->setVisible(!undoing);
    cmdCancel->setVisible(undoing);
    cmdCancel->setEnabled(true);
    prgUndo->setVisible(undoing);
    prgUndo->setValue(0);
    lblProgress->setText(QString());
}

void frmHistory::cmdCancel_Click() {
    m_cancel = true;
    cmdCancel->setEnabled(false);
}

void frmHistory::cmdClose_Click() {
    close();
}

// Closing the window during an undo asks it to stop; the window stays until it has.
void frmHistory::closeEvent(QCloseEvent* event) {
    if (m_undoing) {
        cmdCancel_Click();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmHistory::reject() {
    if (m_undoing)
        cmdCancel_Click();
    else
        QDialog::reject();
}

void frmHistory::yield() {
    if (m_sinceYield.isValid() && m_sinceYield.elapsed() < kYieldIntervalMs)
        return;
    QCoreApplication::processEvents();
    m_sinceYield.start();
}

bool frmHistory::cancelRequested() {
    return m_cancel;
}

bool frmHistory::stopRequested() {
    return m_form.closeRequested();
}

void frmHistory::itemStarted(const std::filesystem::path& item) {
    lblProgress->setText(toDisplay(item));
}

void frmHistory::progress(int done, int total) {
    prgUndo->setMaximum(total);
    prgUndo->setValue(done);
}

QWidget* createHistoryWindow(Form1& form) {
    auto* window = new frmHistory(form, &form);
    window->Form_Load();
    return window;
}

} // namespace corvalin
