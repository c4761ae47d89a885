#pragma once

#include "app/message_box.h"

class QWidget;

namespace corvalin {

// Shows a modal QMessageBox captioned "Corvalin" over the active window.
class QtMessageBox : public MessageBox {
public:
    MessageAnswer show(const std::string& text, MessageButtons buttons, MessageIcon icon) override;
};

} // namespace corvalin
