#include "options/ui/options_dialog_ui.h"

#include "app/ui/accessibility.h"
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/scrolling_client.h"
#include "app/ui/ui_text.h"
#include "naming/picture_types.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QImageReader>
#include <QTabBar>
#include <QVBoxLayout>

#include <vector>

namespace corvalin {

namespace {

template <class T> T* named(T* widget, const char* name, QRect place, const QString& toolTip = {}) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(place);
    if (!toolTip.isEmpty())
        widget->setToolTip(toolTip);
    return widget;
}

// A maker heading in 8.25 point gothic. The designed height of 9 pixels is less than a line of
// that font, so the height follows the font, up to the gap before the control below it.
QLabel* heading(QWidget* parent, const char* name, const QString& caption, QRect place) {
    auto* label = new QLabel(caption, parent);
    label->setFont(gothicFont(8.25));
    place.setHeight(qMin(QFontMetrics(label->font()).height(), 16));
    return named(label, name, place);
}

// The layout was drawn for a proportional gothic, whose kana are narrower than those of the
// gothic fonts a Linux desktop has; a caption wider than its control is condensed to fit, down
// to 80 %.
void condenseToFit(QWidget* widget) {
    QFont font = widget->font();
    for (int stretch = 98; widget->sizeHint().width() > widget->width() && stretch >= 80; stretch -= 2) {
        font.setStretch(stretch);
        widget->setFont(font);
    }
}

// Frames carry their caption in the top line, with the controls placed below it.
const char* const kFrameStyle =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }";

} // namespace

void OptionsDialogUi::setupUi(QDialog* dialog) {
    dialog->setObjectName(QStringLiteral("frmOptions"));
    dialog->setWindowTitle(QStringLiteral("ｵﾌﾟｼｮﾝ"));
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setFont(gothicFont(9));
    dialog->setStyleSheet(QLatin1String(kFrameStyle));
    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    createTabStrip(client);
    createOptionGroup(picOptions[0]);
    createDetailPage(picOptions[1]);
    createMakerGroup(client);
    createButtons(client);
    setTabOrder();
    nameControls();
    // Fixed at the designed size, or at what the screen leaves when that is too large.
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    auto* scroller = new ScrollingClient(client, dialog);
    layout->addWidget(scroller);
    scroller->fitScreen();
    for (QWidget* captioned : std::initializer_list<QWidget*>{Label1, Label2, Label3, Label4, Option1[0],
                                                              Option1[1], Check1, Check2, Check3, Check4})
        condenseToFit(captioned);
}

// The strip draws the tab and the frame of its page; the page's controls lie on picOptions above
// it, and the maker's frame on the window itself, above both.
void OptionsDialogUi::createTabStrip(QWidget* client) {
    tbsOptions = named(new QTabWidget(client), "tbsOptions", {8, 0, 513, 371});
    tbsOptions->addTab(new QWidget, QStringLiteral("オプション"));
    tbsOptions->setTabToolTip(0, QStringLiteral("ｸﾞﾙｰﾌﾟ 1 のｵﾌﾟｼｮﾝの設定"));
    tbsOptions->tabBar()->setTabData(0, QStringLiteral("Group1"));
    picOptions[0] = named(new QWidget(client), "picOptions_0", {kPageLeft, 32, 499, 335});
    tbsOptions->addTab(new QWidget, QStringLiteral("詳細"));
    tbsOptions->setTabToolTip(1, QStringLiteral("ｸﾞﾙｰﾌﾟ 2 のｵﾌﾟｼｮﾝの設定"));
    tbsOptions->tabBar()->setTabData(1, QStringLiteral("Group2"));
    picOptions[1] = named(new QWidget(client), "picOptions_1", {kHiddenPageLeft, 32, 499, 335});
    picOptions[1]->setEnabled(false);
}

