// What a screen reader is told of the main window's controls when it asks: names that follow the
// captions as the work mode rewrites them, and displays read with their headings as their figures
// change. The walk through the desktop's bus is tests/e2e/test_e2e_accessibility.
#include "app/ui/accessibility.h"
#include "app/ui/drive_list.h"
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "scripted_message_box.h"
#include "temp_tree.h"

#include <QAccessible>
#include <QLabel>
#include <QtTest>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

namespace {

QString nameOf(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QString();
}

} // namespace

class TestAccessibleNames : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedMessageBox m_messages;
    Module1 m_vars;

    fs::path root() const { return pathOf(m_dir); }
    std::unique_ptr<Form1> makeForm() {
        m_vars = Module1{};
        return std::make_unique<Form1>(m_vars, SettingsFiles{root(), root()}, m_messages);
    }

private slots:
    // Each work mode's captions name the controls under them, and back again.
    void namesFollowTheWorkMode_data() {
        QTest::addColumn<bool>("stripIntoSubfolder");
        QTest::addColumn<QString>("destinationPane");
        QTest::addColumn<QString>("fileCounter");
        QTest::newRow("move") << false << "移動先フォルダ指定"
                              << "移動中ファイル数 0/0";
        QTest::newRow("strip into a subfolder") << true << "通し番号を切り取るフォルダを指定"
                                                << "リネーム中ファイル数 0/0";
    }

    void namesFollowTheWorkMode() {
        QFETCH(bool, stripIntoSubfolder);
        QFETCH(QString, destinationPane);
        QFETCH(QString, fileCounter);
        auto form = makeForm();
        m_vars.OptFlags[2] = OptionValue::number(1);
        form->ApplyWorkMode(); // first into the strip layout, then into the one asked for
        m_vars.OptFlags[2] = OptionValue::number(stripIntoSubfolder ? 1 : 0);
        form->ApplyWorkMode();
        QCOMPARE(nameOf(form->ui.Dir2), destinationPane);
        QCOMPARE(nameOf(form->ui.File3), destinationPane);
        QCOMPARE(nameOf(form->ui.Label11), fileCounter);
        QCOMPARE(nameOf(form->ui.Dir1), QStringLiteral("移動元親フォルダ指定"));
    }

    // A display is read as its heading and the figures it shows now; a drive list by what it
    // chooses, with the drive as its value.
    void displaysAndDriveLists() {
        auto form = makeForm();
        form->ui.Label6->setText(QStringLiteral("3/12"));
        QCOMPARE(nameOf(form->ui.Label6), QStringLiteral("フォルダ総数 3/12"));
        form->ui.Label4->clear();
        QCOMPARE(nameOf(form->ui.Label4), QStringLiteral("新しいファイルネーム"));
        form->ui.Label15->setText(QStringLiteral("7"));
        QCOMPARE(nameOf(form->ui.Label15), QStringLiteral("ファイル数 7"));
        QAccessibleInterface* drive = QAccessible::queryAccessibleInterface(form->ui.Drive1);
        QCOMPARE(drive->text(QAccessible::Name), QStringLiteral("移動元のドライブを指定します。"));
        QCOMPARE(drive->text(QAccessible::Value), form->ui.Drive1->currentText());
        QCOMPARE(drive->child(0)->text(QAccessible::Name), drive->text(QAccessible::Name));
    }

    // Qt may have made a label's interface before its caption was tied to it (a screen reader
    // listening while the window is built): the tie still takes.
    void aTieAfterTheFirstQuestion() {
        QWidget window;
        auto* caption = new QLabel(QStringLiteral("フォルダ総数"), &window);
        auto* display = new QLabel(QStringLiteral("0/0"), &window);
        QCOMPARE(nameOf(display), QStringLiteral("0/0"));
        tieCaption(caption, display);
        QCOMPARE(nameOf(display), QStringLiteral("フォルダ総数 0/0"));
        QCOMPARE(caption->buddy(), display);
    }

    // An announcement is a notification of the window that says the text and shows nothing; the
    // same one serves the next.
    void announcements() {
        QWidget window;
        announce(&window, QString());
        QVERIFY(!window.findChild<QWidget*>());
        for (const QString& text :
             {QStringLiteral("完了: 画像 3 個を移動しました"), QStringLiteral("中断")}) {
            announce(&window, text);
            const QList<QWidget*> made = window.findChildren<QWidget*>();
            QCOMPARE(made.size(), 1);
            QVERIFY(made.first()->isHidden());
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(made.first());
            QCOMPARE(iface->role(), QAccessible::Notification);
            QCOMPARE(iface->text(QAccessible::Name), text);
        }
    }
};

QTEST_MAIN(TestAccessibleNames)
#include "test_accessible_names.moc"
