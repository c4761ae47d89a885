// The history window over real runs of the main window: the runs it lists, an undo through its
// button with the main window busy meanwhile, an undo cancelled or cut off by closing the main
// window, a "no" to its question, and a run refused where its journal cannot be written.
#include "app/ui/file_list.h"
#include "app/ui/form1.h"
#include "engine/ui/move_controller.h"
#include "history/ui/frm_history.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "scripted_message_box.h"

#include <QTimer>
#include <QtTest>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

const Names kPictures = {"a/cat.jpg", "a/\x82\xA0.jpg", "b/dog.bmp", "b/deep/z.jpeg"};

} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home; // the child folders the runs remove go to this one's Trash
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }

    void openForm(const fs::path& history = {}) {
        writeContent(root() / "prog" / "Corvalin.ini",
                     "\"" + src().native() + "\",\"" + dst().native() + "\",\"\",0,1\r\n");
        m_vars = Module1{};
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog", {}, history},
                                         m_messages);
        m_form->frmHistory.setFactory([this] { return createHistoryWindow(*m_form); });
        QVERIFY(m_form->Form_Load());
        m_form->show();
        MoveController::of(*m_form).setYieldInterval(0);
    }

    frmHistory* openHistory() {
        m_form->ui.mnuHistory->trigger();
        return qobject_cast<frmHistory*>(m_form->frmHistory.window());
    }

    bool allPicturesBack() const {
        for (const std::string& picture : kPictures) {
            if (contentOf(src() / picture) != pictureContent(picture))
                return false;
        }
        return namesIn(dst()).empty() && trashedItems(m_home->trash()).empty();
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<OwnHome>(root() / "home");
        fs::create_directories(dst());
        for (const std::string& picture : kPictures)
            QVERIFY(writeContent(src() / picture, pictureContent(picture)));
        m_messages = ScriptedMessageBox{};
    }
    void cleanup() {
        m_form.reset();
        m_home.reset();
        fs::remove_all(root()); // Qt's own removal skips names that are not UTF-8
    }

    void undoFromTheWindow_data() {
        QTest::addColumn<QString>("during");
        QTest::addColumn<bool>("allBack");
        QTest::addColumn<QString>("state");
        QTest::newRow("to the end") << "" << true << "取り消し済み";
        QTest::newRow("cancelled") << "cancel" << false << "取り消し中断";
        QTest::newRow("main window closed") << "close" << false << "取り消し中断";
    }
    void undoFromTheWindow() {
        QFETCH(QString, during);
        QFETCH(bool, allBack);
        QFETCH(QString, state);
        openForm();
        m_form->Command1_Click();
        QCOMPARE(int(namesIn(dst()).size()), int(kPictures.size()));
        QVERIFY(!m_form->ui.Label4->text().isEmpty() && !m_form->ui.lblRunResult->text().isEmpty());
        m_form->ui.File2->setCurrentIndex(m_form->ui.File2->model()->index(0, 0));
        m_form->File2_Click(); // the preview shows a picture the undo takes away
        QVERIFY(m_form->ui.Label12->isVisible());
        frmHistory* history = openHistory();
        QVERIFY(history);
        QCOMPARE(history->lvwRuns->topLevelItemCount(), 1);
        const QTreeWidgetItem* row = history->lvwRuns->topLevelItem(0);
        QCOMPARE(row->text(1), QString("移動"));
        QCOMPARE(row->text(4), QString("4"));
        QCOMPARE(row->text(6), QString("2")); // both child folders
        QCOMPARE(row->text(8), QString("000000〜000003"));
        QCOMPARE(row->text(9), QString("完了"));

        bool busy = false;
        QTimer::singleShot(0, this, [&] {
            busy = m_form->isBusy() && m_form->runInProgress();
            m_form->Command1_Click(); // no run starts during an undo
            if (during == "cancel")
                QTest::mouseClick(history->cmdCancel, Qt::LeftButton);
            else if (during == "close")
                m_form->close();
        });
        m_messages.answers = {MessageAnswer::Yes};
        QTest::mouseClick(history->cmdUndo, Qt::LeftButton);
        QVERIFY(busy);
        QVERIFY(!m_form->isBusy());
        QCOMPARE(m_messages.shown.front().buttons, MessageButtons::YesNo);
        QVERIFY(m_messages.shown.front().text.find("通し番号は元に戻りません") != std::string::npos);
        QCOMPARE(allPicturesBack(), allBack);
        QCOMPARE(m_vars.SerialNo, 4); // never handed back
        // Nothing of the undone run is shown any more, however the undo ended.
        QCOMPARE(m_form->ui.Label4->text(), QString());
        QCOMPARE(m_form->ui.lblRunResult->text(), QString());
        QVERIFY(m_form->PreviewPath.empty() && m_form->ui.Image1->pixmap().isNull());
        QVERIFY(m_form->ui.Image1->isHidden() && !m_form->ui.Label12->isVisible());
        if (during == "close") {
            QVERIFY(!m_form->isVisible());
            return;
        }
        QCOMPARE(history->lvwRuns->topLevelItem(0)->text(9), state);
        QCOMPARE(m_messages.shown.size(), std::size_t(2)); // the question, then what came back
        m_messages.answers = {MessageAnswer::Yes};
        QTest::mouseClick(history->cmdUndo, Qt::LeftButton);
        QVERIFY(allPicturesBack());
    }

    // After an undo the same run stays chosen, showing its new state, though a newer run is listed.
    void undoneRunStaysChosen() {
        openForm();
        m_form->Command1_Click();
        fs::create_directories(src() / "new");
        QVERIFY(writeContent(src() / "new" / "later.jpg", "later"));
        m_form->Command1_Click();
        frmHistory* history = openHistory();
        QCOMPARE(history->lvwRuns->topLevelItemCount(), 2);
        history->lvwRuns->setCurrentItem(history->lvwRuns->topLevelItem(1));
        m_messages.answers = {MessageAnswer::Yes};
        QTest::mouseClick(history->cmdUndo, Qt::LeftButton);
        QCOMPARE(history->lvwRuns->indexOfTopLevelItem(history->lvwRuns->currentItem()), 1);
        QCOMPARE(history->lvwRuns->currentItem()->text(9), QString("取り消し済み"));
        QCOMPARE(contentOf(src() / "a" / "cat.jpg"), pictureContent("a/cat.jpg"));
    }

    // "No" to the question leaves everything as it is.
    void undoDeclined() {
        openForm();
        m_form->Command1_Click();
        frmHistory* history = openHistory();
        m_messages.answers = {MessageAnswer::No};
        QTest::mouseClick(history->cmdUndo, Qt::LeftButton);
        QCOMPARE(int(namesIn(dst()).size()), int(kPictures.size()));
        QCOMPARE(history->lvwRuns->topLevelItem(0)->text(9), QString("完了"));
    }

    // A journal cut short (here within its end record) is said for the chosen run, and undone as
    // far as it reads; the undo says so too. Reopened for the undo, it is whole again.
    void aJournalCutShortIsSaid() {
        openForm();
        m_form->Command1_Click();
        const fs::path journal = fs::directory_iterator(root() / "prog" / "history")->path();
        const std::string bytes = contentOf(journal);
        QVERIFY(writeContent(journal, bytes.substr(0, bytes.size() - 5)));
        const auto lines = std::count(bytes.begin(), bytes.end(), '\n') - 1;
        frmHistory* history = openHistory();
        QVERIFY(history->lblJournalEnd->isVisibleTo(history));
        QVERIFY2(history->lblJournalEnd->text().contains(QString("%1行目まで").arg(lines)),
                 qPrintable(history->lblJournalEnd->text()));
        m_messages.answers = {MessageAnswer::Yes};
        QTest::mouseClick(history->cmdUndo, Qt::LeftButton);
        QVERIFY(allPicturesBack());
        QVERIFY(m_messages.shown.back().text.find("行目までしか読めません") != std::string::npos);
        QVERIFY(!history->lblJournalEnd->isVisibleTo(history));
    }

    // Without a way back the run does not start; the message names the folder.
    void runRefusedWithoutJournal() {
        writeContent(root() / "file", "x");
        openForm(root() / "file" / "history");
        m_form->Command1_Click();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QVERIFY(m_messages.shown[0].text.find((root() / "file").native()) != std::string::npos);
        QVERIFY(m_messages.shown[0].text.find("処理を始めませんでした") != std::string::npos);
        QVERIFY(namesIn(dst()).empty());
        QVERIFY(m_form->ui.Command1->isVisible());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "test_history_window.moc"
