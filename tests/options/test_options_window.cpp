// The options dialog with the main window: its designed layout, the load sequence, the apply
// sequence of OK and Update, Cancel and Esc, the work modes it lays out, and the maker's wiring.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "options/ui/options_dialog.h"
#include "options/ui/options_factory.h"
#include "platform/file_ops.h"

#include "disk_helpers.h"
#include "own_trash.h"
#include "scripted_message_box.h"
#include "unready_volume.h"
#include "widget_place.h"

#include <QApplication>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvalin;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(corvalin::MessageAnswer)

class TestOptionsWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<test::OwnHome> m_home;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;

    fs::path root() const { return m_dir.path().toStdString(); }

    frmOptions* open() {
        m_form->mnuOpt1_Click();
        return qobject_cast<frmOptions*>(m_form->frmOptions.window());
    }
    static QString colourOf(QWidget* w) { return w->palette().color(QPalette::Window).name(); }
    static QString shownOf(QWidget* w) { return w->isVisibleTo(w->window()) ? "1" : "0"; }

private slots:
    void initTestCase() {
        QVERIFY(setWorkingFolder(root()));
        m_home = std::make_unique<test::OwnHome>(root() / "home");
    }

    void init() {
        fs::remove_all(root() / "dl");
        fs::remove(root() / "Corvalin.conf");
        test::makeEntries(root(), {"d:dl", "d:dl/cats", "f:dl/cats/a.jpg"});
        m_messages = ScriptedMessageBox{};
        m_vars = Module1{};
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root(), root()}, m_messages);
        m_form->frmOptions.setFactory([this] { return createOptionsWindow(*m_form); });
    }
    void cleanup() { m_form.reset(); }
    // QTemporaryDir cannot delete names that are not UTF-8.
    void cleanupTestCase() {
        m_home.reset();
        for (const auto& entry : fs::directory_iterator(root()))
            fs::remove_all(entry.path());
    }

    void designedLayout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("place"); // height 0: follows the font
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("tbsOptions") << "tbsOptions"
                                    << "client" << QRect(8, 0, 513, 371) << ""
                                    << "";
        QTest::newRow("picOptions_0") << "picOptions_0"
                                      << "client" << QRect(14, 32, 499, 335) << ""
                                      << "";
        QTest::newRow("Frame1") << "Frame1"
                                << "client" << QRect(24, 32, 481, 217)
                                << "ダウンロード先のフォルダを指定します。"
                                << "";
        QTest::newRow("Frame2") << "Frame2"
                                << "picOptions_0" << QRect(8, 224, 481, 97) << "オプション設定"
                                << "";
        QTest::newRow("Label1") << "Label1"
                                << "Frame1" << QRect(8, 16, 169, 0) << "親フォルダを選択してください。"
                                << "";
        QTest::newRow("Drive1") << "Drive1"
                                << "Frame1" << QRect(8, 32, 161, 20) << ""
                                << "親フォルダのドライブを指定します。";
        QTest::newRow("Dir1") << "Dir1"
                              << "Frame1" << QRect(8, 56, 161, 90) << ""
                              << "親フォルダを指定します。";
        QTest::newRow("File1") << "File1"
                               << "Frame1" << QRect(168, 32, 145, 114) << ""
                               << "";
        QTest::newRow("Label2") << "Label2"
                                << "Frame1" << QRect(8, 152, 305, 0) << "親フォルダのフルパス"
                                << "";
        QTest::newRow("Text1") << "Text1"
                               << "Frame1" << QRect(8, 168, 305, 18) << root().c_str()
                               << "親フォルダのフルパスを表示します。";
        QTest::newRow("Label3") << "Label3"
                                << "Frame1" << QRect(320, 16, 153, 0) << "子フォルダをいくつ作りますか"
                                << "";
        QTest::newRow("Text2") << "Text2"
                               << "Frame1" << QRect(320, 32, 73, 18) << "１"
                               << "作るサブフォルダの数を入力します。";
        QTest::newRow("Label4") << "Label4"
                                << "Frame1" << QRect(395, 35, 73, 17) << "フォルダ"
                                << "";
        QTest::newRow("Option1_0") << "Option1_0"
                                   << "Frame1" << QRect(320, 64, 145, 17) << "フォルダを作成します。"
                                   << "サブフォルダを作成します。";
        QTest::newRow("Option1_1") << "Option1_1"
                                   << "Frame1" << QRect(320, 88, 137, 17) << "フォルダを削除します。"
                                   << "親フォルダ以下のサブフォルダを削除します。";
        QTest::newRow("Check1") << "Check1"
                                << "Frame2" << QRect(8, 16, 249, 17)
                                << "ファイルを移動後フォルダをすぐに削除する。"
                                << "ファイル移動後すぐに親フォルダ以下のサブフォルダを削除します。";
        QTest::newRow("Check2")
            << "Check2"
            << "Frame2" << QRect(8, 32, 225, 17) << "通し番号を変更する。（６桁までの整数）"
            << "通し番号を修正します。チェックを入れてからテキストボックスに６桁までの整数を入れ"
               "てください。";
        QTest::newRow("Text3") << "Text3"
                               << "Frame2" << QRect(240, 32, 49, 18) << "0"
                               << "";
        QTest::newRow("Check3") << "Check3"
                                << "Frame2" << QRect(8, 48, 457, 17)
                                << "頭の通し番号を切り取る。（フォルダの中のファイルをすべてリネームする）"
                                << "チェックを入れると通し番号切り取りモードになります。";
        QTest::newRow("Check4")
            << "Check4"
            << "Frame2" << QRect(8, 64, 465, 17)
            << "頭の通し番号を切り取る。（ファイルを選択してサブフォルダを作成してそこへ移動する。）"
            << "";
        QTest::newRow("cmdOK") << "cmdOK"
                               << "client" << QRect(288, 376, 73, 25) << "OK"
                               << "オプションを有効にしてこのフォームを閉じます。";
        QTest::newRow("cmdCancel") << "cmdCancel"
                                   << "client" << QRect(368, 376, 73, 25) << "ｷｬﾝｾﾙ"
                                   << "オプション設定を有効にせずフォームを閉じます。";
        QTest::newRow("cmdApply") << "cmdApply"
                                  << "client" << QRect(448, 376, 73, 25) << "更新"
                                  << "フォームを閉じずにオプションを有効にします。";
    }
    void designedLayout() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, place);
        QFETCH(QString, toolTip);
        frmOptions* dialog = open();
        QVERIFY(dialog);
        auto* widget = dialog->findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        corvalin::test::verifyPlace(widget, place);
        QCOMPARE(widget->toolTip(), toolTip);
        const char* property = qobject_cast<QGroupBox*>(widget) ? "title" : "text";
        if (widget->property(property).isValid())
            QTEST(widget->property(property).toString(), "text");
        // Captions are condensed to fit rather than cut off.
        if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget) ||
            qobject_cast<QLabel*>(widget))
            QVERIFY(widget->sizeHint().width() <= widget->width() + 2);
    }

    void windowAndTab() {
        frmOptions* dialog = open();
        QCOMPARE(dialog->windowTitle(), QString("ｵﾌﾟｼｮﾝ"));
        QCOMPARE(dialog->size(), QSize(531, 407));
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->ui.tbsOptions->count(), 2);
        QCOMPARE(dialog->ui.tbsOptions->tabText(0), QString("オプション"));
        QCOMPARE(dialog->ui.tbsOptions->tabToolTip(0), QString("ｸﾞﾙｰﾌﾟ 1 のｵﾌﾟｼｮﾝの設定"));
        QCOMPARE(dialog->ui.tbsOptions->tabBar()->tabData(0).toString(), QString("Group1"));
        QCOMPARE(dialog->ui.tbsOptions->tabText(1), QString("詳細"));
        QCOMPARE(dialog->ui.tbsOptions->tabBar()->tabData(1).toString(), QString("Group2"));
        QCOMPARE(dialog->ui.chkPermanentDelete->text(), QString("ごみ箱を使わずに完全に削除する"));
        // A second choice of the menu entry brings the same dialog forward.
        QCOMPARE(open(), dialog);
        QVERIFY(dialog->isVisible());
    }

    void focusOrder() {
        frmOptions* dialog = open();
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        dialog->ui.Check2->setChecked(true); // Text3 takes focus only when enabled
        dialog->ui.tbsOptions->setFocus();
        const auto focusName = [dialog] {
            QWidget* focus = QApplication::focusWidget();
            return focus == dialog->ui.tbsOptions->tabBar() ? QString("tbsOptions") : focus->objectName();
        };
        QStringList order{focusName()};
        for (int i = 0; i < 15; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << focusName();
        }
        QCOMPARE(order, QStringList({"tbsOptions", "cmdOK", "cmdCancel", "cmdApply", "Drive1", "Dir1",
                                     "File1", "Text1", "Text2", "Option1_0", "Check1", "Text3", "Check2",
                                     "Check3", "Check4", "tbsOptions"}));
    }

    // The load sequence; a maker folder that is gone leaves the list on the working folder.
    void loadSequence_data() {
        QTest::addColumn<QByteArray>("makerPath");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("existing") << QByteArray("dl/cats") << QByteArray("dl/cats");
        QTest::newRow("gone") << QByteArray("dl/gone") << QByteArray("");
        QTest::newRow("empty") << QByteArray() << QByteArray("");
    }
    void loadSequence() {
        QFETCH(QByteArray, makerPath);
        QFETCH(QByteArray, shown);
        m_vars.MakerPath = makerPath.isEmpty() ? fs::path() : root() / makerPath.toStdString();
        m_vars.OptFlags = {OptionValue::number(1), OptionValue::number(0), OptionValue::number(1)};
        m_vars.SerialNo = -42;
        m_form->applyExtraOptions({.permanentDeletion = true});
        frmOptions* dialog = open();
        QVERIFY(dialog->ui.chkPermanentDelete->isChecked());
        const fs::path expected = shown.isEmpty() ? root() : root() / shown.toStdString();
        QCOMPARE(dialog->ui.Dir1->path(), expected);
        QCOMPARE(dialog->ui.File1->path(), expected);
        QCOMPARE(dialog->ui.Text1->text(), QString::fromStdString(expected.native()));
        QVERIFY(dialog->ui.Check1->isChecked());
        QVERIFY(!dialog->ui.Check2->isChecked());
        QCOMPARE(dialog->ui.Text3->text(), QString("-42"));
        QVERIFY(!dialog->ui.Text3->isEnabled());
        QVERIFY(!dialog->ui.Check3->isChecked());
        QVERIFY(dialog->ui.Check4->isChecked());
        QVERIFY(dialog->ui.Option1[0]->isChecked());
        QCOMPARE(dialog->ui.Text2->text(), QString("１"));
        QVERIFY(dialog->ui.Text2->isEnabled());
    }

    // OK and Update apply (the folder action included); Cancel, Esc and the close box apply nothing.
    // The number box as it reads after the press: above 999999 it shows 0, a text without a number
    // stays as typed.
    void buttons_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("serialNo");
        QTest::addColumn<QString>("shown");
        QTest::newRow("OK") << "cmdOK" << true << true << "123" << 123 << "123";
        QTest::newRow("Update") << "cmdApply" << true << false << "123" << 123 << "123";
        QTest::newRow("Update, a million") << "cmdApply" << true << false << "1000000" << 0 << "0";
        QTest::newRow("Update, abc") << "cmdApply" << true << false << "abc" << 0 << "abc";
        QTest::newRow("Cancel") << "cmdCancel" << false << true << "123" << 0 << "";
        QTest::newRow("Esc") << "Esc" << false << true << "123" << 0 << "";
        QTest::newRow("close box") << "close" << false << true << "123" << 0 << "";
    }
    void buttons() {
        QFETCH(QString, press);
        QFETCH(bool, applied);
        QFETCH(bool, closed);
        QFETCH(QString, typed);
        m_vars.SerialNo = 5;
        frmOptions* dialog = open();
        QPointer<frmOptions> alive(dialog);
        dialog->ui.Text1->setText(QString::fromStdString((root() / "dl/cats").native()));
        dialog->ui.Check1->setChecked(true);
        dialog->ui.Check2->setChecked(true);
        dialog->ui.Text3->setText(typed);
        dialog->ui.chkPermanentDelete->setChecked(true);
        dialog->findChild<QCheckBox*>("chkPictureType_png")->setChecked(true);
        dialog->findChild<QCheckBox*>("chkPictureType_tiff")->setChecked(true);
        dialog->findChild<QCheckBox*>("chkPictureType_jfif")->setChecked(true);
        dialog->findChild<QCheckBox*>("chkPlanBeforeMove")->setChecked(true);
        QVERIFY(dialog->ui.chkNotifyLongRuns->isChecked());
        dialog->ui.chkNotifyLongRuns->setChecked(false);
        QVERIFY(!dialog->ui.chkSkipDuplicates->isChecked());
        dialog->findChild<QCheckBox*>("chkSkipDuplicates")->setChecked(true);
        if (press == "Esc")
            QTest::keyClick(dialog->ui.Text3, Qt::Key_Escape);
        else if (press == "close")
            dialog->close();
        else
            dialog->findChild<QPushButton*>(press)->click();
        if (applied)
            QTEST(int(m_vars.SerialNo), "serialNo");
        else
            QCOMPARE(m_vars.SerialNo, 5);
        if (!closed)
            QTEST(dialog->ui.Text3->text(), "shown");
        QCOMPARE(m_vars.OptFlags[0].isOn(), applied);
        QCOMPARE(lookupEntry(root() / "dl/cats/cats_1"), applied ? EntryKind::Folder : EntryKind::None);
        QCOMPARE(m_vars.MakerPath, applied ? root() / "dl/cats" : fs::path());
        QCOMPARE(m_form->extraOptions().permanentDeletion, applied);
        QCOMPARE(readWholeFile(root() / "Corvalin.conf").ok()
                     ? readWholeFile(root() / "Corvalin.conf").value()
                     : "",
                 std::string(
                     applied ? "permanent_deletion=true\npicture_types=png,tiff,jfif\nplan_before_move=true\n"
                               "notify_long_runs=false\nskip_duplicates=true\n"
                             : ""));
        QCOMPARE(dialog->isVisible(), !closed);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(alive.isNull(), closed);
        QCOMPARE(m_form->frmOptions.window() == nullptr, closed);
    }

    void cancelAfterUpdateKeepsWhatWasApplied() {
        frmOptions* dialog = open();
        dialog->ui.Check1->setChecked(true);
        dialog->ui.cmdApply->click();
        dialog->ui.Check1->setChecked(false);
        dialog->ui.cmdCancel->click();
        QVERIFY(m_vars.OptFlags[0].isOn());
        QCOMPARE(colourOf(m_form->ui.Label14), QString("#ff0000"));
    }

    // The strip modes exclude each other (Check3 wins), the main window follows at once, and the
    // indicator always follows Check1.
    void workModes_data() {
        QTest::addColumn<bool>("check1");
        QTest::addColumn<bool>("check3");
        QTest::addColumn<bool>("check4");
        QTest::addColumn<QString>("ticksAfter"); // Check3, Check4 after Update; "OK": OK pressed
        QTest::addColumn<QString>("buttons");    // Command1..Command4 shown
        QTest::addColumn<QString>("lists");      // File2, File3 shown
        QTest::addColumn<QString>("label14");
        const QString red = "#ff0000", green = "#00ff00";
        QTest::newRow("move, delete on") << true << false << false << "00"
                                         << "1000"
                                         << "10" << red;
        QTest::newRow("move, delete off") << false << false << false << "00"
                                          << "1000"
                                          << "10" << green;
        QTest::newRow("in folder, delete on") << true << true << false << "10"
                                              << "0010"
                                              << "10" << red;
        QTest::newRow("in folder, delete off") << false << true << false << "10"
                                               << "0010"
                                               << "10" << green;
        QTest::newRow("into subfolder, delete on") << true << false << true << "01"
                                                   << "0001"
                                                   << "01" << red;
        QTest::newRow("into subfolder, delete off") << false << false << true << "01"
                                                    << "0001"
                                                    << "01" << green;
        QTest::newRow("both ticked") << false << true << true << "10"
                                     << "0010"
                                     << "10" << green;
        // One OK is enough, the dialog closing with it (its ticks are not looked at then).
        QTest::newRow("into subfolder by one OK") << false << false << true << "OK"
                                                  << "0001"
                                                  << "01" << green;
        QTest::newRow("in folder by one OK") << true << true << false << "OK"
                                             << "0010"
                                             << "10" << red;
    }
    void workModes() {
        QFETCH(bool, check1);
        QFETCH(bool, check3);
        QFETCH(bool, check4);
        QFETCH(QString, ticksAfter);
        frmOptions* dialog = open();
        dialog->ui.Option1[1]->setChecked(true);
        m_messages.answers = {MessageAnswer::No};
        dialog->ui.Check1->setChecked(check1);
        dialog->ui.Check3->setChecked(check3);
        dialog->ui.Check4->setChecked(check4);
        const auto tick = [](QCheckBox* box) {
            return box->isChecked() ? "1" : "0";
        };
        if (ticksAfter == "OK") {
            dialog->ui.cmdOK->click();
            QVERIFY(!m_form->frmOptions.window());
        } else {
            dialog->ui.cmdApply->click();
            QCOMPARE(QString(tick(dialog->ui.Check3)) + tick(dialog->ui.Check4), ticksAfter);
        }
        const Form1Ui& main = m_form->ui;
        QTEST(shownOf(main.Command1) + shownOf(main.Command2) + shownOf(main.Command3) +
                  shownOf(main.Command4),
              "buttons");
        QTEST(shownOf(main.File2) + shownOf(main.File3), "lists");
        QTEST(colourOf(main.Label14), "label14");
        QCOMPARE(m_vars.OptFlags[1].isOn(), check3);
        QCOMPARE(m_vars.OptFlags[2].isOn(), check4 && !check3);
    }

    // While any other run is going (a move run and an undo close the dialog as they start), OK and
    // Update change nothing; Cancel still closes.
    void otherRunBlocksApplying() {
        frmOptions* dialog = open();
        QVERIFY(dialog->ui.Dir1->setPath(root() / "dl/cats"));
        dialog->ui.Check3->setChecked(true);
        QVERIFY(m_form->beginRun());
        m_form->ui.Command2->show();
        dialog->ui.cmdOK->click();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QVERIFY(m_form->frmOptions.window());
        QVERIFY(m_form->ui.Command2->isVisibleTo(m_form.get()));
        QVERIFY(!m_vars.OptFlags[1].isOn());
        QCOMPARE(lookupEntry(root() / "dl/cats/cats_1"), EntryKind::None);
        m_form->endRun();
        dialog->ui.cmdApply->click();
        QVERIFY(m_vars.OptFlags[1].isOn());
    }

    // During a strip run OK and Update take the number, the options and the 詳細 page, and OK
    // closes the dialog. The folder action is refused with a message, and the layout waits for the
    // run's end, which shows the start button of the mode chosen now and the indicator of Check1.
    void applyDuringAStripRun_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<bool>("check3");
        QTest::addColumn<bool>("check4");
        QTest::addColumn<QString>("buttonsAfter"); // Command1..Command4
        QTest::addColumn<QString>("listsAfter");   // File2, File3
        QTest::newRow("OK, the same mode") << "cmdOK" << true << false << "0010"
                                           << "10";
        QTest::newRow("OK, into a subfolder") << "cmdOK" << false << true << "0001"
                                              << "01";
        QTest::newRow("Update, move mode") << "cmdApply" << false << false << "1000"
                                           << "10";
    }
    void applyDuringAStripRun() {
        QFETCH(QString, press);
        QFETCH(bool, check3);
        QFETCH(bool, check4);
        const fs::path strip = root() / "strip";
        fs::remove_all(strip);
        test::makeEntries(root(), {"d:strip", "f:strip/000001 b.jpg", "f:strip/000002 c.jpg"});
        QVERIFY(m_form->ui.Dir2->setPath(strip));
        frmOptions* dialog = open();
        const QPointer<frmOptions> alive(dialog);
        dialog->ui.Text1->setText(QString::fromStdString((root() / "dl/cats").native()));
        dialog->ui.Check3->setChecked(true);
        dialog->ui.cmdApply->click(); // makes cats_1
        const Form1Ui& main = m_form->ui;
        const auto buttons = [&] {
            return shownOf(main.Command1) + shownOf(main.Command2) + shownOf(main.Command3) +
                   shownOf(main.Command4);
        };
        QCOMPARE(buttons(), QString("0010"));
        QString during;
        QTimer::singleShot(0, dialog, [&] {
            dialog->ui.Text2->setText("2"); // would make cats_2
            dialog->ui.Check1->setChecked(true);
            dialog->ui.Check2->setChecked(true);
            dialog->ui.Text3->setText("55");
            dialog->ui.chkPermanentDelete->setChecked(true);
            dialog->ui.Check3->setChecked(check3);
            dialog->ui.Check4->setChecked(check4);
            const bool stripping = m_form->runInProgress();
            dialog->findChild<QPushButton*>(press)->click();
            during = (stripping ? "strip " : "idle ") + buttons();
        });
        main.Command3->click();
        QCOMPARE(during, QString("strip 0100"));
        QCOMPARE(test::allNames(strip), QByteArrayList({"b.jpg", "c.jpg"}));
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QCOMPARE(m_messages.shown[0].text,
                 std::string("実行中の処理が終わるまで、フォルダの作成と削除はできません。"));
        QCOMPARE(lookupEntry(root() / "dl/cats/cats_2"), EntryKind::None);
        QCOMPARE(m_vars.SerialNo, 55);
        QVERIFY(m_vars.OptFlags[0].isOn());
        QCOMPARE(m_vars.OptFlags[1].isOn(), check3);
        QCOMPARE(m_vars.OptFlags[2].isOn(), check4);
        QVERIFY(m_form->extraOptions().permanentDeletion);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(alive.isNull(), press == "cmdOK");
        QTEST(buttons(), "buttonsAfter");
        QTEST(shownOf(main.File2) + shownOf(main.File3), "listsAfter");
        QCOMPARE(colourOf(main.Label14), QString("#ff0000"));
    }

    // Reading the strip boxes loads the dialog without showing it; showing it later does not
    // load it again.
    void hiddenLoadThenShown() {
        m_vars.OptFlags[1] = OptionValue::number(1);
        m_form->ApplyWorkMode();
        auto* dialog = qobject_cast<frmOptions*>(m_form->frmOptions.window());
        QVERIFY(dialog);
        QVERIFY(!dialog->isVisible());
        QVERIFY(dialog->ui.Check3->isChecked());
        QVERIFY(!m_form->ui.Command1->isVisibleTo(m_form.get()));
        dialog->ui.Check4->setChecked(true);
        dialog->ui.Text1->setText("typed");
        m_vars.SerialNo = 77;
        QCOMPARE(open(), dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->ui.Check4->isChecked());
        QCOMPARE(dialog->ui.Text1->text(), QString("typed"));
        QCOMPARE(dialog->ui.Text3->text(), QString("0"));
    }

    // No button is a default button: Return presses the button that has the focus, opens the
    // highlighted folder of the maker's folder list, and does nothing anywhere else.
    void returnKey_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("opened"); // Dir1 went into its subfolder
        const int enter = Qt::Key_Enter;
        const int ret = Qt::Key_Return;
        for (const char* box :
             {"Text1", "Text2", "Text3", "Check1", "Check3", "Option1_0", "Drive1", "File1"})
            QTest::newRow(box) << box << ret << false << false << false;
        QTest::newRow("Text2, Enter") << "Text2" << enter << false << false << false;
        QTest::newRow("Dir1") << "Dir1" << ret << false << false << true;
        QTest::newRow("cmdOK") << "cmdOK" << ret << true << true << false;
        QTest::newRow("cmdOK, Enter") << "cmdOK" << enter << true << true << false;
        QTest::newRow("cmdApply") << "cmdApply" << ret << true << false << false;
        QTest::newRow("cmdCancel") << "cmdCancel" << ret << false << true << false;
    }
    void returnKey() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, applied);
        QFETCH(bool, closed);
        QFETCH(bool, opened);
        frmOptions* dialog = open();
        const QPointer<frmOptions> alive(dialog);
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        const fs::path dl = root() / "dl";
        QVERIFY(dialog->ui.Dir1->setPath(dl));
        dialog->ui.Dir1->setCurrentRow(dialog->ui.Dir1->count() - 1); // its subfolder cats
        dialog->ui.Check2->setChecked(true);
        dialog->ui.Text3->setText("123");
        auto* widget = dialog->findChild<QWidget*>(focus);
        QVERIFY(widget);
        widget->setFocus();
        QCOMPARE(QApplication::focusWidget(), widget);
        QTest::keyClick(widget, Qt::Key(key));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(m_vars.SerialNo, applied ? 123 : 0);
        QCOMPARE(lookupEntry(dl / "dl_1"), applied ? EntryKind::Folder : EntryKind::None);
        QCOMPARE(alive.isNull(), closed);
        if (!closed)
            QCOMPARE(dialog->ui.Dir1->path(), opened ? dl / "cats" : dl);
    }

    // The tab strip: Ctrl+Tab (seen by the window before the focused control) or a click selects the
    // next tab; no other Tab combination does, also with the focus on the strip itself. The second
    // page shows alone: the first page's frames, the maker's included, are out of sight, and come
    // back with the first tab.
    void tabs_data() {
        QTest::addColumn<int>("key"); // 0: a click on the second tab
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("onStrip"); // the key pressed with the focus on the strip, not in Text1
        QTest::addColumn<int>("selected");
        const int ctrl = Qt::ControlModifier;
        const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        const int ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
        QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << ctrl << false << 1;
        QTest::newRow("click") << 0 << 0 << false << 1;
        QTest::newRow("Ctrl+Shift+Tab") << int(Qt::Key_Backtab) << ctrlShift << false << 0;
        QTest::newRow("Ctrl+Alt+Tab") << int(Qt::Key_Tab) << ctrlAlt << false << 0;
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << false << 0;
        QTest::newRow("Ctrl+Tab on the strip") << int(Qt::Key_Tab) << ctrl << true << 1;
        QTest::newRow("Ctrl+Shift+Tab on the strip") << int(Qt::Key_Backtab) << ctrlShift << true << 0;
        QTest::newRow("Ctrl+Alt+Tab on the strip") << int(Qt::Key_Tab) << ctrlAlt << true << 0;
        QTest::newRow("Ctrl+Alt+Shift+Tab on the strip")
            << int(Qt::Key_Backtab) << (ctrlAlt | int(Qt::ShiftModifier)) << true << 0;
    }
    void tabs() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, onStrip);
        QFETCH(int, selected);
        frmOptions* dialog = open();
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        const auto& ui = dialog->ui;
        const auto pagesShown = [&] {
            return QString("%1%2%3")
                .arg(ui.picOptions[0]->x() == OptionsDialogUi::kPageLeft && ui.picOptions[0]->isEnabled())
                .arg(ui.picOptions[1]->x() == OptionsDialogUi::kPageLeft && ui.picOptions[1]->isEnabled())
                .arg(ui.Frame1->isVisible());
        };
        const QRect designedFrame1 = ui.Frame1->geometry();
        QCOMPARE(pagesShown(), QString("101"));
        QWidget* focus = onStrip ? static_cast<QWidget*>(ui.tbsOptions->tabBar()) : ui.Text1;
        focus->setFocus();
        if (key == 0)
            QTest::mouseClick(ui.tbsOptions->tabBar(), Qt::LeftButton, {},
                              ui.tbsOptions->tabBar()->tabRect(1).center());
        else
            QTest::keyClick(focus, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(ui.tbsOptions->currentIndex(), selected);
        QCOMPARE(pagesShown(), selected ? QString("010") : QString("101"));
        QTest::keyClick(dialog, Qt::Key_Tab, Qt::ControlModifier); // the last tab is followed by the first
        QCOMPARE(ui.tbsOptions->currentIndex(), 1 - selected);
        QTest::keyClick(dialog, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(pagesShown(), selected ? QString("010") : QString("101"));
        ui.tbsOptions->setCurrentIndex(0);
        QCOMPARE(pagesShown(), QString("101"));
        QCOMPARE(ui.Frame1->geometry(), designedFrame1);
    }

    // The maker end to end: fifty numbered folders, then the parent deleted after the question.
    void makeThenDelete() {
        frmOptions* dialog = open();
        const fs::path cats = root() / "dl/cats";
        QVERIFY(dialog->ui.Dir1->setPath(cats));
        dialog->ui.Text2->setText("50");
        dialog->ui.cmdApply->click();
        QCOMPARE(dialog->ui.Dir1->subfolderCount(), 50);
        QCOMPARE(dialog->ui.Dir1->subfolder(49), cats / "cats_50");
        QCOMPARE(m_vars.MakerPath, cats);

        dialog->ui.Option1[1]->click();
        QVERIFY(!dialog->ui.Text2->isEnabled());
        m_messages.answers = {MessageAnswer::Yes};
        dialog->ui.cmdApply->click();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QCOMPARE(lookupEntry(cats), EntryKind::None);
        QVERIFY(test::trashedItems(m_home->trash()).contains(cats));
        // The list moves up to what is left; the path box keeps the deleted folder.
        QCOMPARE(dialog->ui.Dir1->path(), root() / "dl");
        QCOMPARE(dialog->ui.Text1->text(), QString::fromStdString(cats.native()));
        dialog->ui.cmdApply->click();
        QCOMPARE(m_messages.shown.back().text, std::string("フォルダが見つかりません。"));
        dialog->ui.Option1[0]->click();
        QVERIFY(dialog->ui.Text2->isEnabled());
    }

    // Options that could not be read are taken again only from the 「詳細」 tab seen: OK on the first
    // tab leaves the file as it is and the runs refused; once the tab was shown, OK writes it anew.
    void unreadableOptionsChosenAgain() {
        const fs::path file = root() / "Corvalin.conf";
        test::writeBytes(file, std::string(2 << 20, '#'));
        QVERIFY(!m_form->readExtraOptionsForRun());
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        open()->ui.cmdOK->click();
        QVERIFY(m_form->extraOptionsUnreadable());
        QCOMPARE(fs::file_size(file), std::uintmax_t(2 << 20));
        QVERIFY(!m_form->readExtraOptionsForRun());
        frmOptions* dialog = open();
        dialog->ui.tbsOptions->setCurrentIndex(1);
        dialog->ui.chkPermanentDelete->setChecked(true);
        dialog->ui.cmdOK->click();
        QVERIFY(!m_form->extraOptionsUnreadable());
        QVERIFY(readWholeFile(file).value().starts_with("permanent_deletion=true\n"));
        QVERIFY(m_form->readExtraOptionsForRun());
        QCOMPARE(m_messages.shown.size(), std::size_t(2));
    }

    // The delete question answered No re-reads the lists and Cancel does not; either way nothing is
    // deleted and the rest of the apply sequence (the serial number here) still runs.
    void deleteAnsweredNoOrCancel_data() {
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<int>("listedAfter"); // subfolders Dir1 shows
        QTest::newRow("No") << MessageAnswer::No << 2;
        QTest::newRow("Cancel") << MessageAnswer::Cancel << 1;
    }
    void deleteAnsweredNoOrCancel() {
        QFETCH(MessageAnswer, answer);
        frmOptions* dialog = open();
        const fs::path dl = root() / "dl";
        QVERIFY(dialog->ui.Dir1->setPath(dl));
        dialog->ui.Option1[1]->click();
        dialog->ui.Check2->setChecked(true);
        dialog->ui.Text3->setText("77");
        test::makeEntries(root(), {"d:dl/arrived"}); // shown only once the lists are read again
        m_messages.answers = {answer};
        dialog->ui.cmdApply->click();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QCOMPARE(m_messages.shown[0].buttons, MessageButtons::YesNoCancel);
        QCOMPARE(lookupEntry(dl / "cats" / "a.jpg"), EntryKind::File);
        QTEST(dialog->ui.Dir1->subfolderCount(), "listedAfter");
        QCOMPARE(m_vars.SerialNo, 77);
    }

    // A volume of the maker's drive list that cannot be opened asks Retry/Cancel, as the main
    // window's does: Retry once it is there moves the folder list onto it; Cancel puts the drive
    // list back on the folder's volume.
    void makerDriveNotReady_data() {
        QTest::addColumn<bool>("retry");
        QTest::newRow("retry after inserting") << true;
        QTest::newRow("cancel") << false;
    }
    void makerDriveNotReady() {
        QFETCH(bool, retry);
        frmOptions* dialog = open();
        const fs::path stick = root() / "stick";
        fs::remove_all(stick);
        const fs::path before = dialog->ui.Dir1->path();
        const fs::path home =
            test::chooseUnreadyVolume(dialog->ui.Drive1, before, stick, root(), m_messages, retry);
        test::checkUnreadyQuestion(m_messages, stick);
        QCOMPARE(dialog->ui.Dir1->path(), retry ? stick : before);
        QCOMPARE(dialog->ui.Drive1->drive(), retry ? stick : home);
        fs::remove_all(stick);
    }

    // A shutdown while the deletion question waits destroys the dialog; the action ends without
    // touching it.
    void closedWhileAsking() {
        frmOptions* dialog = open();
        const QPointer<frmOptions> alive(dialog);
        const fs::path cats = root() / "dl/cats";
        QVERIFY(dialog->ui.Dir1->setPath(cats));
        dialog->ui.Option1[1]->click();
        m_messages.answers = {MessageAnswer::Yes};
        m_messages.onShow = [this](const ScriptedMessageBox::Shown&) {
            m_form->closeSecondaryWindows();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        dialog->ui.cmdOK->click();
        QVERIFY(alive.isNull());
        QCOMPARE(lookupEntry(cats), EntryKind::None);
    }

    // A folder name that is not UTF-8 reaches the disk with its own bytes while the path box
    // shows it as the lists do (Shift-JIS decoded); a typed path is taken as typed.
    void folderNameNotUtf8() {
        const fs::path odd = root() / "dl/\x93\xfa";
        test::makeEntries(root(), {"d:dl/\x93\xfa"});
        m_vars.MakerPath = odd;
        frmOptions* dialog = open();
        QVERIFY(dialog->ui.Text1->text().endsWith("/dl/日"));
        dialog->ui.cmdApply->click();
        QCOMPARE(lookupEntry(odd / "\x93\xfa_1"), EntryKind::Folder);
        QCOMPARE(m_vars.MakerPath, odd);
        dialog->ui.Text1->setText(QString::fromStdString((root() / "dl/typed").native()));
        dialog->ui.cmdApply->click();
        QCOMPARE(lookupEntry(root() / "dl/typed/typed_1"), EntryKind::Folder);
    }
};

QTEST_MAIN(TestOptionsWindow)
#include "test_options_window.moc"
