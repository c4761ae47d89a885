#include "plan/ui/plan_thumbnails.h"

#include "plan/plan_pictures.h"
#include "plan/ui/large_picture.h"
#include "plan/ui/picture_grid.h"
#include "plan/ui/plan_models.h"
#include "plan/ui/thumbnail_store.h"
#include "preview/thumbnail_names.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>

#include <algorithm>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// By the picture's bytes: a name that is not UTF-8 keeps them in the URI.
void openWithDesktop(const fs::path& file) {
    QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(fileUri(file))));
}

void offerToOpen(QAbstractItemView* view, const QPoint& place, const fs::path& file) {
    if (file.empty())
        return;
    QMenu menu(view);
    menu.addAction(QStringLiteral("既定のアプリで開く"), view, [file] { openWithDesktop(file); });
    menu.exec(view->viewport()->mapToGlobal(place));
}

} // namespace

PlanThumbnails::PlanThumbnails(QTabWidget* tabs, QTableView* pictures, QTableView* duplicates,
                               ThumbnailWorkers& workers, bool shown)
    : QObject(tabs), m_pictures(pictures), m_duplicates(duplicates),
      m_duplicatesModel(qobject_cast<PlanTableModel*>(duplicates->model())),
      m_pictureStore(new ThumbnailStore(workers, this)), m_duplicateStore(new ThumbnailStore(workers, this)) {
    m_plainRowHeight = duplicates->verticalHeader()->defaultSectionSize();
    // Made at the screen's own pixels: 256 of them for 128 points on a screen of two a point.
    for (ThumbnailStore* store : {m_pictureStore, m_duplicateStore})
        store->setBox(store->box(), tabs->devicePixelRatioF());
    buildPicturesPage(tabs);
    chkThumbnails = new QCheckBox(QStringLiteral("画像で表示"), tabs);
    chkThumbnails->setObjectName(QStringLiteral("chkThumbnails"));
    chkThumbnails->setToolTip(QStringLiteral("移動する画像と同じ内容の画像を、縮小画像で表示します。"));
    chkThumbnails->setChecked(shown);
    tabs->setCornerWidget(chkThumbnails, Qt::TopRightCorner);
    connect(chkThumbnails, &QCheckBox::toggled, this, [this](bool on) {
        show(on);
        emit shownChanged(on);
    });
    // Scrolled, resized, another tab: asked for once the events of the moment are handled.
    m_screenMoved.setSingleShot(true);
    m_screenMoved.setInterval(0);
    connect(&m_screenMoved, &QTimer::timeout, this, &PlanThumbnails::wantWhatIsOnScreen);
    connect(lstPictures, &PictureGrid::screenMoved, &m_screenMoved, qOverload<>(&QTimer::start));
    connect(tabs, &QTabWidget::currentChanged, &m_screenMoved, qOverload<>(&QTimer::start));
    connect(m_duplicates->verticalScrollBar(), &QScrollBar::valueChanged, &m_screenMoved,
            qOverload<>(&QTimer::start));
    connect(m_pictureStore, &ThumbnailStore::changed, this,
            [this](int item) { lstPictures->update(lstPictures->model()->index(item, 1)); });
    connect(m_duplicateStore, &ThumbnailStore::changed, this,
            [this](int item) { m_duplicates->update(m_duplicatesModel->index(item / 2, item % 2)); });
    m_duplicates->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_duplicates, &QWidget::customContextMenuRequested, this, [this](const QPoint& place) {
        const QModelIndex cell = m_duplicates->indexAt(place);
        if (cell.isValid())
            offerToOpen(m_duplicates, place, duplicatesFile(2 * cell.row() + (cell.column() == 1 ? 1 : 0)));
    });
    show(shown);
}

// The table and the grid share the tab, one at a time; the grid has the larger view beside it.
void PlanThumbnails::buildPicturesPage(QTabWidget* tabs) {
    const int tab = tabs->indexOf(m_pictures);
    const QString caption = tabs->tabText(tab);
    const bool current = tabs->currentIndex() == tab;
    tabs->removeTab(tab);
    stkPictures = new QStackedWidget(tabs);
    stkPictures->setObjectName(QStringLiteral("stkPictures"));
    stkPictures->addWidget(m_pictures);
    auto* splitter = new QSplitter(Qt::Horizontal, stkPictures);
    lstPictures = new PictureGrid(*m_pictureStore, splitter);
    lstPictures->setObjectName(QStringLiteral("lstPictures"));
    lstPictures->setAccessibleName(QStringLiteral("移動する画像（縮小画像）"));
    lstPictures->setModel(m_pictures->model());
    lstPictures->setModelColumn(1); // the new name under each picture
    picLarger = new LargePicture(splitter);
    picLarger->setAccessibleName(QStringLiteral("選んだ画像"));
    splitter->addWidget(lstPictures);
    splitter->addWidget(picLarger);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    stkPictures->addWidget(splitter);
    tabs->insertTab(tab, stkPictures, caption);
    if (current)
        tabs->setCurrentIndex(tab);
    connect(lstPictures->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { showChosenPicture(current.row()); });
    connect(m_pictures->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.row() != lstPictures->currentIndex().row())
                    lstPictures->setCurrentIndex(lstPictures->model()->index(current.row(), 1));
            });
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(lstPictures), static_cast<QAbstractItemView*>(m_pictures)}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& place) {
            const QModelIndex cell = view->indexAt(place);
            if (cell.isValid())
                offerToOpen(view, place, pictureFile(cell.row()));
        });
    }
}

