// The main window: its designed layout, the start-up state, the navigation rules, the busy guard
// and the shutdown sequence.
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/window_slot.h"
#include "disk_helpers.h"
#include "history/run_journal.h"
#include "platform/paths.h"
#include "scripted_message_box.h"
#include "temp_tree.h"
#include "unready_volume.h"
#include "widget_place.h"

#include <QApplication>
#include <QMenuBar>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>
#include <optional>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

class TestForm1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedMessageBox m_messages;
    Module1 m_vars;

    fs::path root() const { return pathOf(m_dir); }
    SettingsFiles files() const { return {root() / "prog", root() / "prog"}; }
    std::unique_ptr<Form1> makeForm() {
        m_vars = Module1{};
        return std::make_unique<Form1>(m_vars, files(), m_messages);
    }
    static QString colourOf(QWidget* w) {
        return w->autoFillBackground() ? w->palette().color(QPalette::Window).name() : QString();
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        fs::remove_all(root());
        fs::create_directories(root() / "prog");
        fs::create_directories(root() / "src" / "a");
        fs::create_directories(root() / "dst");
        writeFile(root() / "dst" / "1.jpg");
        writeFile(root() / "dst" / "2.jpg");
        m_messages = ScriptedMessageBox{};
    }

    void designedLayout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<bool>("visible");
        const QString previewTip = "ファイルをクリックすると縮小画像を表示します。";
        QTest::newRow("Drive1") << "Drive1" << QRect(8, 24, 169, 20) << ""
                                << "移動元のドライブを指定します。" << true;
        QTest::newRow("Dir2") << "Dir2" << QRect(184, 48, 169, 104) << ""
                              << "移動先のフォルダを指定します。" << true;
        QTest::newRow("File1") << "File1" << QRect(8, 160, 169, 126) << "" << previewTip << true;
        QTest::newRow("File3") << "File3" << QRect(184, 160, 169, 126) << ""
                               << "" << false;
        QTest::newRow("Label4") << "Label4" << QRect(8, 304, 169, 17) << ""
                                << "移動後の通し番号付のファイルネームを表示します" << true;
        QTest::newRow("Label6") << "Label6" << QRect(200, 304, 153, 17) << "0/0"
                                << "ファイルのあるフォルダの数とフォルダの総数を表示します。" << true;
        QTest::newRow("Label14") << "Label14" << QRect(184, 304, 17, 17) << ""
                                 << "赤い時は移動後フォルダも削除します。オプションタグから設定します。"
                                 << true;
        QTest::newRow("Label11") << "Label11" << QRect(232, 344, 121, 17) << "0/0"
                                 << "残りのファイル数とファイル総数を表示します。" << true;
        QTest::newRow("Label13") << "Label13" << QRect(112, 376, 129, 17) << "フォルダ構成を調査中"
                                 << "" << false;
        QTest::newRow("Picture1") << "Picture1" << QRect(8, 344, 89, 65) << ""
                                  << "縮小画像を表示します。" << true;
        QTest::newRow("Command1") << "Command1" << QRect(256, 368, 97, 33) << "ファイル移動"
                                  << "移動を開始します。" << true;
        QTest::newRow("Command2") << "Command2" << QRect(256, 368, 97, 33) << "キャンセル"
                                  << "処理を中断します。" << false;
        QTest::newRow("Command3") << "Command3" << QRect(256, 368, 97, 33) << "通し番号削除"
                                  << "フォルダの中のすべてのファイルの通し番号を切り取ります。" << false;
        QTest::newRow("Command4")
            << "Command4" << QRect(256, 368, 97, 33) << "通し番号削除"
            << "サブフォルダを作成してファイルを移動します。ファイルのマルチ選択も可能です。" << false;
        // Headings: their height follows the font, their place does not.
        QTest::newRow("Label1") << "Label1" << QRect(8, 8, 169, 0) << "移動元親フォルダ指定"
                                << "" << true;
        QTest::newRow("Label9") << "Label9" << QRect(232, 328, 113, 0) << "移動中ファイル数"
                                << "" << true;
        QTest::newRow("Label12") << "Label12" << QRect(8, 328, 89, 0) << "選択されたイメージ"
                                 << "" << false;
    }
    void designedLayout() {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QFETCH(bool, visible);
        auto form = makeForm();
        form->show();
        auto* widget = form->findChild<QWidget*>(name);
        QVERIFY(widget);
        corvalin::test::verifyPlace(widget, place);
        QCOMPARE(widget->toolTip(), toolTip);
        QCOMPARE(widget->isVisible(), visible);
        if (auto* label = qobject_cast<QLabel*>(widget))
            QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            QCOMPARE(button->text(), text);
    }

    void clientAreaAndMenus() {
        auto form = makeForm();
        QCOMPARE(form->centralWidget()->size(), QSize(364, 415));
        QStringList entries;
        for (QAction* top : form->menuBar()->actions()) {
            entries << top->menu()->objectName() + "=" + top->text();
            for (QAction* entry : top->menu()->actions())
                entries << entry->objectName() + (entry->isSeparator() ? "=-" : "=" + entry->text());
        }
        QCOMPARE(entries, QStringList({"mnuOpt0=オプション", "mnuOpt1=オプション",
                                       "mnuPlan=移動の予定を表示...", "mnuHistory=履歴と元に戻す...",
                                       "mnuLi1=-", "mnuEnd=終了", "mnuVer1=バージョン情報", "mnuHelp=使い方",
                                       "mnuLi2=-", "mnuVer2=バージョン情報"}));
    }

    void focusOrder() {
        auto form = makeForm();
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->ui.Drive1->setFocus();
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QStringList({"Drive1", "Dir1", "File1", "Drive2", "Dir2", "File2", "Command1"}));
        // Enter on the focused button presses it.
        QSignalSpy pressed(form->ui.Command1, &QPushButton::clicked);
        QTest::keyClick(form->ui.Command1, Qt::Key_Return);
        QTRY_COMPARE(pressed.count(), 1);
    }

    void firstStartShowsTheProgramFolderAndSavesAtOnce() {
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        const fs::path prog = root() / "prog";
        QCOMPARE(form->ui.Dir1->path(), prog);
        QCOMPARE(form->ui.Dir2->path(), prog);
        QCOMPARE(form->ui.Label10->text(), QString("prog"));
        QCOMPARE(colourOf(form->ui.Label14), QColor(0, 255, 0).name());
        QCOMPARE(form->ui.Label15->text(), QString("1")); // the settings file itself
        QVERIFY(form->ui.Label7->isHidden());
        QCOMPARE(readFile(prog / "Corvalin.ini"),
                 "\"" + prog.native() + "\",\"" + prog.native() + "\",\"\",1,0\r\n");
    }

    void savedFoldersAndOptionAreShown() {
        writeFile(root() / "prog" / "Corvalin.ini",
                  "\"" + (root() / "src").native() + "\",\"" + (root() / "dst").native() + "\",\"\",0,1\r\n");
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        QCOMPARE(form->ui.Dir1->path(), root() / "src");
        QCOMPARE(form->ui.File2->path(), root() / "dst");
        QCOMPARE(form->ui.File3->path(), root() / "dst");
        QCOMPARE(form->ui.Label10->text(), QString("src"));
        QCOMPARE(form->ui.Label15->text(), QString("2"));
        QCOMPARE(colourOf(form->ui.Label14), QColor(255, 0, 0).name());
    }

    // A start-up that stops keeps every control it had not set yet in its designed state: a field
    // of the wrong kind before the window is touched, a saved folder that is gone after the preview
    // heading and border were set.
    void stoppedStartUpKeepsTheDesignedState_data() {
        QTest::addColumn<QString>("fourthField");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("designedPreview");
        QTest::newRow("text fourth field") << "\"text\""
                                           << "src" << true;
        QTest::newRow("saved folder gone") << "0"
                                           << "gone" << false;
    }
    void stoppedStartUpKeepsTheDesignedState() {
        QFETCH(QString, fourthField);
        QFETCH(QString, source);
        QFETCH(bool, designedPreview);
        writeFile(root() / "prog" / "Corvalin.ini", "\"" + (root() / source.toStdString()).native() +
                                                        "\",\"" + (root() / "dst").native() + "\",\"\"," +
                                                        fourthField.toStdString() + ",1\r\n");
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        form->show();
        QCOMPARE(form->ui.Dir1->path(), fs::current_path());
        QCOMPARE(form->ui.Dir2->path(), fs::current_path());
        QCOMPARE(colourOf(form->ui.Label14), QString());
        QCOMPARE(form->ui.Label10->text(), QString());
        QCOMPARE(form->ui.Label7->isVisible(), designedPreview);
        QCOMPARE(form->ui.Picture1->frameStyle() != QFrame::NoFrame, designedPreview);
        QVERIFY(!form->ui.Label12->isVisible());
    }

    // The chosen volume vanishes (unplugged) when the list is read again: the first volume is
    // chosen, and its change takes the folder list off the vanished folder; choosing that volume
    // again changes nothing more.
    void vanishedVolume() {
        const fs::path stick = root() / "stick";
        fs::create_directories(stick / "photos");
        writeFile(root() / "prog" / "Corvalin.ini", "\"" + (stick / "photos").native() + "\",\"" +
                                                        (root() / "prog").native() + "\",\"\",0,0\r\n");
        auto form = makeForm();
        const fs::path home = volumeOf(root(), listVolumes());
        form->ui.Drive1->setVolumes({{home, "ext4"}, {stick, "vfat"}});
        QVERIFY(form->Form_Load());
        QCOMPARE(form->ui.Drive1->drive(), stick);
        fs::remove_all(stick);
        QSignalSpy changed(form->ui.Drive1, &DriveList::driveChanged);
        form->ui.Drive1->setVolumes({{home, "ext4"}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(form->ui.Drive1->drive(), home);
        QVERIFY(isSameOrBelow(form->ui.Dir1->path(), home) && !isSameOrBelow(form->ui.Dir1->path(), stick));
        QCOMPARE(form->ui.File1->path(), form->ui.Dir1->path());
        QVERIFY(m_messages.shown.empty());
        form->ui.Drive1->setCurrentIndex(0);
        QCOMPARE(changed.count(), 1);
    }

    // Saved folders on other volumes than the working folder: each drive list shows the volume of
    // its folder, and following it leaves the folder list where it is.
    void savedFoldersOnOtherVolumes() {
        const fs::path stick = root() / "stick";
        const fs::path card = root() / "card";
        fs::create_directories(stick / "photos" / "a");
        fs::create_directories(card / "gathered");
        writeFile(root() / "prog" / "Corvalin.ini", "\"" + (stick / "photos").native() + "\",\"" +
                                                        (card / "gathered").native() + "\",\"\",0,0\r\n");
        auto form = makeForm();
        const std::vector<Volume> volumes{{"/", "ext4"}, {card, "exfat"}, {stick, "vfat"}};
        form->ui.Drive1->setVolumes(volumes);
        form->ui.Drive2->setVolumes(volumes);
        QVERIFY(form->Form_Load());
        QCOMPARE(form->ui.Drive1->drive(), stick);
        QCOMPARE(form->ui.Drive2->drive(), card);
        QCOMPARE(form->ui.Drive1->currentText(), QString::fromStdString(stick.native()));
        QCOMPARE(form->ui.Dir1->path(), stick / "photos");
        QCOMPARE(form->ui.Dir2->path(), card / "gathered");
        QCOMPARE(form->ui.File1->path(), stick / "photos");
        QCOMPARE(form->ui.Label10->text(), QString("photos"));
        QVERIFY(m_messages.shown.empty());
    }

    // A cut-short settings file ends the program without a window; one that cannot be deleted
    // would end every later start too, so the user is told which file and why, once.
    void cutShortSettingsEndTheProgram_data() {
        QTest::addColumn<bool>("deletable");
        QTest::newRow("deleted") << true;
        QTest::newRow("cannot be deleted") << false;
    }
    void cutShortSettingsEndTheProgram() {
        QFETCH(bool, deletable);
        const fs::path settings = root() / "prog" / "Corvalin.ini";
        writeFile(settings, "\"a\",\"b\",\"\",1\r\n");
        std::optional<corvalin::test::UndeletableFile> kept;
        if (!deletable && kept.emplace(settings).code == 0)
            QSKIP("cannot make a file undeletable here");
        auto form = makeForm();
        QVERIFY(!form->Form_Load());
        QVERIFY(!form->isVisible());
        QCOMPARE(fs::exists(settings), !deletable);
        QCOMPARE(m_messages.shown.size(), std::size_t(deletable ? 0 : 1));
        if (deletable)
            return;
        const std::string& text = m_messages.shown[0].text;
        QVERIFY2(text.find(settings.native()) != std::string::npos, text.c_str());
        QVERIFY2(text.find(std::strerror(kept->code)) != std::string::npos, text.c_str());
    }

    // After a power cut that left the counter file empty, the window opens all the same with the
    // numbering restored from the journal, and says so in one message naming the file.
    void emptyCounterAfterPowerCutIsRestored() {
        const fs::path dst = root() / "dst";
        writeFile(root() / "prog" / "Corvalin.ini",
                  "\"" + (root() / "src").native() + "\",\"" + dst.native() + "\",\"\",1,0\r\n");
        writeFile(root() / "prog" / "Quillet.ini", "");
        Result<RunJournal> run =
            RunJournal::create(files().history(), {RunKind::Move, 0, 8, root() / "src", dst, ""});
        QVERIFY(run.ok());
        JournalRecord moved(RecordType::Move);
        moved.number = 8;
        moved.from = root() / "src" / "a" / "p.jpg";
        moved.to = dst / "000008 p.jpg";
        QVERIFY(run.value().append(moved).ok() && run.value().close().ok());
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        QCOMPARE(m_vars.SerialNo, 9);
        QTRY_COMPARE(m_messages.shown.size(), std::size_t(1));
        const std::string& text = m_messages.shown[0].text;
        QVERIFY2(text.find("000009") != std::string::npos && text.find("Quillet.ini") != std::string::npos,
                 text.c_str());
        QCOMPARE(readFile(root() / "prog" / "Quillet.ini"), std::string("9\r\n"));
    }

    void closeSavesTheCurrentFoldersAndClosesSecondaryWindows() {
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        QPointer<QWidget> help;
        form->Form4.setFactory([&] { return help = new QWidget; });
        form->show();
        form->mnuHelp_Click();
        QVERIFY(help && help->isVisible());
        QVERIFY(form->ui.Dir1->setPath(root() / "src" / "a"));
        QVERIFY(form->ui.Dir2->setPath(root() / "dst"));
        form->vars().SerialNo = 77;
        QVERIFY(form->close());
        QCOMPARE(readFile(root() / "prog" / "Corvalin.ini"), "\"" + (root() / "src" / "a").native() +
                                                                 "\",\"" + (root() / "dst").native() +
                                                                 "\",\"\",0,0\r\n");
        QCOMPARE(readFile(root() / "prog" / "Quillet.ini"), std::string("77\r\n"));
        QVERIFY(!form->Form4.window());
    }

    // During a run the close waits until the run has stopped, then the shutdown runs.
    void closeDuringARunWaitsForItsEnd() {
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        form->show();
        QVERIFY(form->beginRun());
        QVERIFY(!form->beginRun());
        QVERIFY(!form->close());
        QVERIFY(form->isVisible());
        QVERIFY(form->closeRequested());
        form->endRun();
        QVERIFY(!form->isVisible());
        QVERIFY(readFile(root() / "prog" / "Corvalin.ini").ends_with(",0,0\r\n"));
    }

    void folderChangesFollowThePanes() {
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        QVERIFY(form->ui.Dir2->setPath(root() / "dst"));
        QCOMPARE(form->ui.File3->path(), form->ui.File2->path());
        QCOMPARE(form->ui.Label15->text(), QString("2"));
        QVERIFY(form->ui.Dir1->setPath(root() / "src"));
        QCOMPARE(form->ui.File1->path(), root() / "src");
        QCOMPARE(form->ui.Label6->text(), QString("0/0"));
    }

    // While a move run is busy, the panes and menus react to nothing; afterwards they do again.
    void busyGuard() {
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        int opened = 0;
        for (WindowSlot* slot :
             {&form->frmOptions, &form->Form4, &form->frmAbout, &form->frmHistory, &form->frmPlan}) {
            slot->setFactory([&] {
                ++opened;
                return new QWidget;
            });
        }
        const fs::path stick = root() / "stick";
        fs::create_directories(stick);
        for (DriveList* drive : {form->ui.Drive1, form->ui.Drive2})
            drive->setVolumes({{"/", "ext4"}, {stick, "vfat"}});
        form->BusyFlag = OptionValue::number(1);
        QVERIFY(form->ui.Dir2->setPath(root() / "dst"));
        QCOMPARE(form->ui.File2->path(), root() / "prog");
        QCOMPARE(form->ui.File3->path(), root() / "prog");
        QCOMPARE(form->ui.Label15->text(), QString("1")); // the settings file itself
        QVERIFY(form->ui.Dir1->setPath(root() / "src"));
        QCOMPARE(form->ui.File1->path(), root() / "prog");
        form->ui.Drive1->setDrive(stick);
        form->ui.Drive2->setDrive(stick);
        QCOMPARE(form->ui.Dir1->path(), root() / "src");
        QCOMPARE(form->ui.Dir2->path(), root() / "dst");
        for (QAction* entry : {form->ui.mnuOpt1, form->ui.mnuPlan, form->ui.mnuHistory, form->ui.mnuHelp,
                               form->ui.mnuVer2, form->ui.mnuEnd})
            entry->trigger();
        QCOMPARE(opened, 0);
        QVERIFY(readFile(root() / "prog" / "Corvalin.ini").ends_with(",1,0\r\n")); // mnuEnd closed nothing
        form->BusyFlag = OptionValue::number(0);
        QVERIFY(form->ui.Dir2->setPath(root() / "src"));
        QCOMPARE(form->ui.File2->path(), root() / "src");
        form->ui.mnuOpt1->trigger();
        form->ui.mnuHistory->trigger();
        form->ui.mnuPlan->trigger();
        QCOMPARE(opened, 3);
        form->closeSecondaryWindows();
    }

    // A volume that cannot be opened asks Retry/Cancel: Retry once it is there moves the folder list
    // onto it; Cancel puts the drive list back on the folder's volume.
    void unreadyDrive_data() {
        QTest::addColumn<bool>("retry");
        QTest::newRow("retry after inserting") << true;
        QTest::newRow("cancel") << false;
    }
    void unreadyDrive() {
        QFETCH(bool, retry);
        auto form = makeForm();
        QVERIFY(form->Form_Load());
        const fs::path stick = root() / "stick";
        const fs::path home = test::chooseUnreadyVolume(form->ui.Drive1, form->ui.Dir1->path(), stick, root(),
                                                        m_messages, retry);
        test::checkUnreadyQuestion(m_messages, stick);
        QCOMPARE(form->ui.Dir1->path(), retry ? stick : root() / "prog");
        QCOMPARE(form->ui.Drive1->drive(), retry ? stick : home);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
