// How the number boxes read what the user typed, and what the serial-number box hands over.
#include "options/leading_number.h"
#include "options/serial_number.h"
#include "options/stored_options.h"

#include <QtTest>

#include <cmath>

using namespace corvalin;

class TestLeadingNumber : public QObject {
    Q_OBJECT

private slots:
    void leadingNumber_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << QByteArray("42") << 42.0;
        QTest::newRow("no number") << QByteArray("abc") << 0.0;
        QTest::newRow("empty") << QByteArray("") << 0.0;
        QTest::newRow("stops at a letter") << QByteArray("12abc") << 12.0;
        QTest::newRow("leading blanks and tab") << QByteArray("  \t7") << 7.0;
        QTest::newRow("blank inside ends it") << QByteArray("1 2") << 1.0;
        QTest::newRow("plus sign") << QByteArray("+8") << 8.0;
        QTest::newRow("minus sign") << QByteArray("-5") << -5.0;
        QTest::newRow("sign alone") << QByteArray("-") << 0.0;
        QTest::newRow("fraction") << QByteArray("12.5") << 12.5;
        QTest::newRow("point first") << QByteArray(".25") << 0.25;
        QTest::newRow("point last") << QByteArray("5.") << 5.0;
        QTest::newRow("point alone") << QByteArray(".") << 0.0;
        QTest::newRow("comma ends it") << QByteArray("1,000") << 1.0;
        QTest::newRow("exponent") << QByteArray("1e3") << 1000.0;
        QTest::newRow("capital exponent with sign") << QByteArray("25E-1") << 2.5;
        QTest::newRow("exponent without digits") << QByteArray("7e") << 7.0;
        QTest::newRow("exponent sign without digits") << QByteArray("7e+x") << 7.0;
        QTest::newRow("D is no exponent") << QByteArray("1d3") << 1.0;
        QTest::newRow("no hexadecimal") << QByteArray("0x1F") << 0.0;
        QTest::newRow("full-width digits") << QByteArray("１２３") << 123.0;
        QTest::newRow("full-width one") << QByteArray("１") << 1.0;
        QTest::newRow("full-width blank, sign, point") << QByteArray("　－１．５") << -1.5;
        QTest::newRow("mixed widths") << QByteArray("1２3") << 123.0;
        QTest::newRow("other wide character ends it") << QByteArray("12円") << 12.0;
        QTest::newRow("cut UTF-8 ends it") << QByteArray("9\xEF") << 9.0;
        QTest::newRow("underflow") << QByteArray("1e-400") << 0.0;
        QTest::newRow("many zeros then fraction underflow") << QByteArray("0.0000001e-320") << 0.0;
        QTest::newRow("huge exponent digits") << QByteArray("1e99999999999999999999") << HUGE_VAL;
        QTest::newRow("overflow") << QByteArray("1e400") << HUGE_VAL;
        QTest::newRow("negative overflow") << QByteArray("-1e400") << -HUGE_VAL;
        QTest::newRow("overflow by digits") << QByteArray(400, '9') << HUGE_VAL;
    }
    void leadingNumber() {
        QFETCH(QByteArray, text);
        QFETCH(double, value);
        QCOMPARE(readLeadingNumber(text.toStdString()), value);
    }

    void serialNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("serialNo");
        QTest::addColumn<bool>("showZero");
        QTest::newRow("abc keeps its text") << "abc" << 0 << false;
        QTest::newRow("empty") << "" << 0 << false;
        QTest::newRow("half down to even") << "12.5" << 12 << false;
        QTest::newRow("half up to even") << "13.5" << 14 << false;
        QTest::newRow("below half") << "12.49" << 12 << false;
        QTest::newRow("zero point five") << "0.5" << 0 << false;
        QTest::newRow("negative half to even") << "-2.5" << -2 << false;
        QTest::newRow("exponent") << "1e3" << 1000 << false;
        QTest::newRow("negative taken as it is") << "-5" << -5 << false;
        QTest::newRow("full-width") << "１２３" << 123 << false;
        QTest::newRow("largest") << "999999" << 999999 << false;
        QTest::newRow("just above largest") << "999999.4" << 0 << true;
        QTest::newRow("a million") << "1000000" << 0 << true;
        QTest::newRow("thirteen digits") << "9999999999999" << 0 << true;
        QTest::newRow("overflow") << "1e400" << 0 << true;
        QTest::newRow("lowest counter") << "-2147483648" << int(INT32_MIN) << false;
        QTest::newRow("lowest counter, half to even") << "-2147483648.5" << int(INT32_MIN) << false;
        QTest::newRow("below the counter") << "-2147483649" << 0 << true;
        QTest::newRow("negative overflow") << "-1e400" << 0 << true;
    }
    void serialNumber() {
        QFETCH(QString, text);
        QFETCH(int, serialNo);
        QFETCH(bool, showZero);
        const SerialTakeover taken = serialNumberFrom(text.toStdString());
        QCOMPARE(taken.serialNo, serialNo);
        QCOMPARE(taken.showZero, showZero);
    }

    void characterCount_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("ascii") << "050" << 3;
        QTest::newRow("full-width one") << "１" << 1;
        QTest::newRow("mixed") << "1２3" << 3;
        QTest::newRow("outside the basic plane") << QString::fromUtf8("1\xF0\x9F\x98\x80") << 2;
    }
    void characterCount() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(corvalin::characterCount(text.toStdString()), std::size_t(count));
    }

    // The strip modes exclude each other, and the strip-in-folder mode wins.
    void storedOptions_data() {
        QTest::addColumn<bool>("check3");
        QTest::addColumn<bool>("check4");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<bool>("shown3");
        QTest::addColumn<bool>("shown4");
        QTest::newRow("move") << false << false << "100" << false << false;
        QTest::newRow("in folder") << true << false << "110" << true << false;
        QTest::newRow("into subfolder") << false << true << "101" << false << true;
        QTest::newRow("both: in folder wins") << true << true << "110" << true << false;
    }
    void storedOptions() {
        QFETCH(bool, check3);
        QFETCH(bool, check4);
        QFETCH(QString, flags);
        QFETCH(bool, shown3);
        QFETCH(bool, shown4);
        Module1 vars;
        vars.OptFlags[1] = OptionValue::text("1");
        const OptionTicks shown = storeOptions(vars, {true, check3, check4});
        QString stored;
        for (const OptionValue& flag : vars.OptFlags) {
            QVERIFY(flag.isNumber());
            stored += QString::number(flag.asNumber());
        }
        QCOMPARE(stored, flags);
        QCOMPARE(shown, (OptionTicks{true, shown3, shown4}));
    }
};

QTEST_APPLESS_MAIN(TestLeadingNumber)
#include "test_leading_number.moc"
