// The serial-numbered name: which names carry a prefix, and which are pictures. The wrap is
// tested with the run, where the counter file shows it.
#include "naming/picture_types.h"
#include "naming/serial_name.h"

#include <QtTest>

using namespace corvalin;

class TestSerialName : public QObject {
    Q_OBJECT
private slots:
    void newName_data() {
        QTest::addColumn<int>("serialNo");
        QTest::addColumn<QByteArray>("listed");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain name") << 42 << QByteArray("cat.jpg") << QByteArray("000042 cat.jpg");
        QTest::newRow("old prefix replaced, case kept")
            << 42 << QByteArray("000007 cat.JPG") << QByteArray("000042 cat.JPG");
        // Only six ASCII digits and a blank are a prefix: every other name is the user's own, whole.
        QTest::newRow("six letters are no prefix")
            << 42 << QByteArray("abcdef xyz.bmp") << QByteArray("000042 abcdef xyz.bmp");
        QTest::newRow("first word kept")
            << 42 << QByteArray("Sunset beach.jpg") << QByteArray("000042 Sunset beach.jpg");
        QTest::newRow("six-letter first word kept")
            << 42 << QByteArray("family photo 2.jpg") << QByteArray("000042 family photo 2.jpg");
        QTest::newRow("digits and letters are no prefix")
            << 42 << QByteArray("12345a x.jpg") << QByteArray("000042 12345a x.jpg");
        QTest::newRow("full-width digits are no prefix")
            << 42 << QByteArray("０００００１ x.jpg") << QByteArray("000042 ０００００１ x.jpg");
        QTest::newRow("tab as seventh character")
            << 42 << QByteArray("000001\tx.jpg") << QByteArray("000042 000001\tx.jpg");
        QTest::newRow("five digits and a blank")
            << 42 << QByteArray("00012 a.jpg") << QByteArray("000042 00012 a.jpg");
        QTest::newRow("seventh is a dot")
            << 42 << QByteArray("my cat.jpg") << QByteArray("000042 my cat.jpg");
        QTest::newRow("four-letter extension")
            << 42 << QByteArray("photo.jpeg") << QByteArray("000042 photo.jpeg");
        QTest::newRow("one prefix only")
            << 42 << QByteArray("000001 000002 a.jpg") << QByteArray("000042 000002 a.jpg");
        QTest::newRow("shorter than seven") << 42 << QByteArray("a.jpg") << QByteArray("000042 a.jpg");
        QTest::newRow("exactly seven characters, numbered")
            << 42 << QByteArray("000001 ") << QByteArray("000042 ");
        QTest::newRow("exactly seven characters, letters")
            << 42 << QByteArray("abcdef ") << QByteArray("000042 abcdef ");
        QTest::newRow("Japanese first word kept")
            << 42 << QByteArray("日本語の名前 写真.jpg") << QByteArray("000042 日本語の名前 写真.jpg");
        QTest::newRow("blank in seventh byte only")
            << 42 << QByteArray("猫の 1.jpg") << QByteArray("000042 猫の 1.jpg");
        QTest::newRow("three Shift-JIS characters and a blank")
            << 42 << QByteArray("\x82\xa0\x82\xa2\x82\xa4 x.jpg")
            << QByteArray("000042 \x82\xa0\x82\xa2\x82\xa4 x.jpg");
        QTest::newRow("six Shift-JIS characters and a blank")
            << 42 << QByteArray("\x83\x4c\x83\x83\x83\x62\x83\x67\x82\xcc\x8e\x71 x.jpg")
            << QByteArray("000042 \x83\x4c\x83\x83\x83\x62\x83\x67\x82\xcc\x8e\x71 x.jpg");
        QTest::newRow("half-width katakana, one byte each")
            << 42 << QByteArray("\xb1\xb2\xb3\xb4\xb5\xb6 x.jpg")
            << QByteArray("000042 \xb1\xb2\xb3\xb4\xb5\xb6 x.jpg");
        QTest::newRow("numbered Shift-JIS name")
            << 42 << QByteArray("000123 \x82\xa0.jpg") << QByteArray("000042 \x82\xa0.jpg");
        QTest::newRow("Shift-JIS full-width blank is no prefix")
            << 42 << QByteArray("12345\x81\x40x.jpg") << QByteArray("000042 12345\x81\x40x.jpg");
        QTest::newRow("Shift-JIS name kept")
            << 42 << QByteArray("\x8e\xca\x90\x5e.jpg") << QByteArray("000042 \x8e\xca\x90\x5e.jpg");
        QTest::newRow("highest number") << 999999 << QByteArray("a.jpg") << QByteArray("999999 a.jpg");
        QTest::newRow("negative number") << -5 << QByteArray("a.jpg") << QByteArray("-000005 a.jpg");
    }
    void newName() {
        QFETCH(int, serialNo);
        QFETCH(QByteArray, listed);
        QFETCH(QByteArray, expected);
        QCOMPARE(QByteArray::fromStdString(serialName(serialNo, listed.toStdString())), expected);
    }

