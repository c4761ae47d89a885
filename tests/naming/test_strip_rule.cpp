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
        // Only six ASCII digits and a blank are a prefix; any other name is the user's own.
        QTest::newRow("six letters left alone") << QByteArray("abcdef ghi.jpg") << false << QByteArray();
        QTest::newRow("first word kept") << QByteArray("Sunset beach.jpg") << false << QByteArray();
        QTest::newRow("full-width digits") << QByteArray("０００１２３ a.jpg") << false << QByteArray();
        QTest::newRow("tab as seventh") << QByteArray("000123\ta.jpg") << false << QByteArray();
        QTest::newRow("a letter among the digits") << QByteArray("0001a3 a.jpg") << false << QByteArray();
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
        QTest::newRow("six kana") << QByteArray("あいうえおか x.jpg") << false << QByteArray();
        QTest::newRow("blank is seventh byte, fifth character")
            << QByteArray("あ123 xyz.jpg") << false << QByteArray();
        QTest::newRow("kana after the prefix")
            << QByteArray("000123 ねこ.jpg") << true << QByteArray("ねこ.jpg");
        // The rest's bytes are kept, whatever they read as.
        QTest::newRow("three shift-jis characters")
            << QByteArray("\x82\xa0\x82\xa2\x82\xa4 x.jpg") << false << QByteArray();
        QTest::newRow("six shift-jis characters")
            << QByteArray("\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9 x.jpg") << false << QByteArray();
        QTest::newRow("shift-jis rest")
            << QByteArray("000123 \x82\xa0.jpg") << true << QByteArray("\x82\xa0.jpg");
        QTest::newRow("cut-off sequence after")
            << QByteArray("000000 \xe3\x81") << true << QByteArray("\xe3\x81");
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
