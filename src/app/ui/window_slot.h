#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

namespace corvalin {

// One secondary window: created on first use, destroyed when closed, brought to the front when
// asked for again while open.
class WindowSlot {
public:
    using Factory = std::function<QWidget*()>;

    void setFactory(Factory factory) { m_factory = std::move(factory); }
    bool hasFactory() const { return static_cast<bool>(m_factory); }

    // The window if it is loaded, else nullptr.
    QWidget* window() const { return m_window; }
    // Loads the window without showing it (when something reads its controls).
    QWidget* load();
    // Loads and shows it modeless, or brings an open one to the front.
    void show();
    // Closes (and so destroys) the window if it is loaded.
    void close();

private:
    Factory m_factory;
    QPointer<QWidget> m_window;
};

} // namespace corvalin