    // Each name with no optional type chosen, then with the listed ones ("png,tiff").
    void pictureTest_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<bool>("pictureWhenChosen");
        const QByteArray all = "png,gif,webp,tiff,avif,heif";
        QTest::newRow("upper case") << QByteArray("CAT.JPG") << QByteArray() << true << true;
        QTest::newRow("mixed case jpeg") << QByteArray("x.Jpeg") << all << true << true;
        QTest::newRow("bitmap") << QByteArray("y.BMP") << QByteArray() << true << true;
        QTest::newRow("no dot needed") << QByteArray("jpeg") << QByteArray() << true << true;
        QTest::newRow("ends in jpg without dot") << QByteArray("photojpg") << QByteArray() << true << true;
        QTest::newRow("jpg not last") << QByteArray("z.jpg.txt") << all << false << false;
        QTest::newRow("gif") << QByteArray("a.gif") << QByteArray("gif") << false << true;
        QTest::newRow("png, another type chosen")
            << QByteArray("a.png") << QByteArray("gif") << false << false;
        QTest::newRow("PNG in capitals") << QByteArray("A.PNG") << QByteArray("png") << false << true;
        QTest::newRow("optional type needs its dot") << QByteArray("motif") << all << false << false;
        QTest::newRow("tif and tiff") << QByteArray("scan.Tif") << QByteArray("tiff") << false << true;
        QTest::newRow("tiff long ending") << QByteArray("scan.tiff") << QByteArray("tiff") << false << true;
        QTest::newRow("heic counts as heif") << QByteArray("p.HEIC") << QByteArray("heif") << false << true;
        QTest::newRow("webp") << QByteArray("w.webp") << all << false << true;
        QTest::newRow("video never") << QByteArray("v.mp4") << all << false << false;
        QTest::newRow("trailing blank") << QByteArray("a.jpg ") << all << false << false;
        QTest::newRow("full-width letters") << QByteArray("a.ｊｐｇ") << QByteArray() << false << false;
        // Characters, not bytes: in a CP932 name the second byte of a character may be a letter.
        QTest::newRow("CP932 character ending in j")
            << QByteArray("\x83\x6apg") << QByteArray() << false << false;
        QTest::newRow("CP932 character ending in b")
            << QByteArray("\x83\x62mp") << QByteArray() << false << false;
        QTest::newRow("CP932 character ending in j, jpeg")
            << QByteArray("\x83\x6apeg") << QByteArray() << false << false;
        QTest::newRow("CP932 name with its own jpg")
            << QByteArray("\x83\x6ajpg") << QByteArray() << true << true;
        QTest::newRow("CP932 name with a dot") << QByteArray("\x83\x6a.JPG") << QByteArray() << true << true;
        QTest::newRow("CP932 name, chosen type")
            << QByteArray("\x8e\xca\x90\x5e.png") << QByteArray("png") << false << true;
    }
    void pictureTest() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, chosen);
        QTEST(isPicture(name.toStdString()), "picture");
        QTEST(isPicture(name.toStdString(), PictureTypes{}), "picture");
        QTEST(isPicture(name.toStdString(), decodePictureTypes(chosen.toStdString())), "pictureWhenChosen");
    }
};

QTEST_APPLESS_MAIN(TestSerialName)
#include "test_serial_name.moc"
