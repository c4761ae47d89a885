// Long names never push a window or a tip past the screen: the message box wraps a path of 4,000
// bytes anywhere and keeps its text whole, selectable and copyable, with its buttons in reach; tool
// tips break a long path into lines; a progress line leaves out the middle of a long path. The
// offscreen screen is 800 x 600, smaller than any desktop's.
#include "app/ui/elided_label.h"
#include "app/ui/qt_message_box.h"
#include "app/ui/screen_room.h"
#include "app/ui/wrapping_text.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

using namespace corvalin;

Q_DECLARE_METATYPE(MessageButtons)
Q_DECLARE_METATYPE(MessageAnswer)

namespace {

QString longPath(int bytes) {
    QString path;
    for (int level = 0; path.size() < bytes; ++level)
        path += QStringLiteral("/level%1_").arg(level) + QString(200, QLatin1Char('x'));
    return path.left(bytes);
}

// Runs `inspect` on the message box once it is on the screen; it must close the box.
void whenShown(const std::function<void(QDialog*)>& inspect) {
    QTimer::singleShot(0, [inspect] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(box);
        inspect(box);
        if (box->isVisible())
            box->reject();
    });
}

} // namespace

class TestScreenRoom : public QObject {
    Q_OBJECT

private slots:
    void messageBoxAnswers_data() {
        QTest::addColumn<MessageButtons>("buttons");
        QTest::addColumn<QString>("press"); // a button's caption, "Return" or "Esc"
        QTest::addColumn<MessageAnswer>("answer");
        QTest::newRow("OK") << MessageButtons::Ok << "OK" << MessageAnswer::Ok;
        QTest::newRow("OK by Esc") << MessageButtons::Ok << "Esc" << MessageAnswer::Ok;
        QTest::newRow("yes") << MessageButtons::YesNo << "はい(&Y)" << MessageAnswer::Yes;
        QTest::newRow("no") << MessageButtons::YesNo << "いいえ(&N)" << MessageAnswer::No;
        QTest::newRow("yes or no, Esc") << MessageButtons::YesNo << "Esc" << MessageAnswer::No;
        QTest::newRow("yes or no, Return") << MessageButtons::YesNo << "Return" << MessageAnswer::Yes;
        QTest::newRow("cancel of three")
            << MessageButtons::YesNoCancel << "キャンセル" << MessageAnswer::Cancel;
        QTest::newRow("three, Esc") << MessageButtons::YesNoCancel << "Esc" << MessageAnswer::Cancel;
        QTest::newRow("retry") << MessageButtons::RetryCancel << "再試行(&R)" << MessageAnswer::Retry;
        QTest::newRow("retry or cancel, Esc")
            << MessageButtons::RetryCancel << "Esc" << MessageAnswer::Cancel;
        // The desktop's keys: a button's letter alone presses it; Return the focused button.
        QTest::newRow("yes by Y") << MessageButtons::YesNo << "Y" << MessageAnswer::Yes;
        QTest::newRow("no by n") << MessageButtons::YesNoCancel << "n" << MessageAnswer::No;
        QTest::newRow("retry by R") << MessageButtons::RetryCancel << "R" << MessageAnswer::Retry;
        QTest::newRow("a letter of no button does nothing")
            << MessageButtons::YesNoCancel << "X" << MessageAnswer::Cancel;
        QTest::newRow("Return on the focused button")
            << MessageButtons::YesNoCancel << "Tab, Return" << MessageAnswer::No;
    }
    void messageBoxAnswers() {
        QFETCH(MessageButtons, buttons);
        QFETCH(QString, press);
        whenShown([press](QDialog* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("Corvalin"));
            if (press == "Esc" || press == "Return") {
                QTest::keyClick(box, press == "Esc" ? Qt::Key_Escape : Qt::Key_Return);
                return;
            }
            // Keys go where the user's keys go: to the focused button, then up to the box.
            const auto focused = [box] {
                return box->focusWidget() ? box->focusWidget() : box;
            };
            if (press == "Tab, Return") {
                QTest::keyClick(focused(), Qt::Key_Tab);
                QTest::keyClick(focused(), Qt::Key_Return);
                return;
            }
            if (press.size() == 1) {
                QTest::keyClick(focused(), press[0].toLatin1());
                QTest::qWait(300); // a letter's click shows itself before it counts
                return;
            }
            for (QPushButton* button : box->findChildren<QPushButton*>()) {
                if (button->text() == press)
                    button->click();
            }
        });
        QtMessageBox messages;
        QTEST(messages.show("確認します。", buttons, MessageIcon::Warning), "answer");
    }

    void messageBoxStaysWithinTheScreen_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("a path of 4,000 bytes")
            << QStringLiteral("移動先フォルダへのファイルの移動ができませんでした。\n") + longPath(4000) +
                   QStringLiteral("\nNo space left on device");
        QTest::newRow("a name of 257 bytes")
            << QString(250, QLatin1Char('n')) + QStringLiteral(".jpg: 名前が長すぎます");
        QTest::newRow("two hundred lines") << QStringLiteral("行\n").repeated(200);
        QTest::newRow("markup shown as it is") << QStringLiteral("<b>x</b>.jpg &amp; <br> y");
        QTest::newRow("a short message") << QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");
    }
    void messageBoxStaysWithinTheScreen() {
        QFETCH(QString, text);
        whenShown([text](QDialog* box) {
            const QRect area = availableArea(box);
            QVERIFY2(box->width() <= area.width() && box->height() <= area.height(),
                     qPrintable(QStringLiteral("%1 x %2").arg(box->width()).arg(box->height())));
            auto* shown = box->findChild<WrappingText*>(QStringLiteral("txtMessage"));
            QVERIFY(shown);
            QCOMPARE(shown->text(), text);
            QVERIFY(shown->textInteractionFlags() & Qt::TextSelectableByMouse);
            QVERIFY(shown->width() <= area.width());
            // Every button lies inside the box.
            for (QPushButton* button : box->findChildren<QPushButton*>())
                QVERIFY(box->rect().contains(QRect(button->mapTo(box, QPoint()), button->size())));
            // Ctrl+C copies the whole text when nothing is selected.
            QApplication::clipboard()->clear();
            QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QApplication::clipboard()->text(), text);
        });
        QtMessageBox messages;
        QCOMPARE(messages.show(text.toStdString(), MessageButtons::Ok, MessageIcon::Information),
                 MessageAnswer::Ok);
    }

    void toolTipsBreakAnywhere_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("a path of 4,000 bytes") << longPath(4000);
        QTest::newRow("Japanese without a blank") << QStringLiteral("日本語の名前").repeated(60);
        QTest::newRow("lines of its own") << longPath(900) + QStringLiteral("\n\n") + longPath(500);
        QTest::newRow("a short name") << QStringLiteral("cat.jpg");
    }
    void toolTipsBreakAnywhere() {
        QFETCH(QString, text);
        const QString tip = wrappedToolTip(text);
        QVERIFY(!Qt::mightBeRichText(tip));
        const QFontMetrics metrics(QToolTip::font());
        int widest = 0;
        for (const QString& line : tip.split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        QVERIFY2(widest <= availableArea(nullptr).width(), qPrintable(QString::number(widest)));
        QCOMPARE(QString(tip).remove(QLatin1Char('\n')), QString(text).remove(QLatin1Char('\n')));
    }

    void markupInAToolTipIsShownAsItIs() {
        const QString name = QStringLiteral("<b>x</b>&amp;") + QString(300, QLatin1Char('y'));
        const QString tip = wrappedToolTip(name);
        QTextDocument shown;
        shown.setHtml(tip);
        QCOMPARE(shown.toPlainText().remove(QChar::LineSeparator).remove(QLatin1Char('\n')), name);
    }

    // The progress line of the history window, beside its buttons.
    void aLongPathInAProgressLineKeepsItsWindowNarrow() {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* progress = new ElidedLabel(&window);
        row->addWidget(progress, 1);
        row->addWidget(new QPushButton(QStringLiteral("閉じる"), &window));
        progress->setText(longPath(4000));
        QVERIFY(window.minimumSizeHint().width() < availableArea(&window).width() / 2);
        QCOMPARE(QString(progress->toolTip()).remove(QLatin1Char('\n')), longPath(4000));
    }
};

QTEST_MAIN(TestScreenRoom)
#include "test_screen_room.moc"
