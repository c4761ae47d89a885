#pragma once

#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>

namespace corvalin {

class ThumbnailStore;

// The plan's pictures as a grid: a thumbnail each, its new name under it, in the run's order. Rows
// of one size and nothing measured per item, so that ten thousand scroll as smoothly as ten.
class PictureGrid : public QListView {
    Q_OBJECT
public:
    PictureGrid(ThumbnailStore& store, QWidget* parent = nullptr);

    // The first and last item on the screen, and the last of the next screen down.
    struct Screen {
        int first = 0;
        int last = -1;
        int ahead = -1;
    };
    Screen screen() const;

signals:
    // The items on the screen may have changed (scrolled, resized, shown, new rows).
    void screenMoved();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void reset() override;

private:
    void tellScreenMoved();

    ThumbnailStore& m_store;
    QTimer m_screenMoved;
};

// Paints one cell of the grid: the thumbnail centred in its box, the name below, elided in the middle.
class ThumbnailDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    ThumbnailDelegate(ThumbnailStore& store, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The cell a thumbnail of the store's box takes with a line of text in `font`.
    static QSize cellSize(const ThumbnailStore& store, const QFontMetrics& font);

private:
    ThumbnailStore& m_store;
};

} // namespace corvalin
