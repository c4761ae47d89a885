// A small laptop at 200 %: a 1024 x 600 screen at QT_SCALE_FACTOR=2 leaves the program 512 x 300,
// less than the main window and the options dialog were drawn for. Each fits the screen, its
// client area scrolls to every control, and the main window's result line stays in sight below it.
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/screen_room.h"
#include "app/ui/scrolling_client.h"
#include "engine/ui/move_controller.h"
#include "move_fixture.h"
#include "options/ui/options_dialog.h"
#include "options/ui/options_factory.h"
#include "own_trash.h"
#include "scripted_message_box.h"

#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

const char* const kSmallScreen = R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1024,
    "height": 600, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";

// The control can be scrolled into the viewport whole.
bool reachable(ScrollingClient* scroller, QWidget* control) {
    scroller->ensureWidgetVisible(control, 0, 0);
    const QRect place(control->mapTo(scroller->viewport(), QPoint()), control->size());
    return scroller->viewport()->rect().contains(place);
}

} // namespace

class TestSmallScreen : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;

    fs::path root() const { return m_dir->path().toStdString(); }

    void openForm() {
        writeContent(root() / "prog" / "Corvalin.ini", "\"" + (root() / "src").native() + "\",\"" +
                                                           (root() / "dst").native() + "\",\"\",0,0\r\n");
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        m_form->frmOptions.setFactory([this] { return createOptionsWindow(*m_form); });
        QVERIFY(m_form->Form_Load());
        m_form->show();
    }
    // The window with its frame lies within the screen's available area.
    static void verifyOnScreen(QWidget* window) {
        const QRect area = availableArea(window);
        QVERIFY2(window->frameGeometry().width() <= area.width() &&
                     window->frameGeometry().height() <= area.height(),
                 qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())
                                .arg(area.width())
                                .arg(area.height())));
    }

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(512, 300)); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char* folder : {"prog", "src/a", "dst"})
            fs::create_directories(root() / folder);
        m_home = std::make_unique<OwnHome>(root() / "home");
        m_messages = ScriptedMessageBox{};
        m_vars = Module1{};
    }
    void cleanup() {
        m_form.reset();
        m_home.reset();
    }

    void mainWindowScrolls() {
        openForm();
        verifyOnScreen(m_form.get());
        auto* scroller = qobject_cast<ScrollingClient*>(m_form->centralWidget());
        QVERIFY(scroller);
        QVERIFY(scroller->verticalScrollBar()->maximum() > 0);
        // The controls keep their designed places in the client area.
        QCOMPARE(scroller->widget()->size(), QSize(364, 415));
        QCOMPARE(m_form->ui.Command1->geometry(), QRect(256, 368, 97, 33));
        for (QWidget* control : std::initializer_list<QWidget*>{m_form->ui.Command1, m_form->ui.Label14,
                                                                m_form->ui.File2, m_form->ui.Drive1})
            QVERIFY2(reachable(scroller, control), qPrintable(control->objectName()));
        // No empty status line takes room before a run has a result.
        QVERIFY(!m_form->ui.lblRunResult->isVisible());
    }

    void optionsDialogScrolls() {
        openForm();
        m_form->mnuOpt1_Click();
        auto* dialog = qobject_cast<frmOptions*>(m_form->frmOptions.window());
        QVERIFY(dialog);
        verifyOnScreen(dialog);
        auto* scroller = dialog->findChild<ScrollingClient*>();
        QVERIFY(scroller);
        QCOMPARE(scroller->widget()->size(), QSize(531, 407));
        QVERIFY(scroller->verticalScrollBar()->maximum() > 0 &&
                scroller->horizontalScrollBar()->maximum() > 0);
        for (QWidget* control : std::initializer_list<QWidget*>{dialog->ui.cmdOK, dialog->ui.cmdCancel,
                                                                dialog->ui.cmdApply, dialog->ui.Check4})
            QVERIFY2(reachable(scroller, control), qPrintable(control->objectName()));
        // Tab to OK, which lies below the part shown: it scrolls into sight.
        scroller->ensureVisible(0, 0);
        QApplication::setActiveWindow(dialog);
        dialog->ui.tbsOptions->setFocus(Qt::TabFocusReason);
        QTest::keyClick(dialog->ui.tbsOptions, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->ui.cmdOK);
        QVERIFY(scroller->viewport()->rect().contains(
            QRect(dialog->ui.cmdOK->mapTo(scroller->viewport(), QPoint()), dialog->ui.cmdOK->size())));
        dialog->ui.cmdCancel->click();
    }

    // The result line of a run is in sight at the end of it, wherever the client area was scrolled.
    void resultLineAfterARun() {
        writeContent(root() / "src/a/cat.jpg", pictureContent("cat"));
        writeContent(root() / "src/a/notes.txt", "notes");
        openForm();
        MoveController::of(*m_form).setYieldInterval(0);
        // Scrolled down to the button, the client area stays there while the run swaps the buttons
        // and the focus goes on from the hidden one.
        auto* scroller = qobject_cast<ScrollingClient*>(m_form->centralWidget());
        QVERIFY(reachable(scroller, m_form->ui.Command1));
        const int scrolled = scroller->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        QApplication::setActiveWindow(m_form.get());
        m_form->ui.Command1->setFocus(Qt::MouseFocusReason);
        QVERIFY(m_form->ui.Command1->hasFocus());
        QTest::mouseClick(m_form->ui.Command1, Qt::LeftButton);
        QCOMPARE(scroller->verticalScrollBar()->value(), scrolled);
        QCOMPARE(m_form->ui.lblRunResult->text(),
                 QString("完了: 画像 1 個を移動しました（000000〜000000）。ほかのファイル 1 "
                         "個をごみ箱に入れました。"));
        QVERIFY(m_form->ui.lblRunResult->isVisible());
        QVERIFY(m_form->rect().contains(
            QRect(m_form->ui.lblRunResult->mapTo(m_form.get(), QPoint()), m_form->ui.lblRunResult->size())));
        verifyOnScreen(m_form.get());
        // A later result, however long, leaves the window as it is; the whole line is in the tool tip.
        const QSize size = m_form->size();
        const std::string longest =
            "完了: 画像 125 個を移動しました（000000〜000142、すでにあった番号 18 個は飛ばしました）。"
            "移動先と同じ内容の画像 3 個、ほかのファイル 108 個（うち、選んでいない形式の画像 63 "
            "個）と子フォルダを削除しました。";
        m_form->showRunResult(longest);
        QApplication::processEvents();
        QCOMPARE(m_form->size(), size);
        QVERIFY(m_form->ui.lblRunResult->toolTip().remove('\n').contains(QString::fromStdString(longest)));
    }
};

// The screen and the scale are the process's own from its start.
int main(int argc, char** argv) {
    QTemporaryFile config;
    if (!config.open() || config.write(kSmallScreen) < 0 || !config.flush())
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestSmallScreen test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_small_screen.moc"
