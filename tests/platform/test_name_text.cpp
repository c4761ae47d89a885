// How a name's bytes read as text: the characters the naming rule counts and the text every list
// and message shows are the same.
#include "platform/name_text.h"

#include <QtTest>

using namespace corvalin;

class TestNameText : public QObject {
    Q_OBJECT
private slots:
    void readAsShown_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("characters");
        QTest::newRow("UTF-8 as it is") << QByteArray("猫の写真.jpg") << "猫の写真.jpg" << 8;
        QTest::newRow("Shift-JIS decoded")
            << QByteArray("\x82\xa0\x82\xa2\x82\xa4 x.jpg") << "あいう x.jpg" << 9;
        QTest::newRow("half-width katakana") << QByteArray("\xb6\xc5.bmp") << "ｶﾅ.bmp" << 6;
        QTest::newRow("bytes that are no character, one each")
            << QByteArray("\xff\x82\xfe\x80.jpg") << "\uFFFD\uFFFD\uFFFD\uFFFD.jpg" << 8;
        QTest::newRow("lead byte at the end") << QByteArray("a\x82") << "a\uFFFD" << 2;
        // Control characters have visible stand-ins, so that a name is one line read left to right.
        QTest::newRow("line feed and tab")
            << QByteArray("line\nbreak\t.jpg") << "line<LF>break<TAB>.jpg" << 15;
        QTest::newRow("escape sequence") << QByteArray("\x1b[2Jx") << "<ESC>[2Jx" << 5;
        QTest::newRow("right-to-left override")
            << QByteArray("cat\u202Egpj.exe") << "cat<U+202E>gpj.exe" << 11;
        QTest::newRow("C1, DEL, line separator, isolate")
            << QByteArray("a\u0085b\x7f\u2028\u2069") << "a<U+0085>b<DEL><U+2028><U+2069>" << 6;
        QTest::newRow("Shift-JIS with a control byte") << QByteArray("\x82\xa0\r\x82\xa2") << "あ<CR>い" << 3;
        // Either encoding for the whole name: one stray byte makes the UTF-8 part read as CP932.
        QTest::newRow("UTF-8 with a stray byte")
            << QByteArray("\xe3\x81\x82\xff") << QString::fromUtf8("縺\uFFFD\uFFFD") << 3;
    }
    void readAsShown() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QFETCH(int, characters);
        const std::string name = bytes.toStdString();
        QCOMPARE(QString::fromStdString(legibleName(name)), shown);
        QCOMPARE(int(nameCharacterCount(name)), characters);
        // Counting stops on character boundaries only.
        std::size_t before = 0;
        for (int n = 1; n <= characters; ++n) {
            const std::optional<std::size_t> end = offsetAfterCharacters(name, std::size_t(n));
            QVERIFY(end && *end > before);
            before = *end;
        }
        QCOMPARE(before, name.size());
        QVERIFY(!offsetAfterCharacters(name, std::size_t(characters) + 1));
    }

    // A UTF-8 folder may hold a Shift-JIS name: each component is read on its own.
    void pathReadComponentByComponent() {
        QCOMPARE(QString::fromStdString(legibleName("/写真/\x93\xfa\x96\x7b/a")), QString("/写真/日本/a"));
    }
};

QTEST_APPLESS_MAIN(TestNameText)
#include "test_name_text.moc"
