#include "app/ui/window_slot.h"

namespace corvalin {

QWidget* WindowSlot::load() {
    if (!m_window && m_factory) {
        m_window = m_factory();
        if (m_window)
            m_window->setAttribute(Qt::WA_DeleteOnClose);
    }
    return m_window;
}

void WindowSlot::show() {
    QWidget* window = load();
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void WindowSlot::close() {
    // The widget deletes itself later; forget it now so that the next use loads a fresh one.
    if (m_window && m_window->close())
        m_window = nullptr;
}

} // namespace corvalin
