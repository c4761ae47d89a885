#include "info/ui/frm_about.h"

#include "app/message_box.h"
#include "app/ui/accessibility.h"
#include "app/ui/ui_text.h"
#include "info/sysinfo.h"
#include "info/version_text.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QUrl>

namespace corvalin {

namespace {

const QString kTitle = QStringLiteral("Corvalin");
const QString kHomePage = QStringLiteral("https://corvalin.example.org/");
const QColor kLinkColour(0, 0, 255);
const QColor kHoverColour(128, 0, 128);
constexpr double kLinkPointSize = 10;

// The window was laid out for compact Japanese fonts. With a taller fallback font a one-line label
// grows down into the gap before the next control, and the description gets smaller, never below
// 7 points, until all of it fits its box instead of being cut off.
void growToFont(QLabel* label, int bottomLimit) {
    const int height = QFontMetrics(label->font()).height();
    label->resize(label->width(), qBound(label->height(), height, bottomLimit - label->y()));
}

void shrinkToFit(QLabel* label) {
    QFont font = label->font();
    while (label->heightForWidth(label->width()) > label->height() && font.pointSizeF() > 7) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        label->setFont(font);
    }
}

QLabel* createLabel(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

frmAbout::frmAbout(MessageBox& messages, std::unique_ptr<Registry> registry, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_messages(messages), m_registry(std::move(registry)) {
    setupUi();
}

void frmAbout::setupUi() {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setFont(gothicFont(9));
    setFixedSize(382, 237);
    setMouseTracking(true);
    createLabels();
    createButtons();
}

void frmAbout::createLabels() {
    picIcon = createLabel(this, "picIcon", QString(), QRect(16, 16, 36, 36));
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    nameControl(picIcon, kTitle);

    lblTitle = createLabel(this, "lblTitle", QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝ ﾀｲﾄﾙ"), QRect(70, 16, 259, 32));
    lblTitle->setFont(minchoFont(18, true));
    setTextColour(lblTitle, QColor(0, 255, 255));

    lblVersion = createLabel(this, "lblVersion", QStringLiteral("ﾊﾞｰｼﾞｮﾝ"), QRect(70, 52, 259, 15));
    lblVersion->setFont(gothicFont(12, true));
    setTextColour(lblVersion, QColor(0, 0, 255));
    growToFont(lblVersion, 75);

    lblDescription = createLabel(
        this, "lblDescription",
        QStringLiteral(
            "　画像をダウンする親フォルダの下に子フォルダを大量に作り　（５０フォルダでも５００フォルダでも可"
            "）"
            "\r\n"
            "　その,"
            "子フォルダにダウンロードした画像ファイルを通し番号を付けて　任意のフォルダに移動させます。 "),
        QRect(70, 75, 259, 62));
    lblDescription->setWordWrap(true);
    shrinkToFit(lblDescription);
    lblDescription->setMouseTracking(true);
    lblDescription->installEventFilter(this);
    setTextColour(lblDescription, Qt::black);

    Label1 = createLabel(this, "Label1", kHomePage, QRect(64, 144, 273, 17));
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->setMouseTracking(true);
    Label1->installEventFilter(this);
    markLink(Label1);

    Line1 = new EtchedLine(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(6, 163, 372, 3);

    lblDisclaimer = createLabel(
        this, "lblDisclaimer",
        QStringLiteral("このソフトの使用によって生じた損害について、作者は一切の責任を負いません。"
                       "大切な画像は事前にバックアップしてください。"),
        QRect(17, 175, 242, 55));
    lblDisclaimer->setWordWrap(true);
    setTextColour(lblDisclaimer, Qt::black);
}

void frmAbout::createButtons() {
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(283, 175, 92, 23);
    cmdOK->setDefault(true); // Enter, unless another button has the focus; Escape closes as well
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    cmdSysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(284, 205, 92, 23);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    setTabOrder(cmdOK, cmdSysInfo);
    // The link follows the two buttons, so that it opens without a mouse too.
    setTabOrder(cmdSysInfo, Label1);
    cmdOK->setFocus();
}

void frmAbout::Form_Load() {
    setWindowTitle(kTitle + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    lblVersion->setText(QString::fromStdString(programVersionText()));
    lblTitle->setText(kTitle);
    showLinkLook(kLinkColour);
}

void frmAbout::showLinkLook(const QColor& colour) {
    setTextColour(Label1, colour);
    Label1->setFont(gothicFont(kLinkPointSize));
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    const std::optional<std::filesystem::path> program = findSysInfoProgram(*m_registry);
    if (program &&
        QProcess::startDetached(QFile::decodeName(QByteArray::fromStdString(program->native())), {}))
        return;
    m_messages.show("現時点ではｼｽﾃﾑ情報を使用できません", MessageButtons::Ok, MessageIcon::None);
}

void frmAbout::Label1_Click() {
    // A browser that cannot be started is not reported: the address stays readable in the window.
    QDesktopServices::openUrl(QUrl(Label1->text()));
}

// Over the window's own background the link turns back to blue.
void frmAbout::mouseMoveEvent(QMouseEvent* event) {
    showLinkLook(kLinkColour);
    QDialog::mouseMoveEvent(event);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && (watched == Label1 || watched == lblDescription)) {
        showLinkLook(watched == Label1 ? kHoverColour : kLinkColour);
        return true; // handled here, not again by the window behind it
    }
    if (watched == Label1 && linkKeyEvent(event))
        return true;
    if (event->type() == QEvent::MouseButtonRelease && watched == Label1) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label1->rect().contains(mouse->position().toPoint()))
            Label1_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// The link reached with Tab wears its hover look while it has the focus, and opens with Return or
// Space as with a click.
bool frmAbout::linkKeyEvent(QEvent* event) {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        showLinkLook(event->type() == QEvent::FocusIn ? kHoverColour : kLinkColour);
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space)
        return false;
    Label1_Click();
    return true;
}

} // namespace corvalin
