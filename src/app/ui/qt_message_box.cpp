#include "app/ui/qt_message_box.h"

#include "app/ui/ui_text.h"

#include <QApplication>
#include <QMessageBox>

namespace corvalin {

static QMessageBox::StandardButtons standardButtons(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

static QMessageBox::Icon standardIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::None:
        return QMessageBox::NoIcon;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

static MessageAnswer answerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Retry:
        return MessageAnswer::Retry;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        return MessageAnswer::Ok;
    }
}

MessageAnswer QtMessageBox::show(const std::string& text, MessageButtons buttons, MessageIcon icon) {
    QMessageBox box(standardIcon(icon), QStringLiteral("Corvalin"), toDisplay(text), standardButtons(buttons),
                    QApplication::activeWindow());
    // Closing the box with Esc or its close box counts as the safe answer.
    if (buttons != MessageButtons::Ok)
        box.setEscapeButton(QMessageBox::Cancel);
    return answerOf(box.exec());
}

} // namespace corvalin
