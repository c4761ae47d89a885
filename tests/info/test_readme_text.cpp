// The read-me as the help window shows it: its lines, its encoding and where it is found.
#include "info/readme_text.h"
#include "platform/utf8.h"
#include "temp_tree.h"

#include <QtTest>

#include <sys/stat.h>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

class TestReadmeText : public QObject {
    Q_OBJECT
private slots:
    void everyLineEndsInCrLf_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("last line without line end")
            << QByteArray("a\r\nb\r\nc") << QByteArray("a\r\nb\r\nc\r\n");
        QTest::newRow("last line with line end") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("empty file") << QByteArray() << QByteArray();
        QTest::newRow("lone LF") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << QByteArray("a\r\n\r\nb\r\n");
        QTest::newRow("empty lines kept") << QByteArray("\r\n\r\nx") << QByteArray("\r\n\r\nx\r\n");
        QTest::newRow("final CR alone") << QByteArray("a\r") << QByteArray("a\r\n");
        // Shift-JIS trail bytes are never CR or LF, so splitting the raw bytes keeps characters whole.
        QTest::newRow("Shift-JIS") << QByteArray("\x8e\x67\x82\xa2\x95\xfb\n")
                                   << QByteArray("\x8e\x67\x82\xa2\x95\xfb\r\n");
    }
    void everyLineEndsInCrLf() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, text);
        QCOMPARE(QByteArray::fromStdString(readmeText(bytes.toStdString())), text);
    }

    void utf8Validity_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ASCII") << QByteArray("Readme\r\n") << true;
        QTest::newRow("Japanese UTF-8") << QString("使い方 ﾊﾞｰｼﾞｮﾝ").toUtf8() << true;
        QTest::newRow("four-byte character") << QByteArray("\xf0\x9f\x93\xb7") << true;
        QTest::newRow("Shift-JIS") << QByteArray("\x8e\x67\x82\xa2\x95\xfb") << false;
        QTest::newRow("half-width kana in Shift-JIS") << QByteArray("\xca\xde\xb0\xbc\xde\xae\xdd") << false;
        QTest::newRow("cut-short sequence") << QByteArray("\xe4\xbd") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
    }
    void utf8Validity() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(isValidUtf8(bytes.toStdString()), valid);
    }

    void foundBesideTheProgramElseInTheDataFolder() {
        QTemporaryDir dir;
        const fs::path root = pathOf(dir);
        const std::vector<fs::path> candidates = readmeCandidates(root / "bin");
        QCOMPARE(candidates.at(1), root / "share" / "corvalin" / "Readme.txt");

        writeFile(root / "share" / "corvalin" / "Readme.txt", "installed");
        QCOMPARE(readReadme(candidates).value(), std::string("installed"));
        writeFile(root / "bin" / "Readme.txt", "portable");
        QCOMPARE(readReadme(candidates).value(), std::string("portable"));
    }

    void unreadableReadmeIsAnErrorNamingIt() {
        QTemporaryDir dir;
        const fs::path root = pathOf(dir);
        const std::vector<fs::path> candidates = readmeCandidates(root / "bin");
        Result<std::string> missing = readReadme(candidates);
        QVERIFY(!missing);
        QCOMPARE(missing.code(), ENOENT);
        QCOMPARE(missing.error().path, candidates.at(0));

        // A pipe of that name would block a plain read for ever.
        fs::create_directories(root / "bin");
        QCOMPARE(::mkfifo(candidates.at(0).c_str(), 0600), 0);
        Result<std::string> pipe = readReadme(candidates);
        QVERIFY(!pipe);
        QCOMPARE(pipe.error().path, candidates.at(0));
    }
};

QTEST_APPLESS_MAIN(TestReadmeText)
#include "test_readme_text.moc"
