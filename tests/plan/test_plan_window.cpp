// The plan window's wiring: opened from the menu it shows the plan of the panes' folders, saves it
// and runs the move on "実行"; with the option on, "ファイル移動" shows it first and moves only on
// "実行".
#include "app/ui/form1.h"
#include "app/ui/screen_room.h"
#include "app/ui/wrapping_text.h"
#include "engine/ui/move_controller.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "plan/ui/frm_plan.h"
#include "scripted_message_box.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QTimer>
#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

class TestPlanWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }

    void openForm(bool planFirst) {
        writeContent(root() / "prog" / "Corvalin.ini",
                     "\"" + src().native() + "\",\"" + dst().native() + "\",\"\",0,1\r\n");
        writeContent(root() / "prog" / "Corvalin.conf", std::string("picture_types=png\nplan_before_move=") +
                                                            (planFirst ? "true\n" : "false\n"));
        m_vars = Module1{};
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        m_form->frmPlan.setFactory([this] { return createPlanWindow(*m_form); });
        QVERIFY(m_form->Form_Load());
        m_form->show();
        MoveController::of(*m_form).setYieldInterval(0);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<OwnHome>(root() / "home");
        fs::create_directories(dst());
        for (const char* name : {"a/cat.jpg", "a/dog.png", "b/clip.mp4", "b/\x82\xa0.jpg"})
            QVERIFY(writeContent(src() / name, pictureContent(name)));
        m_messages = ScriptedMessageBox{};
    }
    void cleanup() {
        m_form.reset();
        m_home.reset();
        fs::remove_all(root());
    }

    // The pictures the run leaves are in the summary and the problems, each with its reason.
    void fromTheMenu() {
        for (const std::string& name :
             {std::string("a/.hidden.jpg"), std::string("top.jpg"), "b/" + std::string(250, 'x') + ".jpg"})
            QVERIFY(writeContent(src() / name, pictureContent(name)));
        openForm(false);
        m_form->ui.mnuPlan->trigger();
        auto* window = qobject_cast<frmPlan*>(m_form->frmPlan.window());
        QVERIFY(window);
        QTRY_VERIFY(window->plan() && !window->isPlanning());
        QCOMPARE(window->tblPictures->model()->rowCount(), 3);
        QCOMPARE(window->tblRemovals->model()->rowCount(), 1);
        for (const char* line :
             {"1 × .mp4", "名前が長すぎるため残す画像: 1 個", "隠しファイルのため移動しない画像: 1 個",
              "移動元親フォルダに直接あるため移動しない画像: 1 個"})
            QVERIFY2(window->lblSummary->text().contains(QString::fromUtf8(line)), line);
        QStringList kinds;
        for (int row = 0; row < window->tblProblems->model()->rowCount(); ++row)
            kinds << window->tblProblems->model()->index(row, 0).data().toString();
        QCOMPARE(kinds,
                 (QStringList{"名前が長すぎる", "名前が長すぎる", "親フォルダの画像", "隠しファイル"}));
        QVERIFY(namesIn(dst()).empty());
        QVERIFY(window->savePlan(root() / "plan.csv"));
        QVERIFY(contentOf(root() / "plan.csv").find("%82%A0.jpg") != std::string::npos);
        QVERIFY(window->cmdRun->isEnabled());
        window->cmdRun->click();
        QTRY_COMPARE(int(namesIn(dst()).size()), 3);
        QVERIFY(!m_form->frmPlan.window());
    }

    // A source parent of 200 bytes and a picture whose numbered name would be 257 bytes: the window
    // stays as wide as it was, the summary keeps the whole path (wrapped, scrolled), and each cell of
    // the problems keeps the whole of its path in its tool tip.
    void longNamesStayWithinTheScreen() {
        const fs::path longSource = root() / std::string(200, 'f');
        fs::rename(src(), longSource);
        QVERIFY(writeContent(longSource / "a" / (std::string(246, 'n') + ".jpg"), "picture"));
        writeContent(root() / "prog" / "Corvalin.ini",
                     "\"" + longSource.native() + "\",\"" + dst().native() + "\",\"\",0,1\r\n");
        m_vars = Module1{};
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        m_form->frmPlan.setFactory([this] { return createPlanWindow(*m_form); });
        QVERIFY(m_form->Form_Load());
        m_form->show();
        m_form->ui.mnuPlan->trigger();
        auto* window = qobject_cast<frmPlan*>(m_form->frmPlan.window());
        QVERIFY(window);
        QTRY_VERIFY(window->plan() && !window->isPlanning());
        QCoreApplication::processEvents();
        const QRect area = availableArea(window);
        QVERIFY2(window->width() <= area.width() && window->minimumSizeHint().width() <= area.width(),
                 qPrintable(QString::number(window->width())));
        QVERIFY(window->lblSummary->text().contains(QString::fromStdString(longSource.native())));
        QAbstractItemModel* problems = window->tblProblems->model();
        QVERIFY(problems->rowCount() > 0);
        for (int row = 0; row < problems->rowCount(); ++row) {
            const QModelIndex cell = problems->index(row, 1);
            QCOMPARE(cell.data(Qt::ToolTipRole).toString().remove('\n'), cell.data().toString());
        }
    }

    void beforeEveryMove_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("moved");
        QTest::newRow("実行") << "cmdRun" << 3;
        QTest::newRow("閉じる") << "cmdClose" << 0;
    }
    void beforeEveryMove() {
        QFETCH(QString, button);
        openForm(true);
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            auto* window = qobject_cast<frmPlan*>(QApplication::activeModalWidget());
            QVERIFY(window);
            QTRY_VERIFY(window->plan() && !window->isPlanning());
            shown = namesIn(dst()).empty();
            window->findChild<QPushButton*>(button)->click();
        });
        m_form->Command1_Click();
        QVERIFY(shown);
        QTEST(int(namesIn(dst()).size()), "moved");
    }
};

QTEST_MAIN(TestPlanWindow)
#include "test_plan_window.moc"
