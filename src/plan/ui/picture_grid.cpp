#include "plan/ui/picture_grid.h"

#include "plan/ui/thumbnail_store.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace corvalin {

namespace {

constexpr int kMargin = 6;

} // namespace

PictureGrid::PictureGrid(ThumbnailStore& store, QWidget* parent) : QListView(parent), m_store(store) {
    setViewMode(QListView::ListMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new ThumbnailDelegate(store, this));
    setGridSize(ThumbnailDelegate::cellSize(store, fontMetrics()));
    verticalScrollBar()->setSingleStep(gridSize().height() / 4);
    // Many scroll steps in one pass of the event loop make one request.
    m_screenMoved.setSingleShot(true);
    m_screenMoved.setInterval(0);
    connect(&m_screenMoved, &QTimer::timeout, this, &PictureGrid::screenMoved);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &PictureGrid::tellScreenMoved);
}

PictureGrid::Screen PictureGrid::screen() const {
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    const QSize cell = gridSize();
    if (count == 0 || cell.isEmpty())
        return {};
    const int columns = std::max(1, viewport()->width() / cell.width());
    const int top = verticalOffset();
    const int first = top / cell.height() * columns;
    const int last = ((top + viewport()->height() - 1) / cell.height() + 1) * columns - 1;
    const int ahead = last + (last - first + 1);
    return {std::min(first, count - 1), std::min(last, count - 1), std::min(ahead, count - 1)};
}

void PictureGrid::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    tellScreenMoved();
}

void PictureGrid::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    tellScreenMoved();
}

void PictureGrid::rowsInserted(const QModelIndex& parent, int start, int end) {
    QListView::rowsInserted(parent, start, end);
    tellScreenMoved();
}

void PictureGrid::reset() {
    QListView::reset();
    tellScreenMoved();
}

void PictureGrid::tellScreenMoved() {
    if (isVisible())
        m_screenMoved.start();
}

ThumbnailDelegate::ThumbnailDelegate(ThumbnailStore& store, QObject* parent)
    : QStyledItemDelegate(parent), m_store(store) {}

QSize ThumbnailDelegate::cellSize(const ThumbnailStore& store, const QFontMetrics& font) {
    return store.box() + QSize(2 * kMargin + 8, 2 * kMargin + font.height() + 4);
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return cellSize(m_store, option.fontMetrics);
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, cell.widget);
    const QRect inner = cell.rect.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    QRect box(QPoint(0, 0), m_store.box());
    box.moveCenter(QPoint(inner.center().x(), inner.top() + box.height() / 2));
    const QPixmap pixmap = m_store.pixmap(index.row());
    QRect shown(QPoint(0, 0), pixmap.deviceIndependentSize().toSize().boundedTo(box.size()));
    shown.moveCenter(box.center());
    painter->drawPixmap(shown, pixmap);
    const QRect line(inner.left(), box.bottom() + 4, inner.width(), cell.fontMetrics.height());
    const bool selected = cell.state & QStyle::State_Selected;
    painter->setPen(cell.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(cell.font);
    painter->drawText(line, Qt::AlignHCenter | Qt::AlignTop,
                      cell.fontMetrics.elidedText(cell.text, Qt::ElideMiddle, line.width()));
    if (cell.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(cell);
        focus.rect = cell.rect.adjusted(1, 1, -1, -1);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, cell.widget);
    }
}

} // namespace corvalin
