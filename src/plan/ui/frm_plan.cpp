#include "plan/ui/frm_plan.h"

#include "app/ui/accessibility.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/screen_room.h"
#include "app/ui/ui_text.h"
#include "app/ui/wrapping_text.h"
#include "engine/ui/move_controller.h"
#include "plan/plan_text.h"
#include "plan/ui/plan_models.h"
#include "plan/ui/plan_thumbnails.h"
#include "platform/file_ops.h"
#include "platform/program_folder.h"
#include "preview/ui/thumbnail_service.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

template <class T> T* named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QString joinedLines(const std::vector<std::string>& lines) {
    QStringList texts;
    for (const std::string& line : lines)
        texts << toDisplay(line);
    return texts.join(QLatin1Char('\n'));
}

} // namespace

frmPlan::frmPlan(Form1& form, Use use, QWidget* parent)
    : QDialog(parent), m_form(form), m_use(use), m_pictures(makePicturesModel(this)),
      m_removals(makeRemovalsModel(this)), m_duplicates(makeDuplicatesModel(this)),
      m_folders(makeFoldersModel(this)), m_problems(makeProblemsModel(this)) {
    setupUi();
    thumbnails = new PlanThumbnails(tabTables, tblPictures, tblDuplicates,
                                    ThumbnailService::of(form).workers(), form.extraOptions().planThumbnails);
    connect(thumbnails, &PlanThumbnails::shownChanged, this, [this](bool shown) {
        ExtraOptions options = m_form.extraOptions();
        options.planThumbnails = shown;
        m_form.applyExtraOptions(options);
    });
    connect(cmdRun, &QPushButton::clicked, this, &frmPlan::cmdRun_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmPlan::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmPlan::cmdCancel_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmPlan::cmdClose_Click);
    showPlanning(false);
    cmdRun->setEnabled(false);
    cmdSave->setEnabled(false);
}

void frmPlan::setupUi() {
    setObjectName(QStringLiteral("frmPlan"));
    setWindowTitle(QStringLiteral("移動の予定"));
    resize(780, 540);
    keepWithinScreen(this);
    auto* layout = new QVBoxLayout(this);
    // Wrapped anywhere: a long path in the summary must not widen the window past the screen.
    lblSummary = named(new WrappingText(this), "lblSummary");
    nameControl(lblSummary, windowTitle());
    layout->addWidget(lblSummary);
    tabTables = named(new QTabWidget(this), "tabTables");
    layout->addWidget(tabTables, 1);
    tblPictures = addTable(QStringLiteral("移動する画像"), "tblPictures", m_pictures, 360);
    tblRemovals = addTable(QStringLiteral("削除するファイル"), "tblRemovals", m_removals, 560);
    tblDuplicates = addTable(QStringLiteral("同じ内容の画像"), "tblDuplicates", m_duplicates, 360);
    tblFolders = addTable(QStringLiteral("削除する子フォルダ"), "tblFolders", m_folders, 360);
    tblProblems = addTable(QStringLiteral("問題"), "tblProblems", m_problems, 120);
    auto* buttons = new QHBoxLayout;
    cmdCancel = named(new QPushButton(QStringLiteral("取り消し"), this), "cmdCancel");
    cmdCancel->setToolTip(QStringLiteral("予定の作成をやめます。何も変更しません。"));
    cmdRun = named(new QPushButton(QStringLiteral("実行"), this), "cmdRun");
    cmdRun->setToolTip(QStringLiteral("この窓を閉じて、「ファイル移動」と同じように移動を始めます。"));
    cmdSave = named(new QPushButton(QStringLiteral("保存..."), this), "cmdSave");
    cmdSave->setToolTip(QStringLiteral("予定を CSV ファイルに保存します。"));
    cmdClose = named(new QPushButton(QStringLiteral("閉じる"), this), "cmdClose");
    buttons->addWidget(cmdCancel);
    buttons->addStretch(1);
    for (QPushButton* button : {cmdRun, cmdSave, cmdClose})
        buttons->addWidget(button);
    layout->addLayout(buttons);
}

// Rows of one height and no per-row sizing, so that 100,000 rows scroll without a pause.
QTableView* frmPlan::addTable(const QString& caption, const char* name, PlanTableModel* model,
                              int firstColumnWidth) {
    auto* table = named(new QTableView(tabTables), name);
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab goes on to the buttons, as everywhere else; the arrows move from row to row.
    table->setTabKeyNavigation(false);
    table->setWordWrap(false);
    // The name at the end of a long path is what tells rows apart.
    table->setTextElideMode(Qt::ElideMiddle);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table->horizontalHeader()->setDefaultSectionSize(180);
    table->horizontalHeader()->resizeSection(0, firstColumnWidth);
    table->horizontalHeader()->setStretchLastSection(true);
    tabTables->addTab(table, caption);
    nameControl(table, caption);
    return table;
}

void frmPlan::showPlanning(bool planning) {
    cmdCancel->setVisible(planning);
    cmdRun->setEnabled(!planning && m_plan && m_plan->outcome != MoveOutcome::Cancelled);
    cmdSave->setEnabled(!planning && m_plan && m_plan->outcome != MoveOutcome::Cancelled);
    if (planning)
        lblSummary->setText(QStringLiteral("フォルダ構成を調査中です。何も変更しません..."));
}

