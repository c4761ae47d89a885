#include "app/ui/form1_ui.h"

#include "app/ui/accessibility.h"
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/fitting_label.h"
#include "app/ui/folder_list.h"
#include "app/ui/scrolling_client.h"
#include "app/ui/ui_text.h"

#include <QFontMetrics>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

namespace corvalin {

namespace {

const QColor kDisplayText(128, 255, 128);
const QString kPreviewTip = QStringLiteral("ファイルをクリックすると縮小画像を表示します。");

template <class T> T* named(T* widget, const char* name, const QString& toolTip = {}) {
    widget->setObjectName(QLatin1String(name));
    if (!toolTip.isEmpty())
        widget->setToolTip(toolTip);
    return widget;
}

// A one-line heading: 8.25 point gothic. The designed height of 9 pixels is less than a line of
// that font, so the height follows the font, up to the gap before the next row of controls.
QLabel* heading(QWidget* parent, const char* name, const QString& caption, QRect place,
                Qt::Alignment alignment = Qt::AlignHCenter | Qt::AlignVCenter) {
    auto* label = named(new FittingLabel(caption, parent), name);
    label->setFont(gothicFont(8.25));
    label->setAlignment(alignment);
    place.setHeight(qMin(QFontMetrics(label->font()).height(), 16));
    label->setGeometry(place);
    return label;
}

// A progress display: bold light-green figures on black in a single-line box, right-aligned.
QLabel* display(QWidget* parent, const char* name, const QString& caption, const QString& toolTip,
                QRect place) {
    auto* label = named(new QLabel(caption, parent), name, toolTip);
    label->setFont(gothicFont(9, true));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFrameShape(QFrame::Box);
    label->setLineWidth(1);
    setBackground(label, Qt::black);
    setTextColour(label, kDisplayText);
    label->setGeometry(place);
    return label;
}

} // namespace

void Form1Ui::setupUi(QMainWindow* form) {
    form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(QStringLiteral("Corvalin"));
    form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    auto* scroller = new ScrollingClient(client, form);
    form->setCentralWidget(scroller);
    createLabels(client);
    createLists(client);
    createPreview(client);
    createButtons(client);
    createMenus(form);
    createStatusLine(form);
    setTabOrder();
    nameControls();
    scroller->fitScreen();
}

void Form1Ui::createLabels(QWidget* c) {
    Label1 = heading(c, "Label1", QStringLiteral("移動元親フォルダ指定"), {8, 8, 169, 9});
    Label2 = heading(c, "Label2", QStringLiteral("移動先フォルダ指定"), {184, 8, 169, 9});
    Label3 = heading(c, "Label3", QStringLiteral("新しいファイルネーム"), {8, 288, 169, 9});
    Label5 = heading(c, "Label5", QStringLiteral("フォルダ総数"), {208, 288, 65, 9});
    Label15 = heading(c, "Label15", QString(), {280, 288, 73, 9}, Qt::AlignRight | Qt::AlignVCenter);
    Label7 = heading(c, "Label7", QStringLiteral("移動中イメージ"), {8, 328, 89, 9},
                     Qt::AlignLeft | Qt::AlignVCenter);
    Label12 = heading(c, "Label12", QStringLiteral("選択されたイメージ"), {8, 328, 89, 9},
                      Qt::AlignLeft | Qt::AlignVCenter);
    Label12->hide();
    Label8 = heading(c, "Label8", QStringLiteral("移動中フォルダ"), {112, 328, 105, 9});
    Label9 = heading(c, "Label9", QStringLiteral("移動中ファイル数"), {232, 328, 113, 9});

    Label4 = display(c, "Label4", QString(), QStringLiteral("移動後の通し番号付のファイルネームを表示します"),
                     {8, 304, 169, 17});
    Label6 = display(c, "Label6", QStringLiteral("0/0"),
                     QStringLiteral("ファイルのあるフォルダの数とフォルダの総数を表示します。"),
                     {200, 304, 153, 17});
    Label10 =
        display(c, "Label10", QString(), QStringLiteral("移動中のフォルダの名前です。"), {112, 344, 113, 17});
    Label11 = display(c, "Label11", QStringLiteral("0/0"),
                      QStringLiteral("残りのファイル数とファイル総数を表示します。"), {232, 344, 121, 17});

    Label13 = named(new QLabel(QStringLiteral("フォルダ構成を調査中"), c), "Label13");
    Label13->setFont(gothicFont(9, true));
    setTextColour(Label13, QColor(255, 0, 0));
    Label13->setGeometry(112, 376, 129, 17);
    Label13->hide();

    Label14 = named(new QLabel(c), "Label14",
                    QStringLiteral("赤い時は移動後フォルダも削除します。オプションタグから設定します。"));
    Label14->setFrameShape(QFrame::Box);
    Label14->setLineWidth(1);
    Label14->setGeometry(184, 304, 17, 17);
}

void Form1Ui::createLists(QWidget* c) {
    Drive1 = named(new DriveList(c), "Drive1", QStringLiteral("移動元のドライブを指定します。"));
    Drive1->setGeometry(8, 24, 169, 20);
    Drive2 = named(new DriveList(c), "Drive2", QStringLiteral("移動先のドライブを指定します。"));
    Drive2->setGeometry(184, 24, 169, 20);
    Dir1 = named(new FolderList(c), "Dir1", QStringLiteral("移動元の親フォルダを指定します。"));
    Dir1->setGeometry(8, 48, 169, 104);
    Dir2 = named(new FolderList(c), "Dir2", QStringLiteral("移動先のフォルダを指定します。"));
    Dir2->setGeometry(184, 48, 169, 104);
    File1 = named(new FileList(FileList::Selection::Single, c), "File1", kPreviewTip);
    File1->setGeometry(8, 160, 169, 126);
    File2 = named(new FileList(FileList::Selection::Single, c), "File2", kPreviewTip);
    File2->setGeometry(184, 160, 169, 126);
    File3 = named(new FileList(FileList::Selection::Extended, c), "File3");
    File3->setGeometry(184, 160, 169, 126);
    File3->hide();
}

void Form1Ui::createPreview(QWidget* c) {
    Picture1 = named(new QFrame(c), "Picture1", QStringLiteral("縮小画像を表示します。"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setGeometry(8, 344, 89, 65);
    Image1 = named(new QLabel(Picture1), "Image1");
    Image1->setScaledContents(false);
    Image1->setGeometry(-8, -8, 33, 33);
}

void Form1Ui::createButtons(QWidget* c) {
    const QRect slot(256, 368, 97, 33);
    Command1 = named(new QPushButton(QStringLiteral("ファイル移動"), c), "Command1",
                     QStringLiteral("移動を開始します。"));
    Command2 = named(new QPushButton(QStringLiteral("キャンセル"), c), "Command2",
                     QStringLiteral("処理を中断します。"));
    Command3 = named(new QPushButton(QStringLiteral("通し番号削除"), c), "Command3",
                     QStringLiteral("フォルダの中のすべてのファイルの通し番号を切り取ります。"));
    Command4 =
        named(new QPushButton(QStringLiteral("通し番号削除"), c), "Command4",
              QStringLiteral("サブフォルダを作成してファイルを移動します。ファイルのマルチ選択も可能です。"));
    for (QPushButton* button : {Command1, Command2, Command3, Command4})
        button->setGeometry(slot);
    Command2->hide();
    Command3->hide();
    Command4->hide();
}

void Form1Ui::createMenus(QMainWindow* form) {
    QMenuBar* bar = form->menuBar();
    mnuOpt0 = named(bar->addMenu(QStringLiteral("オプション")), "mnuOpt0");
    mnuOpt1 = named(mnuOpt0->addAction(QStringLiteral("オプション")), "mnuOpt1");
    mnuPlan = named(mnuOpt0->addAction(QStringLiteral("移動の予定を表示...")), "mnuPlan");
    mnuHistory = named(mnuOpt0->addAction(QStringLiteral("履歴と元に戻す...")), "mnuHistory");
    mnuLi1 = named(mnuOpt0->addSeparator(), "mnuLi1");
    mnuEnd = named(mnuOpt0->addAction(QStringLiteral("終了")), "mnuEnd");
    mnuVer1 = named(bar->addMenu(QStringLiteral("バージョン情報")), "mnuVer1");
    mnuHelp = named(mnuVer1->addAction(QStringLiteral("使い方")), "mnuHelp");
    mnuLi2 = named(mnuVer1->addSeparator(), "mnuLi2");
    mnuVer2 = named(mnuVer1->addAction(QStringLiteral("バージョン情報")), "mnuVer2");
}

// For a screen reader: the pane headings name the folder lists and the headings above the displays
// name them; controls without a caption on the screen are named by their tool tips.
void Form1Ui::nameControls() {
    tieCaption(Label1, Dir1);
    tieCaption(Label2, Dir2);
    tieCaption(Label2, File3); // in its place only in a strip layout, under that layout's heading
    tieCaption(Label3, Label4);
    tieCaption(Label5, Label6);
    tieCaption(Label8, Label10);
    tieCaption(Label9, Label11);
    nameDisplay(Label15, QStringLiteral("ファイル数"));
    for (QWidget* control : std::initializer_list<QWidget*>{Drive1, Drive2, File1, File2, Label14, Picture1})
        nameControl(control, control->toolTip());
    for (QMenu* menu : {mnuOpt0, mnuVer1})
        nameControl(menu, menu->title());
}

// The result line under the client area, in the headings' font, with their margin. Its width is
// the window's: a long line wraps instead of widening the window. Three lines hold the longest
// result lines; one longer still is whole in the tool tip.
void Form1Ui::createStatusLine(QMainWindow* form) {
    QStatusBar* bar = form->statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(false);
    bar->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    lblRunResult = named(new QLabel(bar), "lblRunResult");
    lblRunResult->setFont(gothicFont(8.25));
    lblRunResult->setTextFormat(Qt::PlainText);
    lblRunResult->setWordWrap(true);
    lblRunResult->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblRunResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblRunResult->setContentsMargins(6, 2, 6, 2);
    lblRunResult->setFixedHeight(3 * QFontMetrics(lblRunResult->font()).lineSpacing() + 4);
    lblRunResult->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    bar->addPermanentWidget(lblRunResult, 1);
    bar->hide();
}

void Form1Ui::setTabOrder() {
    // Hidden controls are skipped, so the one visible button of the slot follows File2.
    QWidget* order[] = {Drive1,   Dir1,     File1,    Drive2,   Dir2, File2,
                        Command1, Command2, Command3, Command4, File3};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

} // namespace corvalin
