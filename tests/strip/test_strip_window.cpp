// The strip runs as the main window shows them: the running layout, the counter and names, the
// end steps after a normal end, a cancel, a close and a refusal, and the messages.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "disk_helpers.h"
#include "scripted_message_box.h"
#include "temp_tree.h"

#include <QtTest>

#include <functional>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

class TestStripWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;
    QStringList m_seen; // the window at each yield of the run

    fs::path root() const { return pathOf(m_dir); }
    fs::path folder() const { return root() / "cats"; }

    // The window in a strip mode as the options dialog leaves it, showing the folder to strip.
    void openInMode(int flag, const QByteArrayList& files) {
        for (const QByteArray& name : files)
            writeFile(folder() / name.toStdString(), name.toStdString());
        m_vars = Module1{};
        m_vars.OptFlags[flag] = OptionValue::number(1);
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        m_form->ApplyWorkMode();
        (flag == 1 ? m_form->ui.Command3 : m_form->ui.Command4)->show();
        QVERIFY(m_form->ui.Dir2->setPath(folder()));
        m_form->show();
    }
    QString state() const {
        const Form1Ui& ui = m_form->ui;
        QString buttons;
        for (QWidget* button : {ui.Command1, ui.Command2, ui.Command3, ui.Command4})
            buttons += button->isVisibleTo(m_form.get()) ? "1" : "0";
        buttons += ui.Command2->isEnabled() ? "e" : "d";
        return QStringList{"buttons",
                           buttons,
                           "heading",
                           ui.Label12->isVisibleTo(m_form.get()) ? "1" : "0",
                           ui.Label12->text(),
                           "counter",
                           ui.Label11->text(),
                           "new",
                           ui.Label4->text(),
                           "preview",
                           QString::fromStdString(m_form->PreviewPath.filename().native())}
            .join(' ');
    }
    // Clicks `button`; `atYield` runs at each yield of the run with its number.
    void runWith(QPushButton* button, const std::function<void(int)>& atYield = {}) {
        m_seen.clear();
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            m_seen << state();
            if (atYield)
                atYield(int(m_seen.size()));
        });
        watcher.start(0);
        button->click();
        watcher.stop();
        // At most one of the four buttons of the slot shows, during the run and after its end.
        for (const QString& seen : m_seen + QStringList{state()})
            QVERIFY2(seen.section(' ', 1, 1).left(4).count('1') <= 1, qPrintable(seen));
    }
    QByteArrayList entriesOf(FileList* list) const {
        QByteArrayList names;
        for (int j = 0; j < list->entryCount(); ++j)
            names << QByteArray::fromStdString(list->entry(j));
        return names;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        fs::remove_all(root());
        fs::create_directories(root() / "prog");
        fs::create_directories(folder());
        m_messages = ScriptedMessageBox{};
        m_form.reset();
    }

    void inFolderRun() {
        openInMode(1, {"000001 a.jpg", "000002 b.jpg", "c.jpg"});
        runWith(m_form->ui.Command3);
        QCOMPARE(m_seen.value(0),
                 QString("buttons 0100e heading 1 リネーム中イメージ counter 3/3 new  preview "));
        QCOMPARE(
            m_seen.value(1),
            QString("buttons 0100e heading 1 リネーム中イメージ counter 3/3 new a.jpg preview 000001 a.jpg"));
        QCOMPARE(
            state(),
            QString("buttons 0010e heading 0 選択されたイメージ counter 1/3 new b.jpg preview 000002 b.jpg"));
        QCOMPARE(entriesOf(m_form->ui.File2), QByteArrayList({"a.jpg", "b.jpg", "c.jpg"}));
        QCOMPARE(m_form->ui.Label15->text(), QString("3"));
        QCOMPARE(m_form->ui.lblRunResult->text(), QString("完了: 通し番号を切り取ったファイル 2 個"));
        QCOMPARE(m_form->ui.Label2->text(), QString("通し番号を切り取るフォルダを指定"));
        QVERIFY(m_messages.shown.empty());
        QVERIFY(!m_form->runInProgress());
    }

    // The counter as it steps: entries still to come over all entries (or over the selected ones),
    // from the start to the restored layout; an empty folder shows 0/0 and restores the layout.
    void counterSteps_data() {
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("files"); // numbered files, 000000 f0.jpg onwards
        QTest::addColumn<QList<int>>("selectedRows");
        QTest::addColumn<QStringList>("counters");
        QTest::addColumn<QString>("buttonsAfter");
        QStringList ten;
        for (int left = 10; left >= 0; --left)
            ten << QString("%1/10").arg(left);
        QTest::newRow("ten in the folder") << 1 << 10 << QList<int>{} << ten << "0010e";
        QTest::newRow("empty folder") << 1 << 0 << QList<int>{} << QStringList{"0/0"} << "0010e";
        QTest::newRow("three selected apart")
            << 2 << 10 << QList<int>{4, 7, 9} << QStringList{"7/9", "2/3", "1/3", "0/3"} << "0001e";
    }
    void counterSteps() {
        QFETCH(int, flag);
        QFETCH(int, files);
        QFETCH(QList<int>, selectedRows);
        QByteArrayList names;
        for (int i = 0; i < files; ++i)
            names << QByteArray("00000") + QByteArray::number(i) + " f" + QByteArray::number(i) + ".jpg";
        openInMode(flag, names);
        m_form->ui.Label11->setText("7/9"); // a strip in a folder sets it at once, into a subfolder not
        for (int row : selectedRows)
            m_form->ui.File3->selectionModel()->select(m_form->ui.File3->model()->index(row, 0),
                                                       QItemSelectionModel::Select);
        runWith(flag == 1 ? m_form->ui.Command3 : m_form->ui.Command4);
        QStringList counters;
        for (const QString& seen : m_seen + QStringList{state()}) {
            const QString counter = seen.section(" counter ", 1).section(' ', 0, 0);
            if (counters.isEmpty() || counters.last() != counter)
                counters << counter;
        }
        QTEST(counters, "counters");
        QTEST(state().section(' ', 1, 1), "buttonsAfter");
        QVERIFY(state().contains(" heading 0 選択されたイメージ "));
    }

    // Taken names leave their files as they are; one message afterwards, over the new list.
    void leftFilesAreToldOnceAtTheEnd() {
        openInMode(1, {"000001 cat.jpg", "000002 cat.jpg", "000003 .x"});
        QString behind;
        m_messages.onShow = [&](const ScriptedMessageBox::Shown&) {
            behind = state();
        };
        runWith(m_form->ui.Command3);
        QCOMPARE(test::allNames(folder()), QByteArrayList({"000002 cat.jpg", "000003 .x", "cat.jpg"}));
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QCOMPARE(m_messages.shown[0].icon, MessageIcon::Information);
        QVERIFY(QString::fromStdString(m_messages.shown[0].text)
                    .startsWith("通し番号を切り取れなかったファイルが2個"));
        QVERIFY(behind.startsWith("buttons 0010e heading 0"));
        QCOMPARE(entriesOf(m_form->ui.File2), QByteArrayList({"000002 cat.jpg", "000003 .x", "cat.jpg"}));
    }

    // A cancel finishes the file in hand; the next run can be cancelled again.
    void cancelTwice() {
        openInMode(1, {"000001 a.jpg", "000002 b.jpg", "000003 c.jpg"});
        const auto cancelAtFirstYield = [this](int yield) {
            if (yield == 1)
                m_form->ui.Command2->click();
        };
        runWith(m_form->ui.Command3, cancelAtFirstYield);
        QCOMPARE(test::allNames(folder()), QByteArrayList({"000002 b.jpg", "000003 c.jpg", "a.jpg"}));
        QVERIFY(m_seen.value(1).startsWith("buttons 0100d"));
        QCOMPARE(
            state(),
            QString("buttons 0010e heading 0 選択されたイメージ counter 2/3 new a.jpg preview 000001 a.jpg"));
        QCOMPARE(m_form->CancelFlag, std::int16_t(0));
        runWith(m_form->ui.Command3, cancelAtFirstYield);
        QCOMPARE(test::allNames(folder()), QByteArrayList({"000003 c.jpg", "a.jpg", "b.jpg"}));
        QCOMPARE(m_form->ui.Label11->text(), QString("2/3"));
    }

    // Closing during the run: the file in hand is finished, then the window closes and saves.
    void closeDuringTheRun() {
        openInMode(1, {"000001 a.jpg", "000002 b.jpg"});
        runWith(m_form->ui.Command3, [this](int yield) {
            if (yield == 1)
                m_form->close();
        });
        QCOMPARE(test::allNames(folder()), QByteArrayList({"000002 b.jpg", "a.jpg"}));
        QVERIFY(!m_form->isVisible());
        QVERIFY(fs::exists(root() / "prog" / "Corvalin.ini"));
    }

    // No run starts inside another.
    void noRunInsideARun() {
        openInMode(1, {"000001 a.jpg"});
        runWith(m_form->ui.Command3, [this](int) { m_form->Command4_Click(); });
        QCOMPARE(test::allNames(folder()), QByteArrayList({"a.jpg"}));
    }

    void intoSubfolderRun() {
        openInMode(2, {"000001 a.jpg", "000002 b.jpg", "000003 c.jpg", "000004 d.jpg", "e.jpg"});
        for (int row : {0, 2, 4})
            m_form->ui.File3->selectionModel()->select(m_form->ui.File3->model()->index(row, 0),
                                                       QItemSelectionModel::Select);
        QVERIFY(!m_form->ui.File2->isVisibleTo(m_form.get()));
        runWith(m_form->ui.Command4);
        QCOMPARE(test::allNames(folder()),
                 QByteArrayList({"000002 b.jpg", "000004 d.jpg", "cats(1)", "e.jpg"}));
        QCOMPARE(test::allNames(folder() / "cats(1)"), QByteArrayList({"a.jpg", "c.jpg"}));
        QVERIFY(m_seen.value(0).startsWith("buttons 0100e heading 1 リネーム中イメージ counter 0/0"));
        QCOMPARE(
            state(),
            QString("buttons 0001e heading 0 選択されたイメージ counter 1/3 new c.jpg preview 000003 c.jpg"));
        QCOMPARE(entriesOf(m_form->ui.File3), QByteArrayList({"000002 b.jpg", "000004 d.jpg", "e.jpg"}));
        QCOMPARE(m_form->ui.Dir2->subfolderCount(), 1);
        QCOMPARE(m_form->ui.Label15->text(), QString("3"));
        QCOMPARE(m_form->ui.lblRunResult->text(),
                 QString("完了: 通し番号を切り取ったファイル 2 個（サブフォルダ「cats(1)」へ移動）"));
    }

    // Nothing selected: the empty numbered subfolder is made all the same, the counter keeps what
    // it showed, and the idle layout comes back.
    void intoSubfolderWithNothingSelected() {
        openInMode(2, {"000001 a.jpg"});
        m_form->ui.Label11->setText("7/9");
        runWith(m_form->ui.Command4);
        QCOMPARE(test::allNames(folder()), QByteArrayList({"000001 a.jpg", "cats(1)"}));
        QCOMPARE(test::allNames(folder() / "cats(1)"), QByteArrayList());
        QCOMPARE(state(), QString("buttons 0001e heading 0 選択されたイメージ counter 7/9 new  preview "));
        QCOMPARE(m_form->ui.Dir2->subfolderCount(), 1);
        QVERIFY(m_messages.shown.empty());
    }

    // A cancel: the file in hand is moved completely, the rest of the selection stays, the
    // subfolder remains, and the next run is not cancelled.
    void intoSubfolderCancelled() {
        openInMode(2, {"000001 a.jpg", "000002 b.jpg", "000003 c.jpg"});
        m_form->ui.File3->selectAll();
        runWith(m_form->ui.Command4, [this](int yield) {
            if (yield == 1)
                m_form->ui.Command2->click();
        });
        QCOMPARE(test::allNames(folder()), QByteArrayList({"000002 b.jpg", "000003 c.jpg", "cats(1)"}));
        QCOMPARE(test::allNames(folder() / "cats(1)"), QByteArrayList({"a.jpg"}));
        QVERIFY(state().startsWith("buttons 0001e heading 0"));
        QCOMPARE(m_form->CancelFlag, std::int16_t(0));
        m_form->ui.File3->selectAll();
        runWith(m_form->ui.Command4);
        QCOMPARE(test::allNames(folder() / "cats(2)"), QByteArrayList({"b.jpg", "c.jpg"}));
        QCOMPARE(test::allNames(folder()), QByteArrayList({"cats(1)", "cats(2)"}));
    }

    // All 100 names taken: the message, nothing made or moved, the idle layout back, the
    // selection kept for the next try.
    void allSubfolderNamesTaken() {
        for (int n = 1; n <= 100; ++n)
            fs::create_directory(folder() / ("cats(" + std::to_string(n) + ")"));
        openInMode(2, {"000001 a.jpg"});
        m_form->ui.File3->selectAll();
        runWith(m_form->ui.Command4);
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QCOMPARE(m_messages.shown[0].text,
                 std::string("サブフォルダが作れません。\r\nサブフォルダを削除してから実行して下さい。"));
        QCOMPARE(m_messages.shown[0].buttons, MessageButtons::Ok);
        QCOMPARE(m_messages.shown[0].icon, MessageIcon::None);
        QCOMPARE(state(), QString("buttons 0001e heading 0 選択されたイメージ counter 0/0 new  preview "));
        QCOMPARE(test::allNames(folder()).size(), 101);
        QVERIFY(fs::exists(folder() / "000001 a.jpg"));
        QVERIFY(m_form->ui.File3->isSelected(0));
    }
};

QTEST_MAIN(TestStripWindow)
#include "test_strip_window.moc"