void PlanThumbnails::setPlan(std::shared_ptr<const MovePlan> plan) {
    m_plan = std::move(plan);
    m_twins = m_plan ? twinsBeforeTheRun(*m_plan) : std::vector<std::string>();
    m_pictureStore->reset(m_plan ? static_cast<int>(m_plan->pictures.size()) : 0,
                          [this](int row) { return pictureFile(row); });
    m_duplicateStore->reset(m_plan ? 2 * static_cast<int>(m_plan->duplicates.size()) : 0,
                            [this](int item) { return duplicatesFile(item); });
    picLarger->showPicture({}, {});
    m_screenMoved.start();
}

bool PlanThumbnails::isShown() const {
    return chkThumbnails->isChecked();
}

bool PlanThumbnails::screenComplete() const {
    const PictureGrid::Screen screen = lstPictures->screen();
    for (int item = screen.first; item <= screen.last; ++item) {
        if (!m_pictureStore->isMade(item) && !m_pictureStore->isFailed(item))
            return false;
    }
    return true;
}

void PlanThumbnails::show(bool shown) {
    stkPictures->setCurrentIndex(shown ? 1 : 0);
    const QSize box = m_duplicateStore->box();
    if (shown)
        m_duplicatesModel->setDecoration([this](int row, int column) {
            return column < 2 ? QVariant(m_duplicateStore->pixmap(2 * row + column)) : QVariant();
        });
    else
        m_duplicatesModel->setDecoration({});
    m_duplicates->setIconSize(box);
    // Room for the twin's name beside its picture.
    QHeaderView* columns = m_duplicates->horizontalHeader();
    if (shown)
        columns->resizeSection(1, std::max(columns->sectionSize(1), box.width() + 200));
    m_duplicates->verticalHeader()->setDefaultSectionSize(shown ? box.height() + 8 : m_plainRowHeight);
    m_duplicates->viewport()->update();
    m_screenMoved.start();
}

void PlanThumbnails::showChosenPicture(int row) {
    if (!m_plan || row < 0 || std::size_t(row) >= m_plan->pictures.size()) {
        picLarger->showPicture({}, {});
        return;
    }
    m_pictures->selectRow(row);
    QAbstractItemModel* model = m_pictures->model();
    picLarger->showPicture(pictureFile(row), model->index(row, 1).data().toString() + QLatin1Char('\n') +
                                                 model->index(row, 0).data().toString());
}

// Only what is on the screen and the next screen is made; a view not shown wants nothing.
void PlanThumbnails::wantWhatIsOnScreen() {
    const bool shown = isShown();
    const PictureGrid::Screen screen =
        shown && lstPictures->isVisible() ? lstPictures->screen() : PictureGrid::Screen();
    m_pictureStore->want(screen.first, screen.ahead);
    const int rows = m_duplicatesModel->rowCount();
    if (!shown || !m_duplicates->isVisible() || rows == 0) {
        m_duplicateStore->want(0, -1);
        return;
    }
    const int top = std::max(0, m_duplicates->rowAt(0));
    const int bottom = m_duplicates->rowAt(m_duplicates->viewport()->height() - 1);
    const int last = bottom < 0 ? rows - 1 : bottom;
    m_duplicateStore->want(2 * top, 2 * std::min(rows - 1, 2 * last - top + 1) + 1);
}

fs::path PlanThumbnails::pictureFile(int row) const {
    return m_plan && row >= 0 && std::size_t(row) < m_plan->pictures.size()
               ? fs::path(m_plan->pictures[std::size_t(row)].from)
               : fs::path();
}

// Item 2r is the duplicate of row r, item 2r + 1 the picture it equals.
fs::path PlanThumbnails::duplicatesFile(int item) const {
    const std::size_t row = std::size_t(item / 2);
    if (!m_plan || item < 0 || row >= m_plan->duplicates.size())
        return {};
    return item % 2 == 0 ? fs::path(m_plan->duplicates[row].path) : fs::path(m_twins[row]);
}

} // namespace corvalin
