// The main window's layout for each work mode, switched both ways.
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "app/ui/strip_mode_boxes.h"
#include "scripted_message_box.h"

#include <QtTest>

using namespace corvalin;

namespace {
// Stands in for the options dialog: only its two strip boxes matter here.
class FakeOptions : public QWidget, public StripModeBoxes {
public:
    bool check3 = false;
    bool check4 = false;
    bool isCheck3Ticked() const override { return check3; }
    bool isCheck4Ticked() const override { return check4; }
};
} // namespace

class TestWorkMode : public QObject {
    Q_OBJECT

    ScriptedMessageBox m_messages;
    Module1 m_vars;

    static QString layoutOf(Form1& form) {
        auto flag = [](QWidget* w) {
            return w->isVisibleTo(w->window()) ? QString("1") : QString("0");
        };
        auto enabled = [](QWidget* w) {
            return w->isEnabled() ? QString("e") : QString("g");
        };
        QString greyed;
        for (QWidget* control :
             std::initializer_list<QWidget*>{form.ui.Label1, form.ui.Dir1, form.ui.File1, form.ui.Label5,
                                             form.ui.Label6, form.ui.Label8, form.ui.Label10})
            greyed += enabled(control);
        return flag(form.ui.Command1) + flag(form.ui.Command2) + flag(form.ui.Command3) +
               flag(form.ui.Command4) + " " + greyed + " " + flag(form.ui.File2) + flag(form.ui.File3) + " " +
               form.ui.Label14->palette().color(QPalette::Window).name();
    }

private slots:
    void layouts_data() {
        QTest::addColumn<bool>("check3");
        QTest::addColumn<bool>("check4");
        QTest::addColumn<int>("storedSubfolderMode");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("label2");
        QTest::addColumn<QString>("label9");
        const QString move = "移動先フォルダ指定", strip = "通し番号を切り取るフォルダを指定";
        const QString moving = "移動中ファイル数", renaming = "リネーム中ファイル数";
        // Command3/Command4 keep what they were (all shown beforehand here) in the strip layout; the
        // source pane and the move run's labels are greyed (Label1 Dir1 File1 Label5 Label6 Label8
        // Label10).
        QTest::newRow("move") << false << false << 0 << "1000 eeeeeee 10 #ff0000" << move << moving;
        QTest::newRow("in folder") << true << false << 0 << "0011 ggggggg 10 #00ff00" << strip << renaming;
        QTest::newRow("into subfolder")
            << false << true << 1 << "0011 ggggggg 01 #00ff00" << strip << renaming;
        QTest::newRow("both ticked, stored 0")
            << true << true << 0 << "0011 ggggggg 10 #00ff00" << strip << renaming;
        QTest::newRow("both ticked, stored 1")
            << true << true << 1 << "0011 ggggggg 01 #00ff00" << strip << renaming;
    }
    void layouts() {
        QFETCH(bool, check3);
        QFETCH(bool, check4);
        QFETCH(int, storedSubfolderMode);
        QFETCH(QString, layout);
        QFETCH(QString, label2);
        QFETCH(QString, label9);
        Form1 form(m_vars, {}, m_messages);
        auto* options = new FakeOptions;
        form.frmOptions.setFactory([options] { return options; });
        m_vars.OptFlags[2] = OptionValue::number(storedSubfolderMode);
        // Start from the opposite layout so every switch is seen, with every button shown, then apply
        // twice: the second call changes nothing.
        options->check3 = !check3 && !check4;
        form.ApplyWorkMode();
        for (QWidget* button : {form.ui.Command1, form.ui.Command2, form.ui.Command3, form.ui.Command4})
            button->show();
        options->check3 = check3;
        options->check4 = check4;
        form.ApplyWorkMode();
        const QString first = layoutOf(form);
        form.ApplyWorkMode();
        QCOMPARE(layoutOf(form), first);
        QCOMPARE(first, layout);
        QCOMPARE(form.ui.Label2->text(), label2);
        QCOMPARE(form.ui.Label9->text(), label9);
        QCOMPARE(form.ui.Drive1->isEnabled(), !check3 && !check4);
        form.closeSecondaryWindows();
    }

    // Without an options dialog the stored modes stand for its boxes.
    void storedModesWithoutADialog() {
        Form1 form(m_vars, {}, m_messages);
        m_vars.OptFlags[2] = OptionValue::number(1);
        form.ApplyWorkMode();
        QVERIFY(!form.ui.File2->isVisibleTo(&form));
        QVERIFY(form.ui.File3->isVisibleTo(&form));
        QVERIFY(!form.ui.Command1->isVisibleTo(&form));
    }

    // Leaving the strip-into-subfolder mode, for the other strip mode or for the move mode, swaps
    // the lists back; the greyed displays look greyed.
    void leavingStripIntoSubfolder_data() {
        QTest::addColumn<int>("nextFlag"); // 1: strip in the folder; 0: move mode
        QTest::addColumn<bool>("moveLayout");
        QTest::newRow("to strip in the folder") << 1 << false;
        QTest::newRow("to move mode") << 0 << true;
    }
    void leavingStripIntoSubfolder() {
        QFETCH(int, nextFlag);
        QFETCH(bool, moveLayout);
        Form1 form(m_vars, {}, m_messages);
        m_vars.OptFlags = {OptionValue(), OptionValue(), OptionValue::number(1)};
        form.ApplyWorkMode();
        m_vars.OptFlags = {OptionValue(), OptionValue(), OptionValue()};
        if (nextFlag)
            m_vars.OptFlags[std::size_t(nextFlag)] = OptionValue::number(1);
        form.ApplyWorkMode();
        QVERIFY(form.ui.File2->isVisibleTo(&form));
        QVERIFY(!form.ui.File3->isVisibleTo(&form));
        QCOMPARE(form.ui.Command1->isVisibleTo(&form), moveLayout);
        QCOMPARE(form.ui.Dir1->isEnabled(), moveLayout);
        const QColor shown = form.ui.Label6->palette().color(QPalette::Disabled, QPalette::WindowText);
        QVERIFY(shown != form.ui.Label11->palette().color(QPalette::Active, QPalette::WindowText));
    }
};

QTEST_MAIN(TestWorkMode)
#include "test_work_mode.moc"
