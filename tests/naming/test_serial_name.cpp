// The serial-numbered name: which names carry a prefix, which are pictures, and which numbers a
// folder already holds. The wrap is tested with the run, where the counter file shows it.
#include "naming/held_numbers.h"
#include "naming/picture_types.h"
#include "naming/serial_name.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {

// "5,8-10": numbers and inclusive ranges.
HeldNumbers heldFrom(const QString& text) {
    HeldNumbers held;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList bounds = part.split('-');
        for (int number = bounds.first().toInt(); number <= bounds.last().toInt(); ++number)
            held.hold(number);
    }
    return held;
}

} // namespace

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

    // Each name with no optional type chosen, then with the listed ones ("png,tiff"); `ending` is
    // what marks it as a picture of a type not chosen while none is.
    void pictureTest_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<bool>("pictureWhenChosen");
        QTest::addColumn<QByteArray>("ending");
        const QByteArray all = "png,gif,webp,tiff,avif,heif,jfif";
        QTest::newRow("upper case") << QByteArray("CAT.JPG") << QByteArray() << true << true << QByteArray();
        QTest::newRow("mixed case jpeg") << QByteArray("x.Jpeg") << all << true << true << QByteArray();
        QTest::newRow("bitmap") << QByteArray("y.BMP") << QByteArray() << true << true << QByteArray();
        QTest::newRow("no dot needed") << QByteArray("jpeg") << QByteArray() << true << true << QByteArray();
        QTest::newRow("ends in jpg without dot")
            << QByteArray("photojpg") << QByteArray() << true << true << QByteArray();
        QTest::newRow("jpg not last") << QByteArray("z.jpg.txt") << all << false << false << QByteArray();
        QTest::newRow("gif") << QByteArray("a.gif") << QByteArray("gif") << false << true
                             << QByteArray(".gif");
        QTest::newRow("png, another type chosen")
            << QByteArray("a.png") << QByteArray("gif") << false << false << QByteArray(".png");
        QTest::newRow("PNG in capitals")
            << QByteArray("A.PNG") << QByteArray("png") << false << true << QByteArray(".png");
        QTest::newRow("optional type needs its dot")
            << QByteArray("motif") << all << false << false << QByteArray();
        QTest::newRow("tif and tiff")
            << QByteArray("scan.Tif") << QByteArray("tiff") << false << true << QByteArray(".tif");
        QTest::newRow("tiff long ending")
            << QByteArray("scan.tiff") << QByteArray("tiff") << false << true << QByteArray(".tiff");
        QTest::newRow("heic counts as heif")
            << QByteArray("p.HEIC") << QByteArray("heif") << false << true << QByteArray(".heic");
        QTest::newRow("webp") << QByteArray("w.webp") << all << false << true << QByteArray(".webp");
        QTest::newRow("video never") << QByteArray("v.mp4") << all << false << false << QByteArray();
        QTest::newRow("trailing blank") << QByteArray("a.jpg ") << all << false << false << QByteArray();
        QTest::newRow("full-width letters")
            << QByteArray("a.ｊｐｇ") << QByteArray() << false << false << QByteArray();
        // Characters, not bytes: in a CP932 name the second byte of a character may be a letter.
        QTest::newRow("CP932 character ending in j")
            << QByteArray("\x83\x6apg") << QByteArray() << false << false << QByteArray();
        QTest::newRow("CP932 character ending in b")
            << QByteArray("\x83\x62mp") << QByteArray() << false << false << QByteArray();
        QTest::newRow("CP932 character ending in j, jpeg")
            << QByteArray("\x83\x6apeg") << QByteArray() << false << false << QByteArray();
        QTest::newRow("CP932 name with its own jpg")
            << QByteArray("\x83\x6ajpg") << QByteArray() << true << true << QByteArray();
        QTest::newRow("CP932 name with a dot")
            << QByteArray("\x83\x6a.JPG") << QByteArray() << true << true << QByteArray();
        QTest::newRow("CP932 name, chosen type")
            << QByteArray("\x8e\xca\x90\x5e.png") << QByteArray("png") << false << true << QByteArray(".png");
        // JPEG as some browsers name it, chosen like the other added types.
        QTest::newRow("jfif") << QByteArray("a.jfif") << QByteArray("jfif") << false << true
                              << QByteArray(".jfif");
        QTest::newRow("jpe in capitals")
            << QByteArray("b.JPE") << QByteArray("jfif") << false << true << QByteArray(".jpe");
        QTest::newRow("jfi") << QByteArray("c.jfi") << all << false << true << QByteArray(".jfi");
        QTest::newRow("jfif needs its dot") << QByteArray("myjfif") << all << false << false << QByteArray();
        // Pictures as some sites name them: told as pictures whatever is chosen, never moved.
        QTest::newRow("jpg_large") << QByteArray("x.jpg_large") << all << false << false
                                   << QByteArray(".jpg_large");
        QTest::newRow("JPG_ORIG") << QByteArray("y.JPG_ORIG") << all << false << false
                                  << QByteArray(".jpg_orig");
        QTest::newRow("png_large, PNG chosen")
            << QByteArray("z.png_large") << QByteArray("png") << false << false << QByteArray(".png_large");
    }
    void pictureTest() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, chosen);
        QTEST(isPicture(name.toStdString()), "picture");
        QTEST(isPicture(name.toStdString(), PictureTypes{}), "picture");
        QTEST(isPicture(name.toStdString(), decodePictureTypes(chosen.toStdString())), "pictureWhenChosen");
        QFETCH(QByteArray, ending);
        QFETCH(bool, pictureWhenChosen);
        QCOMPARE(QByteArray(unchosenPictureEnding(name.toStdString(), PictureTypes{}).value_or("").data()),
                 ending);
        const auto whenChosen =
            unchosenPictureEnding(name.toStdString(), decodePictureTypes(chosen.toStdString()));
        QCOMPARE(QByteArray(whenChosen.value_or("").data()), pictureWhenChosen ? QByteArray() : ending);
    }

    // The number a picture takes from the counter on: itself when free, else the next free one along
    // the round. "held" lists numbers and ranges; -1 stands for none.
    void nextFreeNumber_data() {
        QTest::addColumn<QString>("held");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("expected");
        QTest::newRow("free") << "41,43" << 42 << 42;
        QTest::newRow("held at the counter and after") << "42-44,46" << 42 << 45;
        QTest::newRow("held below only") << "0-41" << 42 << 42;
        QTest::newRow("round past the highest") << "999998-999999,0-1" << 999998 << 2;
        QTest::newRow("a word's last bit, then the next word") << "63-64" << 63 << 65;
        QTest::newRow("one free below the counter") << "0-4,6-999999" << 10 << 5;
        QTest::newRow("all held") << "0-999999" << 7 << -1;
        QTest::newRow("a negative counter stays") << "0-10" << -3 << -3;
        QTest::newRow("above the highest before its wrap") << "0-10" << 1000000 << 1000000;
    }
    void nextFreeNumber() {
        QFETCH(QString, held);
        QFETCH(int, start);
        QTEST(heldFrom(held).nextFree(start).value_or(-1), "expected");
    }

    // Every entry named with six digits and a blank holds its number, whatever it is; other names
    // hold none.
    void numbersAFolderHolds() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        std::ofstream(folder / "000001 a.jpg") << "a";
        std::ofstream(folder / "999999 z.txt") << "z";
        fs::create_directory(folder / "000002 folder");
        fs::create_symlink("nowhere", folder / "000003 link");
        for (const char* other : {"00004 five digits", ".000005 hidden", "000006x.jpg", "abcdef 7.jpg"})
            std::ofstream(folder / other) << "o";
        const Result<HeldNumbers> held = heldNumbersIn(folder);
        QVERIFY(held.ok());
        QCOMPARE(held.value().freeCount(), 1000000 - 4);
        for (int number : {1, 2, 3, 999999})
            QVERIFY(held.value().holds(number));
        QCOMPARE(heldNumbersIn(folder / "missing").code(), ENOENT);
    }
};

QTEST_APPLESS_MAIN(TestSerialName)
#include "test_serial_name.moc"
