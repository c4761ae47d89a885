#include "info/ui/form4.h"

#include "app/error_text.h"
#include "app/ui/accessibility.h"
#include "app/ui/ui_text.h"
#include "info/readme_text.h"
#include "platform/utf8.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringDecoder>

namespace corvalin {

namespace {

// Client area and places in pixels at 96 dots per inch.
constexpr QSize kClientSize(538, 468);
constexpr QPoint kClientOffset(80, 102); // from the screen's top-left corner

// A read-me that is not UTF-8 was written on a Japanese system in its 8-bit code page.
QString decodeReadme(const std::string& text) {
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    if (isValidUtf8(text))
        return QStringDecoder(QStringDecoder::Utf8).decode(bytes); // drops a byte-order mark
    QStringDecoder shiftJis("Shift_JIS");
    if (!shiftJis.isValid())
        return toDisplay(text);
    return shiftJis.decode(bytes);
}

QString unreadableReadmeText(const Error& error, const std::vector<std::filesystem::path>& candidates) {
    QString text = QStringLiteral("使い方の説明ファイル「Readme.txt」を表示できません。\n\n");
    text += toDisplay(describeError(error));
    text += QStringLiteral("\n\nReadme.txt は次のどちらかの場所に置いてください。");
    for (const auto& candidate : candidates)
        text += QStringLiteral("\n") + displayName(candidate);
    return text + QStringLiteral("\n");
}

} // namespace

Form4::Form4(std::filesystem::path programFolder, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_programFolder(std::move(programFolder)) {
    setupUi();
    placeOnScreen();
}

void Form4::setupUi() {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Corvalin"));
    setFont(gothicFont(9));
    setFixedSize(kClientSize);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(0, 0, 537, 433);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the button, as in any dialog, instead of typing a tab.
    Text1->setTabChangesFocus(true);
    nameControl(Text1, windowTitle()); // no caption of its own: the window's

    Command1 = new QPushButton(QStringLiteral("プログラムへ戻る"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(408, 440, 129, 25);
    Command1->setAutoDefault(true); // Enter presses it when it has the focus
    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);

    setTabOrder(Text1, Command1);
    Text1->setFocus();
}

void Form4::placeOnScreen() {
    const QWidget* owner = parentWidget();
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    setGeometry(QRect(origin + kClientOffset, kClientSize));
}

void Form4::Form_Load() {
    const std::vector<std::filesystem::path> candidates = readmeCandidates(m_programFolder);
    const Result<std::string> bytes = readReadme(candidates);
    if (!bytes) {
        Text1->setPlainText(unreadableReadmeText(bytes.error(), candidates));
        return;
    }
    Text1->setPlainText(decodeReadme(readmeText(bytes.value())));
}

void Form4::Command1_Click() {
    close();
}

} // namespace corvalin
