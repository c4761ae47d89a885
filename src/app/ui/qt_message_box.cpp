#include "app/ui/qt_message_box.h"

#include "app/ui/accessibility.h"
#include "app/ui/screen_room.h"
#include "app/ui/ui_text.h"
#include "app/ui/wrapping_text.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

#include <algorithm>
#include <utility>
#include <vector>

namespace corvalin {

namespace {

// As wide as a message box usually is, wider only for a long line, and never past the screen.
constexpr int kUsualTextWidth = 320;
constexpr int kWidestText = 640;

struct ButtonChoice {
    QDialogButtonBox::StandardButton button;
    const char* label; // the interface's language whatever translations the system has
    MessageAnswer answer;
};

std::vector<ButtonChoice> choicesOf(MessageButtons buttons) {
    const ButtonChoice ok{QDialogButtonBox::Ok, "OK", MessageAnswer::Ok};
    const ButtonChoice yes{QDialogButtonBox::Yes, "はい(&Y)", MessageAnswer::Yes};
    const ButtonChoice no{QDialogButtonBox::No, "いいえ(&N)", MessageAnswer::No};
    const ButtonChoice cancel{QDialogButtonBox::Cancel, "キャンセル", MessageAnswer::Cancel};
    const ButtonChoice retry{QDialogButtonBox::Retry, "再試行(&R)", MessageAnswer::Retry};
    switch (buttons) {
    case MessageButtons::Ok:
        return {ok};
    case MessageButtons::YesNo:
        return {yes, no};
    case MessageButtons::YesNoCancel:
        return {yes, no, cancel};
    case MessageButtons::RetryCancel:
        return {retry, cancel};
    }
    return {ok};
}

// Closing the box with Esc or its close box counts as the safe answer.
MessageAnswer safeAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    default:
        return MessageAnswer::Cancel;
    }
}

QStyle::StandardPixmap pixmapOf(MessageIcon icon) {
    return icon == MessageIcon::Warning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
}

// The message box: the icon, the text (wrapped anywhere, selectable, scrolled when it is taller
// than the screen allows) and the buttons, the first of them the default.
class MessageDialog : public QDialog {
public:
    MessageDialog(const QString& text, MessageButtons buttons, MessageIcon icon, QWidget* parent)
        : QDialog(parent), m_answer(safeAnswer(buttons)) {
        setObjectName(QStringLiteral("msgBox"));
        setWindowTitle(QStringLiteral("Corvalin"));
        markAlert(this, text);
        auto* grid = new QGridLayout(this);
        grid->setSizeConstraint(QLayout::SetFixedSize);
        if (icon != MessageIcon::None)
            grid->addWidget(iconLabel(icon), 0, 0, Qt::AlignTop);
        m_text = new WrappingText(this);
        m_text->setObjectName(QStringLiteral("txtMessage"));
        m_text->setText(text);
        grid->addWidget(m_text, 0, 1);
        auto* box = new QDialogButtonBox(this);
        box->setObjectName(QStringLiteral("buttons"));
        for (const ButtonChoice& choice : choicesOf(buttons)) {
            QPushButton* button = box->addButton(choice.button);
            button->setText(QString::fromUtf8(choice.label));
            connect(button, &QPushButton::clicked, this,
                    [this, answer = choice.answer] { answerWith(answer); });
            if (!m_default)
                m_default = button;
        }
        grid->addWidget(box, 1, 0, 1, 2);
        m_default->setDefault(true);
        m_default->setFocus();
        fitText();
    }

    MessageAnswer answer() const { return m_answer; }

protected:
    // Read out as an alert by a screen reader, as the desktop's own message boxes are.
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }

    // The desktop's message-box keys: a button's letter alone presses it, Return the focused
    // button (the default one when the text has the focus); Esc is the safe answer (reject).
    // Ctrl+C with nothing selected copies the whole message.
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Copy) && !m_text->textCursor().hasSelection()) {
            QApplication::clipboard()->setText(m_text->text());
            return;
        }
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            (focused ? focused : m_default)->click();
            return;
        }
        if (QPushButton* button = buttonOfLetter(*event)) {
            button->animateClick();
            return;
        }
        QDialog::keyPressEvent(event);
    }

private:
    // The text's size, now that the screen and the buttons are known.
    void fitText() {
        const QRect area = availableArea(parentWidget());
        const int besides = layout()->contentsMargins().left() + layout()->contentsMargins().right() +
                            (iconWidth() > 0 ? iconWidth() + layout()->spacing() : 0);
        // The window manager's frame and a margin of the screen stay free.
        const int widest = std::max(kUsualTextWidth / 2, std::min(kWidestText, area.width() - besides - 48));
        const int width = std::clamp(m_text->naturalWidth(), std::min(kUsualTextWidth, widest), widest);
        const int buttonsHeight = findChild<QDialogButtonBox*>()->sizeHint().height();
        const int tallest = area.height() - buttonsHeight - layout()->contentsMargins().top() -
                            layout()->contentsMargins().bottom() - layout()->spacing() - 64;
        m_text->setMaximumLines(std::max(1, tallest / m_text->fontMetrics().lineSpacing()));
        m_text->setFixedSize(width, std::min(m_text->heightFor(width), std::max(tallest, 1)));
    }

    // The button whose letter (はい(&Y): Y) was pressed alone, if any.
    QPushButton* buttonOfLetter(const QKeyEvent& event) const {
        if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return nullptr;
        for (QPushButton* button : findChildren<QPushButton*>()) {
            const QKeySequence letter = QKeySequence::mnemonic(button->text());
            if (!letter.isEmpty() && letter[0].key() == event.key())
                return button;
        }
        return nullptr;
    }

    QLabel* iconLabel(MessageIcon icon) {
        const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        m_icon = new QLabel(this);
        m_icon->setObjectName(QStringLiteral("lblIcon"));
        m_icon->setPixmap(style()->standardIcon(pixmapOf(icon), nullptr, this).pixmap(size, size));
        return m_icon;
    }
    int iconWidth() const { return m_icon ? m_icon->sizeHint().width() : 0; }

    void answerWith(MessageAnswer answer) {
        m_answer = answer;
        accept();
    }

    WrappingText* m_text = nullptr;
    QLabel* m_icon = nullptr;
    QPushButton* m_default = nullptr;
    MessageAnswer m_answer;
};

} // namespace

MessageAnswer QtMessageBox::show(const std::string& text, MessageButtons buttons, MessageIcon icon) {
    // On the heap and watched: a shutdown signal may destroy the parent window while the box waits,
    // and the parent then deletes the box.
    QPointer<MessageDialog> box =
        new MessageDialog(toDisplay(text), buttons, icon, QApplication::activeWindow());
    box->exec();
    if (!box)
        return safeAnswer(buttons);
    const MessageAnswer answer = box->answer();
    delete box.data();
    return answer;
}

} // namespace corvalin