void frmPlan::makePlan() {
    if (m_planning)
        return;
    // No run starts inside the plan's event handling, nor a plan inside a run.
    if (!m_form.beginRun()) {
        lblSummary->setText(QStringLiteral("実行中の処理が終わるまで、予定は作れません。"));
        return;
    }
    // The plan goes by the options the run would take.
    if (!m_form.readExtraOptionsForRun()) {
        m_form.endRun();
        lblSummary->setText(QStringLiteral("設定ファイルが読めないため、予定は作れません。"));
        return;
    }
    m_planning = true;
    m_cancel = false;
    showPlanning(true);
    const PlanRequest request{m_form.ui.Dir1->path(),
                              m_form.ui.Dir2->path(),
                              m_form.vars().OptFlags[0].isOn(),
                              m_form.extraOptions().permanentDeletion,
                              m_form.extraOptions().pictureTypes,
                              m_form.extraOptions().skipDuplicates};
    const PlanProgress progress{[this](int folders, long files) {
                                    if (folders > 0)
                                        lblSummary->setText(
                                            QStringLiteral("フォルダ構成を調査中です。何も変更しません...\n"
                                                           "子フォルダ %1 個、ファイル %2 個")
                                                .arg(folders)
                                                .arg(files));
                                    QCoreApplication::processEvents();
                                },
                                [this] {
                                    return m_cancel || m_form.closeRequested();
                                }};
    m_plan = std::make_shared<const MovePlan>(makeMovePlan(m_form.vars(), m_form.files(), request, progress));
    m_planning = false;
    showPlan();
    const QPointer<frmPlan> self(this);
    m_form.endRun(); // closes the main window when that was asked for meanwhile
    if (self && (m_closeAfterPlan || m_form.closeRequested()))
        cmdClose_Click();
}

void frmPlan::showPlan() {
    for (PlanTableModel* model : {m_pictures, m_removals, m_duplicates, m_folders, m_problems})
        model->setPlan(m_plan);
    thumbnails->setPlan(m_plan);
    lblSummary->setText(joinedLines(planSummary(*m_plan)));
    const std::size_t counts[] = {m_plan->pictures.size(), m_plan->removals.size(), m_plan->duplicates.size(),
                                  m_plan->folders.size(), m_plan->problems.size()};
    const QString captions[] = {QStringLiteral("移動する画像"), QStringLiteral("削除するファイル"),
                                QStringLiteral("同じ内容の画像"), QStringLiteral("削除する子フォルダ"),
                                QStringLiteral("問題")};
    // The duplicates' tab only where the option is on, so that a plan without it looks as before.
    tabTables->setTabVisible(2, m_plan->skipDuplicates);
    for (int i = 0; i < 5; ++i)
        tabTables->setTabText(i, QStringLiteral("%1 (%2)").arg(captions[i]).arg(counts[i]));
    showPlanning(false);
}

bool frmPlan::savePlan(const fs::path& file) {
    if (!m_plan)
        return false;
    const Status written = writeFileAtomically(file, planCsv(*m_plan), Durability::ProcessCrash);
    if (!written)
        m_form.showError(written.error());
    return written.ok();
}

void frmPlan::cmdRun_Click() {
    if (m_planning || !m_plan)
        return;
    if (m_use == Use::BeforeMove) {
        accept();
        return;
    }
    Form1& form = m_form;
    form.frmPlan.close();
    // After this window's handler has returned: the run lets events through for a long time.
    QTimer::singleShot(0, &form, [&form] { MoveController::of(form).runMove(); });
}

void frmPlan::cmdSave_Click() {
    if (m_planning || !m_plan)
        return;
    // Offered in the home folder: the working folder is the source parent folder, which the run empties.
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("予定の保存"),
                                                        displayName(homeFolder() / "移動の予定.csv"),
                                                        QStringLiteral("CSV ファイル (*.csv)"));
    if (!chosen.isEmpty())
        savePlan(fromUserText(chosen));
}

void frmPlan::cmdCancel_Click() {
    m_cancel = true;
}

// While the plan is made its own code is on the stack: the window goes once the plan has stopped.
void frmPlan::cmdClose_Click() {
    if (m_planning) {
        m_cancel = true;
        m_closeAfterPlan = true;
        return;
    }
    if (m_use == Use::BeforeMove)
        QDialog::reject();
    else if (m_form.frmPlan.window() == this)
        m_form.frmPlan.close();
    else
        close();
}

void frmPlan::closeEvent(QCloseEvent* event) {
    if (!m_planning) {
        event->accept();
        return;
    }
    m_cancel = true;
    m_closeAfterPlan = true;
    event->ignore();
}

void frmPlan::reject() {
    cmdClose_Click();
}

QWidget* createPlanWindow(Form1& form) {
    auto* window = new frmPlan(form, frmPlan::Use::FromMenu, &form);
    QTimer::singleShot(0, window, &frmPlan::makePlan);
    return window;
}

bool confirmMoveByPlan(Form1& form) {
    frmPlan window(form, frmPlan::Use::BeforeMove, &form);
    window.setModal(true);
    QTimer::singleShot(0, &window, &frmPlan::makePlan);
    return window.exec() == QDialog::Accepted;
}

} // namespace corvalin
