// The help window and the version-information window, opened from the main window's menu.

// Pointer events go through the window, so the widget under the pointer receives them as it would
// from the desktop.
#define QTEST_QPA_MOUSE_HANDLING
#include "app/ui/form1.h"
#include "info/ui/frm_about.h"
#include "info/ui/info_factory.h"
#include "scripted_message_box.h"
#include "temp_tree.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QtTest>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

// The desktop's stand-in as an account sees it that may open keys for reading only.
class ReadOnlyAccount : public SystemToolRegistry {
public:
    RegistryStatus openKey(RegistryRoot root, const std::string& keyName, std::uint32_t accessRights,
                           RegistryKey& key) override {
        constexpr std::uint32_t kReadRights = 0x20019;
        if (accessRights & ~kReadRights)
            return RegistryStatus::AccessDenied;
        return SystemToolRegistry::openKey(root, keyName, accessRights, key);
    }
};

// Receives the addresses that the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TestInfoWindows : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedMessageBox m_messages;
    Module1 m_vars;

    fs::path root() const { return pathOf(m_dir); }
    fs::path readme() const { return root() / "prog" / "Readme.txt"; }
    std::unique_ptr<Form1> makeForm() {
        m_vars = Module1{};
        auto form =
            std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        Form1* raw = form.get();
        form->Form4.setFactory([raw] { return createHelpWindow(*raw); });
        form->frmAbout.setFactory([raw] { return createAboutWindow(*raw); });
        form->show();
        return form;
    }
    static QWidget* openHelp(Form1& form) {
        form.ui.mnuHelp->trigger();
        return form.Form4.window();
    }
    static QWidget* openAbout(Form1& form) {
        form.ui.mnuVer2->trigger();
        return form.frmAbout.window();
    }
    template <class T> static T* control(QWidget* window, const char* name) {
        return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    static QString helpText(QWidget* help) { return control<QPlainTextEdit>(help, "Text1")->toPlainText(); }
    static QColor textColour(QWidget* widget) { return widget->palette().color(QPalette::WindowText); }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        fs::remove_all(root());
        fs::create_directories(root() / "prog");
        m_messages = ScriptedMessageBox{};
    }

    void designedLayout_data() {
        QTest::addColumn<bool>("about");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("text");
        QTest::newRow("Text1") << false << "Text1" << QRect(0, 0, 537, 433) << "";
        QTest::newRow("Command1") << false << "Command1" << QRect(408, 440, 129, 25) << "プログラムへ戻る";
        QTest::newRow("picIcon") << true << "picIcon" << QRect(16, 16, 36, 36) << "";
        QTest::newRow("lblTitle") << true << "lblTitle" << QRect(70, 16, 259, 32) << "Corvalin";
        QTest::newRow("lblDescription")
            << true << "lblDescription" << QRect(70, 75, 259, 62)
            << "　画像をダウンする親フォルダの下に子フォルダを大量に作り　（５０フォルダでも５００フォルダで"
               "も可）\r\n"
               "　その,"
               "子フォルダにダウンロードした画像ファイルを通し番号を付けて　任意のフォルダに移動させます。 ";
        QTest::newRow("Label1") << true << "Label1" << QRect(64, 144, 273, 17)
                                << "https://corvalin.example.org/";
        QTest::newRow("Line1") << true << "Line1" << QRect(6, 163, 372, 3) << "";
        QTest::newRow("lblDisclaimer") << true << "lblDisclaimer" << QRect(17, 175, 242, 55) << "";
        QTest::newRow("cmdOK") << true << "cmdOK" << QRect(283, 175, 92, 23) << "OK";
        QTest::newRow("cmdSysInfo") << true << "cmdSysInfo" << QRect(284, 205, 92, 23) << "ｼｽﾃﾑ情報(&S)...";
    }
    void designedLayout() {
        QFETCH(bool, about);
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(QString, text);
        auto form = makeForm();
        QWidget* window = about ? openAbout(*form) : openHelp(*form);
        QVERIFY(window);
        QCOMPARE(window->objectName(), QString(about ? "frmAbout" : "Form4"));
        QCOMPARE(window->size(), about ? QSize(382, 237) : QSize(538, 468));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(!(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        auto* widget = control<QWidget>(window, name.toLatin1());
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), place);
        if (auto* label = qobject_cast<QLabel*>(widget); label && !text.isEmpty())
            QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            QCOMPARE(button->text(), text);
    }

    void helpWindowOpensAtItsPlace() {
        auto form = makeForm();
        QWidget* help = openHelp(*form);
        QCOMPARE(help->windowTitle(), QString("Corvalin"));
        QCOMPARE(help->geometry().topLeft(), help->screen()->geometry().topLeft() + QPoint(80, 102));
        auto* text = control<QPlainTextEdit>(help, "Text1");
        QVERIFY(!text->isReadOnly());
        QCOMPARE(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    }

    void readmeShown_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("three lines, last without line end") << QByteArray("a\r\nb\r\nc") << "a\nb\nc\n";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("UTF-8 with byte-order mark") << QByteArray("\xef\xbb\xbf使い方\n") << "使い方\n";
        QStringEncoder shiftJis("Shift_JIS");
        const QByteArray encoded = shiftJis(QString("使い方\r\nﾊﾞｰｼﾞｮﾝ ～①"));
        QVERIFY(!shiftJis.hasError());
        QTest::newRow("Shift-JIS") << encoded << "使い方\nﾊﾞｰｼﾞｮﾝ ～①\n";
    }
    void readmeShown() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        writeFile(readme(), bytes.toStdString());
        auto form = makeForm();
        QCOMPARE(helpText(openHelp(*form)), shown);
    }

    void missingReadmeIsExplainedInTheBox() {
        auto form = makeForm();
        QWidget* help = openHelp(*form);
        QVERIFY(help && help->isVisible());
        QVERIFY(helpText(help).contains("Readme.txt"));
        QVERIFY(helpText(help).contains(QString::fromStdString(readme().native())));
        QVERIFY(m_messages.shown.empty());
    }

    // Open again while open: the same window comes to the front, the user's edits intact; closed
    // and opened again, it shows what the file now holds.
    void reopeningReadsTheFileOnlyAfterClosing() {
        writeFile(readme(), "old\r\n");
        auto form = makeForm();
        QPointer<QWidget> help = openHelp(*form);
        control<QPlainTextEdit>(help, "Text1")->appendPlainText("edit");
        writeFile(readme(), "new\r\n");
        QCOMPARE(openHelp(*form), help.data());
        QCOMPARE(helpText(help), QString("old\n\nedit"));

        control<QPushButton>(help, "Command1")->click();
        QTRY_VERIFY(help.isNull());
        QCOMPARE(helpText(openHelp(*form)), QString("new\n"));
    }

    void versionWindowLoad() {
        auto form = makeForm();
        QWidget* about = openAbout(*form);
        QVERIFY(QTest::qWaitForWindowActive(about));
        QCOMPARE(about->windowTitle(), QString("Corvalinのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(control<QLabel>(about, "lblVersion")->text(), QString("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
                                                                   .arg(CORVALIN_VERSION_MAJOR)
                                                                   .arg(CORVALIN_VERSION_MINOR)
                                                                   .arg(CORVALIN_VERSION_PATCH));
        auto* link = control<QLabel>(about, "Label1");
        QCOMPARE(textColour(link), QColor(0, 0, 255));
        QCOMPARE(link->font().pointSizeF(), 10.0);
        QCOMPARE(QApplication::focusWidget(), control<QWidget>(about, "cmdOK"));
        QVERIFY(form->ui.Command1->isEnabled());
        QCOMPARE(openAbout(*form), about);
    }

    // The link turns purple under the pointer and blue again over the background or the
    // description; other controls leave it as it is.
    void linkHoverColours() {
        auto form = makeForm();
        QWidget* about = openAbout(*form);
        QVERIFY(QTest::qWaitForWindowExposed(about));
        auto* link = control<QLabel>(about, "Label1");
        const QColor purple(128, 0, 128), blue(0, 0, 255);
        const struct {
            const char* over;
            QColor colour;
        } steps[] = {{"Label1", purple}, {"lblTitle", purple}, {"", blue},
                     {"Label1", purple}, {"cmdOK", purple},    {"lblDescription", blue}};
        for (const auto& step : steps) {
            QWidget* target = *step.over ? control<QWidget>(about, step.over) : about;
            const QPoint point = *step.over ? target->rect().center() : QPoint(30, 120);
            QTest::mouseMove(target, point);
            QCOMPARE(textColour(link), step.colour);
        }
    }

    // A click opens the link; so does Return or Space once Tab has reached it after the two
    // buttons, and while it has the focus it wears its hover look.
    void linkOpensTheAddress_data() {
        QTest::addColumn<int>("key"); // 0: a click
        QTest::newRow("click") << 0;
        QTest::newRow("Tab, Return") << int(Qt::Key_Return);
        QTest::newRow("Tab, Space") << int(Qt::Key_Space);
    }

    void linkOpensTheAddress() {
        QFETCH(int, key);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        auto form = makeForm();
        QWidget* about = openAbout(*form);
        QVERIFY(QTest::qWaitForWindowActive(about));
        auto* link = control<QLabel>(about, "Label1");
        if (key == 0) {
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(5, 5));
        } else {
            QCOMPARE(QApplication::focusWidget(), control<QWidget>(about, "cmdOK"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), control<QWidget>(about, "cmdSysInfo"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), link);
            QCOMPARE(textColour(link), QColor(128, 0, 128));
            QTest::keyClick(link, Qt::Key(key));
        }
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl(link->text())});
    }

    void enterAndEscapeClose_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }
    void enterAndEscapeClose() {
        QFETCH(int, key);
        auto form = makeForm();
        QPointer<QWidget> about = openAbout(*form);
        QVERIFY(QTest::qWaitForWindowActive(about));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTRY_VERIFY(about.isNull());
        QVERIFY(form->ui.Command1->isEnabled());
    }

    // An account that may not open the key with the rights asked for gets the message, even with
    // the tool there.
    void systemInformationTool_data() {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("readOnlyAccount");
        QTest::addColumn<bool>("byKey"); // Alt+S, the letter of "ｼｽﾃﾑ情報(&S)..."
        QTest::newRow("tool on PATH") << true << false << false;
        QTest::newRow("tool on PATH, Alt+S") << true << false << true;
        QTest::newRow("no tool") << false << false << false;
        QTest::newRow("no tool, Alt+S") << false << false << true;
        QTest::newRow("tool on PATH, key refused") << true << true << false;
    }
    void systemInformationTool() {
        QFETCH(bool, installed);
        QFETCH(bool, readOnlyAccount);
        QFETCH(bool, byKey);
        const fs::path bin = root() / "bin";
        const fs::path started = root() / "started";
        fs::create_directories(bin);
        if (installed) {
            writeFile(bin / "hardinfo", "#!/bin/sh\necho started > '" + started.native() + "'\n");
            fs::permissions(bin / "hardinfo", fs::perms::owner_all);
        }
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(bin.native()));
        auto form = makeForm();
        if (readOnlyAccount) {
            Form1* raw = form.get();
            form->frmAbout.setFactory([raw] {
                auto* window = new frmAbout(raw->messages(), std::make_unique<ReadOnlyAccount>(), raw);
                window->Form_Load();
                return window;
            });
        }
        QWidget* about = openAbout(*form);
        if (byKey) {
            QVERIFY(QTest::qWaitForWindowActive(about));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
            // A letter clicks the button a moment later, as a click that shows itself.
            QTRY_VERIFY(fs::exists(started) || !m_messages.shown.empty());
        } else {
            control<QPushButton>(about, "cmdSysInfo")->click();
        }
        qputenv("PATH", savedPath);
        if (installed && !readOnlyAccount) {
            QTRY_VERIFY(fs::exists(started));
            QVERIFY(m_messages.shown.empty());
        } else {
            QCOMPARE(m_messages.shown.size(), std::size_t(1));
            QCOMPARE(m_messages.shown[0].text, std::string("現時点ではｼｽﾃﾑ情報を使用できません"));
            QCOMPARE(m_messages.shown[0].buttons, MessageButtons::Ok);
            QCOMPARE(m_messages.shown[0].icon, MessageIcon::None);
        }
    }
};

QTEST_MAIN(TestInfoWindows)
#include "test_info_windows.moc"
