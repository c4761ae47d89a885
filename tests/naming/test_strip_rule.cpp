// The strip rule: which names lose their serial prefix, and what is left of them.
#include "naming/strip_rule.h"

#include <QtTest>

using namespace corvalin;

class TestStripRule : public QObject {
    Q_OBJECT

private slots:
    void strippedName_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("stripped");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("numbered") << QByteArray("000123 cat.jpg") << true << QByteArray("cat.jpg");
        QTest::newRow("any six characters") << QByteArray("abcdef ghi.jpg") << true << QByteArray("ghi.jpg");
        QTest::newRow("one prefix per run")
            << QByteArray("000001 000002 a.jpg") << true << QByteArray("000002 a.jpg");
        QTest::newRow("second blank kept") << QByteArray("000123  cat.jpg") << true << QByteArray(" cat.jpg");
        QTest::newRow("eight characters") << QByteArray("000123 x") << true << QByteArray("x");
        QTest::newRow("plain name") << QByteArray("cat.jpg") << false << QByteArray();
        QTest::newRow("underscore") << QByteArray("000123_cat.jpg") << false << QByteArray();
        QTest::newRow("blank sixth") << QByteArray("00012 a.jpg") << false << QByteArray();
        QTest::newRow("nothing after the blank") << QByteArray("000123 ") << false << QByteArray();
        QTest::newRow("short") << QByteArray("a b") << false << QByteArray();
        QTest::newRow("empty") << QByteArray() << false << QByteArray();
        // UTF-8 names count characters, not bytes.
        QTest::newRow("six kana") << QByteArray("あいうえおか x.jpg") << true << QByteArray("x.jpg");
        QTest::newRow("blank is seventh byte, fifth character")
            << QByteArray("あ123 xyz.jpg") << false << QByteArray();
        QTest::newRow("kana after the prefix")
            << QByteArray("000123 ねこ.jpg") << true << QByteArray("ねこ.jpg");
        // Other names count CP932 characters, one a byte where that fails; the cut falls after the
        // blank and keeps the rest's bytes.
        QTest::newRow("three shift-jis characters")
            << QByteArray("\x82\xa0\x82\xa2\x82\xa4 x.jpg") << false << QByteArray();
        QTest::newRow("six shift-jis characters")
            << QByteArray("\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9 x.jpg") << true
            << QByteArray("x.jpg");
        QTest::newRow("shift-jis rest")
            << QByteArray("000123 \x82\xa0.jpg") << true << QByteArray("\x82\xa0.jpg");
        QTest::newRow("cut-off sequence after")
            << QByteArray("abcdef \xe3\x81") << true << QByteArray("\xe3\x81");
        QTest::newRow("overlong blank is no blank")
            << QByteArray("abcdef\xc0\xa0xyz") << false << QByteArray();
        QTest::newRow("invalid, blank elsewhere") << QByteArray("\x82\xa0 abcdef") << false << QByteArray();
    }
    void strippedName() {
        QFETCH(QByteArray, name);
        QFETCH(bool, stripped);
        QFETCH(QByteArray, rest);
        const std::optional<std::string> result = corvalin::strippedName(name.toStdString());
        QCOMPARE(result.has_value(), stripped);
        if (result)
            QCOMPARE(QByteArray::fromStdString(*result), rest);
    }
};

QTEST_APPLESS_MAIN(TestStripRule)
#include "test_strip_rule.moc"
