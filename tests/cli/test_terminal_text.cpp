// What a command prints: names that cannot take over the terminal, and the pace of a run.
#include "cli/run_pace.h"
#include "cli/terminal.h"

#include <QTest>

using namespace corvalin;

class TestTerminalText : public QObject {
    Q_OBJECT

private slots:
    void terminalSafeKeepsTextAndEscapesControls_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("plain and Japanese") << QByteArray("000042 ねこ.jpg") << QByteArray("000042 ねこ.jpg");
        // The window's and the plan's stand-ins, one way everywhere.
        QTest::newRow("escape sequence")
            << QByteArray("a\x1b]0;title\x07.jpg") << QByteArray("a<ESC>]0;title<BEL>.jpg");
        QTest::newRow("newline and tab") << QByteArray("a\nb\tc") << QByteArray("a<LF>b<TAB>c");
        QTest::newRow("delete") << QByteArray("a\x7f") << QByteArray("a<DEL>");
        QTest::newRow("C1 control in UTF-8") << QByteArray("a\xc2\x9b"
                                                           "2J")
                                             << QByteArray("a<U+009B>2J");
        QTest::newRow("right-to-left override") << QByteArray("abc\u202Egpj") << QByteArray("abc<U+202E>gpj");
        QTest::newRow("Shift-JIS bytes") << QByteArray("\x82\xa0.jpg") << QByteArray("\uFFFD\uFFFD.jpg");
        QTest::newRow("cut UTF-8") << QByteArray("\xe3\x81") << QByteArray("\uFFFD\uFFFD");
    }
    void terminalSafeKeepsTextAndEscapesControls() {
        QFETCH(QByteArray, text);
        QTEST(QByteArray::fromStdString(terminalSafe(text.toStdString())), "printed");
    }

    void paceText_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("counted");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("too early to tell") << 0.5 << 10 << 10 << 100 << "-- 枚/秒  残り --:--";
        QTest::newRow("nothing done yet") << 3.0 << 0 << 0 << 100 << "-- 枚/秒  残り --:--";
        QTest::newRow("slow") << 4.0 << 3 << 4 << 100 << "0.8 枚/秒  残り 1:36";
        QTest::newRow("fast") << 2.0 << 170 << 200 << 10200 << "85 枚/秒  残り 1:40";
        QTest::newRow("hours") << 10.0 << 10 << 10 << 4000 << "1.0 枚/秒  残り 1:06:30";
        QTest::newRow("done") << 5.0 << 50 << 50 << 50 << "10 枚/秒  残り 0:00";
    }
    void paceText() {
        QFETCH(double, seconds);
        QFETCH(int, counted);
        QFETCH(int, done);
        QFETCH(int, total);
        QTEST(QString::fromStdString(corvalin::paceText(seconds, counted, "枚", done, total)), "text");
    }
};

QTEST_APPLESS_MAIN(TestTerminalText)
#include "test_terminal_text.moc"
