#pragma once

#include <QScrollArea>

namespace corvalin {

// The client area of a window whose controls lie at designed places. Where the window fits the
// screen's available area, it keeps exactly its designed size, as before; where it does not (a
// small screen, a large scale), the client area scrolls and the window is made to fit the screen.
class ScrollingClient : public QScrollArea {
    Q_OBJECT
public:
    // Takes `client`, whose fixed size is the designed one.
    ScrollingClient(QWidget* client, QWidget* parent);

    QSize sizeHint() const override;

    // Sizes itself for the screen its window is on. Done again whenever the window is shown.
    void fitScreen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QWidget* m_watched = nullptr;
};

} // namespace corvalin
