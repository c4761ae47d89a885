#include "app/ui/scrolling_client.h"

#include "app/ui/screen_room.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QStyle>

namespace corvalin {

namespace {

// The window's layout computed again now, so that its size limits follow a change made just before.
void relayout(QWidget* window) {
    if (QLayout* layout = window->layout()) {
        layout->invalidate();
        layout->activate();
    }
}

} // namespace

ScrollingClient::ScrollingClient(QWidget* client, QWidget* parent) : QScrollArea(parent) {
    setObjectName(QStringLiteral("clientScroller"));
    setFrameShape(QFrame::NoFrame);
    // Tab goes from control to control; a control that takes the focus is scrolled into sight.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(false);
    setWidget(client);
    setMinimumSize(client->size());
    setMaximumSize(client->size());
}

QSize ScrollingClient::sizeHint() const {
    return widget()->size();
}

// The window's own parts (its menu bar, its status line) keep their room; the client area takes
// what the screen leaves, with a scroll bar where it is cut short.
void ScrollingClient::fitScreen() {
    QWidget* top = window();
    if (top != m_watched) {
        top->installEventFilter(this);
        m_watched = top;
    }
    // A part of the window just shown is taken in before the window is measured.
    relayout(top);
    const QSize designed = widget()->size();
    // What the window's layout takes for this area now; left as it is, so that the scrolled part
    // stays in sight.
    const QSize current = sizeHint().expandedTo(minimumSize()).boundedTo(maximumSize());
    const QSize chrome = top->sizeHint() - current;
    const QSize room = roomOnScreen(top) - chrome;
    if (designed.width() <= room.width() && designed.height() <= room.height()) {
        setMinimumSize(designed);
        setMaximumSize(designed);
        relayout(top);
        top->resize(designed + chrome);
        return;
    }
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    QSize wanted = designed;
    if (designed.height() > room.height())
        wanted.rwidth() += bar;
    if (designed.width() > room.width())
        wanted.rheight() += bar;
    const QSize fitted = wanted.boundedTo(room);
    setMinimumSize(fitted);
    setMaximumSize(fitted);
    relayout(top);
    top->resize(fitted + chrome);
}

// Tab scrolls the control it reaches into sight. The focus passed on from a control being hidden
// (a run swapping its buttons) leaves the view where the user was looking.
bool ScrollingClient::focusNextPrevChild(bool next) {
    const QWidget* leaving = QApplication::focusWidget();
    if (leaving && !leaving->isVisible())
        return QWidget::focusNextPrevChild(next);
    return QScrollArea::focusNextPrevChild(next);
}

bool ScrollingClient::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_watched && event->type() == QEvent::Show)
        fitScreen();
    return QScrollArea::eventFilter(watched, event);
}

} // namespace corvalin
