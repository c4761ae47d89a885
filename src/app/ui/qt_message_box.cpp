#include "app/ui/qt_message_box.h"

#include "app/ui/ui_text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <utility>

namespace corvalin {

static QMessageBox::StandardButtons standardButtons(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
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

// The buttons speak the interface's language whatever translations the system has.
static void labelButtons(QMessageBox& box) {
    const std::pair<QMessageBox::StandardButton, const char*> labels[] = {{QMessageBox::Ok, "OK"},
                                                                          {QMessageBox::Yes, "はい(&Y)"},
                                                                          {QMessageBox::No, "いいえ(&N)"},
                                                                          {QMessageBox::Cancel, "キャンセル"},
                                                                          {QMessageBox::Retry, "再試行(&R)"}};
    for (const auto& [button, label] : labels) {
        if (QAbstractButton* shown = box.button(button))
            shown->setText(QString::fromUtf8(label));
    }
}

MessageAnswer QtMessageBox::show(const std::string& text, MessageButtons buttons, MessageIcon icon) {
    // On the heap and watched: a shutdown signal may destroy the parent window while the box waits,
    // and the parent then deletes the box.
    QPointer<QMessageBox> box =
        new QMessageBox(standardIcon(icon), QStringLiteral("Corvalin"), toDisplay(text),
                        standardButtons(buttons), QApplication::activeWindow());
    labelButtons(*box);
    // A file name such as "<b>x</b>" is shown as it is, never read as markup.
    box->setTextFormat(Qt::PlainText);
    // Closing the box with Esc or its close box counts as the safe answer.
    const MessageAnswer safe = buttons == MessageButtons::Ok      ? MessageAnswer::Ok
                               : buttons == MessageButtons::YesNo ? MessageAnswer::No
                                                                  : MessageAnswer::Cancel;
    if (buttons != MessageButtons::Ok)
        box->setEscapeButton(safe == MessageAnswer::No ? QMessageBox::No : QMessageBox::Cancel);
    const int answer = box->exec();
    if (!box)
        return safe;
    delete box.data();
    return answerOf(answer);
}

} // namespace corvalin
