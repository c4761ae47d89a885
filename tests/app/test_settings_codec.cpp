#include "app/settings_codec.h"

#include <QTest>

using namespace corvalin;

Q_DECLARE_METATYPE(corvalin::OptionValue)
Q_DECLARE_METATYPE(corvalin::ReadError)

namespace corvalin {
char* toString(ReadError error) {
    static const char* const names[] = {"None", "EndOfFile", "TypeMismatch", "Overflow"};
    return qstrdup(names[static_cast<int>(error)]);
}
} // namespace corvalin

namespace {

// Keeps embedded NUL bytes, which a plain char* constructor would cut at.
template <std::size_t N> QByteArray raw(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), std::size_t(bytes.size())};
}

} // namespace

class TestSettingsCodec : public QObject {
    Q_OBJECT

private slots:
    // Each line must come out byte for byte and read back into the same variables.
    void settingsLine_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("dest");
        QTest::addColumn<QByteArray>("maker");
        QTest::addColumn<int>("runFlag");
        QTest::addColumn<OptionValue>("option");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("34 characters")
            << raw("D:\\Download") << raw("D:\\Pictures") << raw("") << 1 << OptionValue::number(0)
            << raw("\"D:\\Download\",\"D:\\Pictures\",\"\",1,0\r\n");
        QTest::newRow("empty option")
            << raw("/a") << raw("/b") << raw("") << 1 << OptionValue() << raw("\"/a\",\"/b\",\"\",1,\r\n");
        QTest::newRow("non-UTF-8 and NUL bytes")
            << raw("/d/\x82\xa0\xff") << raw("/\0x") << raw("/m/\xfe") << 0 << OptionValue::number(1)
            << raw("\"/d/\x82\xa0\xff\",\"/\0x\",\"/m/\xfe\",0,1\r\n");
        QTest::newRow("commas and line ends in paths")
            << raw("/a,b") << raw("/c\r\nd") << raw("/e\nf") << 0 << OptionValue()
            << raw("\"/a,b\",\"/c\r\nd\",\"/e\nf\",0,\r\n");
        QTest::newRow("negative flag, fraction")
            << raw("") << raw("") << raw("") << -1 << OptionValue::number(1.5)
            << raw("\"\",\"\",\"\",-1,1.5\r\n");
        QTest::newRow("whole number without exponent")
            << raw("") << raw("") << raw("") << 0 << OptionValue::number(1000000)
            << raw("\"\",\"\",\"\",0,1000000\r\n");
        QTest::newRow("text option") << raw("") << raw("") << raw("") << 0 << OptionValue::text("on")
                                     << raw("\"\",\"\",\"\",0,\"on\"\r\n");
    }
    void settingsLine() {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, dest);
        QFETCH(QByteArray, maker);
        QFETCH(int, runFlag);
        QFETCH(OptionValue, option);
        QFETCH(QByteArray, line);

        Module1 vars;
        vars.SourcePath = source.toStdString();
        vars.DestPath = dest.toStdString();
        vars.MakerPath = maker.toStdString();
        vars.RunFlag = std::int16_t(runFlag);
        vars.OptFlags[0] = option;
        const std::string encoded = encodeSettings(vars);
        QCOMPARE(QByteArray::fromStdString(encoded), line);

        FieldReader reader(encoded);
        std::string text[3];
        std::int16_t readFlag = 0;
        OptionValue readOption = OptionValue::text("unread");
        for (std::string& field : text)
            QCOMPARE(reader.readText(field), ReadError::None);
        QCOMPARE(reader.readInt16(readFlag), ReadError::None);
        QCOMPARE(reader.readOption(readOption), ReadError::None);
        QCOMPARE(QByteArray::fromStdString(text[0]), source);
        QCOMPARE(QByteArray::fromStdString(text[1]), dest);
        QCOMPARE(QByteArray::fromStdString(text[2]), maker);
        QCOMPARE(readFlag, vars.RunFlag);
        QVERIFY(readOption == option);
    }

    void textWithAQuoteIsStoredAsEmpty() {
        Module1 vars;
        vars.SourcePath = "/home/u/DL\"pics";
        vars.DestPath = "/home/u/out";
        vars.MakerPath = "/a\",\"b";
        vars.RunFlag = 1;
        vars.OptFlags[0] = OptionValue::text("\"");
        QCOMPARE(QByteArray::fromStdString(encodeSettings(vars)),
                 raw("\"\",\"/home/u/out\",\"\",1,\"\"\r\n"));
    }

    void readInteger_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("bits");
        QTest::addColumn<ReadError>("error");
        QTest::addColumn<qint64>("value");

        const auto ok = ReadError::None;
        QTest::newRow("blanks around") << raw(" \t7 \t,9") << 16 << ok << qint64(7);
        QTest::newRow("half down to even") << raw("2.5") << 16 << ok << qint64(2);
        QTest::newRow("half up to even") << raw("3.5") << 16 << ok << qint64(4);
        QTest::newRow("negative half") << raw("-2.5") << 16 << ok << qint64(-2);
        QTest::newRow("exponent, plus sign") << raw("+1.5E2") << 16 << ok << qint64(150);
        QTest::newRow("empty field") << raw(",1") << 16 << ok << qint64(0);
        QTest::newRow("empty line") << raw("\r\n1") << 32 << ok << qint64(0);
        QTest::newRow("lowest 16-bit") << raw("-32768") << 16 << ok << qint64(-32768);
        QTest::newRow("rounds past 16 bits") << raw("32767.5") << 16 << ReadError::Overflow << qint64(-1);
        QTest::newRow("99999 into 16 bits") << raw("99999") << 16 << ReadError::Overflow << qint64(-1);
        QTest::newRow("highest 32-bit") << raw("2147483647\r\n") << 32 << ok << qint64(2147483647);
        QTest::newRow("past 32 bits") << raw("2147483648") << 32 << ReadError::Overflow << qint64(-1);
        QTest::newRow("beyond a double") << raw("1E999") << 32 << ReadError::Overflow << qint64(-1);
        QTest::newRow("quoted digits") << raw("\"1\"") << 16 << ReadError::TypeMismatch << qint64(-1);
        QTest::newRow("text") << raw("yes") << 16 << ReadError::TypeMismatch << qint64(-1);
        QTest::newRow("digits then text") << raw("1x") << 32 << ReadError::TypeMismatch << qint64(-1);
        QTest::newRow("lone sign") << raw("-") << 32 << ReadError::TypeMismatch << qint64(-1);
        QTest::newRow("empty input") << raw("") << 32 << ReadError::EndOfFile << qint64(-1);
        QTest::newRow("only blanks") << raw(" \t") << 32 << ReadError::EndOfFile << qint64(-1);
        QTest::newRow("NUL bytes") << raw("\0\0") << 32 << ReadError::TypeMismatch << qint64(-1);
    }
    void readInteger() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, bits);
        QFETCH(ReadError, error);
        QFETCH(qint64, value);

        FieldReader reader(view(bytes));
        std::int16_t small = -1; // a failed read must leave the variable as it was
        std::int32_t large = -1;
        QCOMPARE(bits == 16 ? reader.readInt16(small) : reader.readInt32(large), error);
        QCOMPARE(qint64(bits == 16 ? small : large), value);
    }

    void readOption_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ReadError>("error");
        QTest::addColumn<OptionValue>("value");

        const auto ok = ReadError::None;
        QTest::newRow("number") << raw(" 1 \r\n") << ok << OptionValue::number(1);
        QTest::newRow("fraction") << raw("1.5") << ok << OptionValue::number(1.5);
        QTest::newRow("empty") << raw("\r\n") << ok << OptionValue();
        QTest::newRow("quoted") << raw("\"1\"") << ok << OptionValue::text("1");
        QTest::newRow("unquoted text") << raw("on") << ok << OptionValue::text("on");
        QTest::newRow("beyond a double")
            << raw("1e999") << ReadError::Overflow << OptionValue::text("before");
    }
    void readOption() {
        QFETCH(QByteArray, bytes);
        QFETCH(ReadError, error);
        QFETCH(OptionValue, value);

        FieldReader reader(view(bytes));
        OptionValue option = OptionValue::text("before");
        QCOMPARE(reader.readOption(option), error);
        QVERIFY(option == value);
    }

    // What readText gives for each field until the input runs out.
    void fieldBoundaries_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("fields");

        QTest::newRow("CR LF is one line end") << raw("a\r\nb") << QByteArrayList{"a", "b"};
        QTest::newRow("CR alone") << raw("a\rb") << QByteArrayList{"a", "b"};
        QTest::newRow("LF alone") << raw("a\nb") << QByteArrayList{"a", "b"};
        QTest::newRow("trailing comma") << raw("a,") << QByteArrayList{"a", ""};
        QTest::newRow("line end after last field") << raw("a,b\r\n") << QByteArrayList{"a", "b"};
        QTest::newRow("after closing quote") << raw("\"a\" x,b") << QByteArrayList{"a", "b"};
        QTest::newRow("leading blanks") << raw(" \t\"a\",  b c ") << QByteArrayList{"a", "b c"};
        QTest::newRow("number as written") << raw("007,1.50") << QByteArrayList{"007", "1.50"};
        QTest::newRow("unterminated quote") << raw("a,\"b") << QByteArrayList{"a"};
    }
    void fieldBoundaries() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, fields);

        FieldReader reader(view(bytes));
        QByteArrayList read;
        std::string field;
        ReadError error;
        while ((error = reader.readText(field)) == ReadError::None && read.size() <= fields.size())
            read << QByteArray::fromStdString(field);
        QCOMPARE(read, fields);
        QCOMPARE(error, ReadError::EndOfFile);
    }
};

QTEST_APPLESS_MAIN(TestSettingsCodec)
#include "test_settings_codec.moc"