// Check boxes one below the other from the top, with room for about eight; later options join the
// stack above the stretch.
void OptionsDialogUi::createDetailPage(QWidget* page) {
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(16, 12, 16, 12);
    stack->setSpacing(8);
    chkPermanentDelete = new QCheckBox(QStringLiteral("ごみ箱を使わずに完全に削除する"), page);
    chkPermanentDelete->setObjectName(QStringLiteral("chkPermanentDelete"));
    chkPermanentDelete->setToolTip(
        QStringLiteral("移動のあとに消すファイルとフォルダ、フォルダの削除で消すフォルダを、ごみ箱に入れずに"
                       "すぐに削除します。元に戻せません。"));
    stack->addWidget(chkPermanentDelete);
    chkPlanBeforeMove = new QCheckBox(QStringLiteral("移動の前に予定を表示する"), page);
    chkPlanBeforeMove->setObjectName(QStringLiteral("chkPlanBeforeMove"));
    chkPlanBeforeMove->setToolTip(QStringLiteral("「ファイル移動」で、何がどうなるかの予定を先に表示し、"
                                                 "「実行」を押したときだけ移動します。"));
    stack->addWidget(chkPlanBeforeMove);
    chkNotifyLongRuns = new QCheckBox(QStringLiteral("時間のかかった実行が終わったら通知する"), page);
    chkNotifyLongRuns->setObjectName(QStringLiteral("chkNotifyLongRuns"));
    chkNotifyLongRuns->setToolTip(
        QStringLiteral("移動か通し番号の削除が 10 秒より長くかかり、終わったときにこの"
                       "ウィンドウを見ていなければ、デスクトップの通知で結果を知らせます。"));
    stack->addWidget(chkNotifyLongRuns);
    chkSkipDuplicates =
        new QCheckBox(QStringLiteral("移動先に同じ内容の画像があれば、移動せずに取り除く"), page);
    chkSkipDuplicates->setObjectName(QStringLiteral("chkSkipDuplicates"));
    chkSkipDuplicates->setToolTip(QStringLiteral("移動先フォルダにすでにある画像と中身がまったく同じ画像は、"
                                                 "番号を付けずに、ほかのファイルと同じように取り除きます。"
                                                 "名前や日付ではなく、中身で比べます。"));
    stack->addWidget(chkSkipDuplicates);
    createPictureTypes(page);
    stack->addWidget(fraPictureTypes);
    stack->addStretch(1);
}

void OptionsDialogUi::createPictureTypes(QWidget* page) {
    fraPictureTypes = new QGroupBox(QStringLiteral("画像として扱う形式"), page);
    fraPictureTypes->setObjectName(QStringLiteral("fraPictureTypes"));
    auto* grid = new QGridLayout(fraPictureTypes);
    grid->setContentsMargins(10, 16, 10, 8);
    auto* always =
        new QLabel(QStringLiteral("JPEG (.jpg, .jpeg) と BMP はいつも画像です。"), fraPictureTypes);
    always->setObjectName(QStringLiteral("lblAlwaysPictures"));
    grid->addWidget(always, 0, 0, 1, 3);
    const std::array<const char*, kOptionalPictureTypes.size()> captions = {"PNG (.png)",
                                                                            "GIF (.gif)",
                                                                            "WebP (.webp)",
                                                                            "TIFF (.tif, .tiff)",
                                                                            "AVIF (.avif)",
                                                                            "HEIF (.heif, .heic)",
                                                                            "JFIF (.jfif, .jpe, .jfi)"};
    const QList<QByteArray> readable = QImageReader::supportedImageFormats();
    int placed = 0;
    for (PictureType type : kOptionalPictureTypes) {
        const auto index = static_cast<std::size_t>(type);
        chkPictureType[index] = nullptr;
        const bool optionalPlugin = type == PictureType::Avif || type == PictureType::Heif;
        if (optionalPlugin && !readable.contains(QByteArray(readerFormat(type).data())))
            continue;
        auto* box = new QCheckBox(QString::fromUtf8(captions[index]), fraPictureTypes);
        box->setObjectName(QStringLiteral("chkPictureType_") + QString::fromUtf8(typeKey(type).data()));
        box->setToolTip(QStringLiteral("この形式のファイルも JPEG と同じように番号を付けて移動します。"
                                       "外すと、ほかのファイルと同じく削除します。"));
        grid->addWidget(box, 1 + placed / 3, placed % 3);
        chkPictureType[index] = box;
        ++placed;
    }
}

void OptionsDialogUi::createMakerGroup(QWidget* client) {
    Frame1 = named(new QGroupBox(QStringLiteral("ダウンロード先のフォルダを指定します。"), client), "Frame1",
                   {24, 32, 481, 217});
    QWidget* f = Frame1;
    Label1 = heading(f, "Label1", QStringLiteral("親フォルダを選択してください。"), {8, 16, 169, 9});
    Drive1 = named(new DriveList(f), "Drive1", {8, 32, 161, 20},
                   QStringLiteral("親フォルダのドライブを指定します。"));
    Dir1 = named(new FolderList(f), "Dir1", {8, 56, 161, 90}, QStringLiteral("親フォルダを指定します。"));
    File1 = named(new FileList(FileList::Selection::Single, f), "File1", {168, 32, 145, 114});
    Label2 = heading(f, "Label2", QStringLiteral("親フォルダのフルパス"), {8, 152, 305, 9});
    Text1 = named(new QLineEdit(f), "Text1", {8, 168, 305, 18},
                  QStringLiteral("親フォルダのフルパスを表示します。"));
    Label3 = heading(f, "Label3", QStringLiteral("子フォルダをいくつ作りますか"), {320, 16, 153, 9});
    Text2 = named(new QLineEdit(QStringLiteral("１"), f), "Text2", {320, 32, 73, 18},
                  QStringLiteral("作るサブフォルダの数を入力します。"));
    Label4 = named(new QLabel(QStringLiteral("フォルダ"), f), "Label4", {395, 35, 73, 17});
    Option1[0] = named(new QRadioButton(QStringLiteral("フォルダを作成します。"), f), "Option1_0",
                       {320, 64, 145, 17}, QStringLiteral("サブフォルダを作成します。"));
    Option1[1] = named(new QRadioButton(QStringLiteral("フォルダを削除します。"), f), "Option1_1",
                       {320, 88, 137, 17}, QStringLiteral("親フォルダ以下のサブフォルダを削除します。"));
    Option1[0]->setChecked(true);
}

void OptionsDialogUi::createOptionGroup(QWidget* page) {
    Frame2 = named(new QGroupBox(QStringLiteral("オプション設定"), page), "Frame2", {8, 224, 481, 97});
    QWidget* f = Frame2;
    Check1 = named(new QCheckBox(QStringLiteral("ファイルを移動後フォルダをすぐに削除する。"), f), "Check1",
                   {8, 16, 249, 17},
                   QStringLiteral("ファイル移動後すぐに親フォルダ以下のサブフォルダを削除します。"));
    Check2 =
        named(new QCheckBox(QStringLiteral("通し番号を変更する。（６桁までの整数）"), f), "Check2",
              {8, 32, 225, 17},
              QStringLiteral("通し番号を修正します。チェックを入れてからテキストボックスに６桁までの整数を入"
                             "れてください。"));
    Text3 = named(new QLineEdit(f), "Text3", {240, 32, 49, 18});
    Text3->setEnabled(false);
    Check3 = named(
        new QCheckBox(QStringLiteral("頭の通し番号を切り取る。（フォルダの中のファイルをすべてリネーム"
                                     "する）"),
                      f),
        "Check3", {8, 48, 457, 17}, QStringLiteral("チェックを入れると通し番号切り取りモードになります。"));
    Check4 = named(
        new QCheckBox(QStringLiteral("頭の通し番号を切り取る。（ファイルを選択してサブフォルダを作成して"
                                     "そこへ移動する。）"),
                      f),
        "Check4", {8, 64, 465, 17});
}

void OptionsDialogUi::createButtons(QWidget* client) {
    cmdOK = named(new QPushButton(QStringLiteral("OK"), client), "cmdOK", {288, 376, 73, 25},
                  QStringLiteral("オプションを有効にしてこのフォームを閉じます。"));
    cmdCancel = named(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), client), "cmdCancel", {368, 376, 73, 25},
                      QStringLiteral("オプション設定を有効にせずフォームを閉じます。"));
    cmdApply = named(new QPushButton(QStringLiteral("更新"), client), "cmdApply", {448, 376, 73, 25},
                     QStringLiteral("フォームを閉じずにオプションを有効にします。"));
    // No default button: Return in a box or a list must not apply everything and close the dialog.
    for (QPushButton* button : {cmdOK, cmdCancel, cmdApply})
        button->setAutoDefault(false);
}

// For a screen reader: the maker's headings name the controls below them; Text3 is named by the box
// beside it, the maker's drive list by its tool tip and its file list by its frame.
void OptionsDialogUi::nameControls() {
    tieCaption(Label1, Dir1);
    tieCaption(Label2, Text1);
    tieCaption(Label3, Text2);
    nameControl(Drive1, Drive1->toolTip());
    nameControl(File1, Frame1->title());
    nameControl(Text3, Check2->text());
}

void OptionsDialogUi::setTabOrder() {
    // Frames, labels and the page take no focus; Text3 stays before Check2 as designed.
    std::vector<QWidget*> order = {
        tbsOptions, cmdOK,  cmdCancel,          cmdApply,         Drive1, Dir1,  File1,
        Text1,      Text2,  Option1[0],         Option1[1],       Check1, Text3, Check2,
        Check3,     Check4, chkPermanentDelete, chkPlanBeforeMove};
    order.push_back(chkNotifyLongRuns);
    order.push_back(chkSkipDuplicates);
    for (QCheckBox* box : chkPictureType) {
        if (box)
            order.push_back(box);
    }
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

} // namespace corvalin
