#include "engine/disk_names.h"

#include <QTest>

using namespace corvalin;

Q_DECLARE_METATYPE(DiskRefusal)

class TestDiskNames : public QObject {
    Q_OBJECT

private slots:
    // What each kind of disk refuses, for the new name of a picture and its size.
    void refusalFollowsTheKind_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<int>("longestName");
        QTest::addColumn<DiskRefusal>("expected");
        const auto row = [](const char* tag, const char* type, const std::string& name, qulonglong size,
                            int longest, DiskRefusal expected) {
            QTest::newRow(tag) << type << QByteArray::fromStdString(name) << size << longest << expected;
        };
        const std::string cp932 = "000001 \x83\x65\x83\x58\x83\x67.jpg";
        const std::string hiragana100 =
            "000001 " + QByteArray("\xe3\x81\x82").repeated(100).toStdString() + ".jpg"; // 311 bytes
        const std::string emoji124 =
            "000001 " + QByteArray("\xf0\x9f\x98\x80").repeated(124).toStdString() + ".jpg"; // 259 units
        const std::uint64_t fourGiB = std::uint64_t(1) << 32;
        row("plain name on FAT", "vfat", "000001 cat.jpg", 100, 1530, DiskRefusal::None);
        row("question mark on exFAT", "exfat", "000001 q?.jpg", 100, 765, DiskRefusal::ForbiddenCharacter);
        row("colon through exfat-fuse", "fuseblk", "000001 x:y.jpg", 100, 255,
            DiskRefusal::ForbiddenCharacter);
        row("line feed on NTFS", "ntfs3", "000001 a\nb.jpg", 100, 255, DiskRefusal::ForbiddenCharacter);
        row("backslash on SMB", "cifs", "000001 a\\b.jpg", 100, 255, DiskRefusal::ForbiddenCharacter);
        row("trailing dot on FAT", "vfat", "000001 photo.", 100, 1530, DiskRefusal::TrailingDotOrBlank);
        row("trailing blank on exFAT", "fuse.exfat", "000001 photo ", 100, 765,
            DiskRefusal::TrailingDotOrBlank);
        row("CP932 on exFAT", "exfat", cp932, 100, 765, DiskRefusal::NotUtf8);
        row("CP932 on FAT", "vfat", cp932, 100, 1530, DiskRefusal::NotUtf8);
        row("CP932 on ext4", "ext4", cp932, 100, 255, DiskRefusal::None);
        row("every character on sshfs", "fuse.sshfs", "000001 \"*:<>?|.jpg", 100, 255, DiskRefusal::None);
        // The kernel's FAT and exFAT say they take several bytes per character; UTF-16 sets the limit.
        row("300 characters on FAT", "vfat", hiragana100 + std::string(200, 'a'), 100, 1530,
            DiskRefusal::NameTooLongUtf16);
        row("100 kana on FAT", "vfat", hiragana100, 100, 1530, DiskRefusal::None);
        row("emoji count twice", "exfat", emoji124, 100, 765, DiskRefusal::NameTooLongUtf16);
        row("bytes beyond the limit", "ext4", hiragana100, 100, 255, DiskRefusal::NameTooLong);
        row("bytes beyond the limit, not UTF-16 units, on NTFS", "ntfs3", hiragana100, 100, 255,
            DiskRefusal::None);
        row("4 GiB less a byte on FAT", "vfat", "000001 big.bmp", fourGiB - 1, 1530, DiskRefusal::None);
        row("4 GiB on FAT", "fuse.fusefat", "000001 big.bmp", fourGiB, 255, DiskRefusal::FileTooLarge);
        row("4 GiB on exFAT", "exfat", "000001 big.bmp", fourGiB, 765, DiskRefusal::None);
    }
    void refusalFollowsTheKind() {
        QFETCH(QString, type);
        QFETCH(QByteArray, name);
        QFETCH(qulonglong, size);
        QFETCH(int, longestName);
        const DiskNameRules rules = rulesForFileSystemType(type.toStdString());
        QTEST(diskFitOf(name.toStdString(), size, rules, std::size_t(longestName)).refusal, "expected");
    }

    // A FUSE mount of an unknown kind holds what its probe found it holds.
    void probeAddsWhatTheMountTypeDoesNotSay_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<DiskRefusal>("expected");
        QTest::newRow("Japanese on an ASCII-only driver")
            << QByteArray("000001 \xe5\x86\x99.jpg") << DiskRefusal::NotAscii;
        QTest::newRow("CP932") << QByteArray("000001 \x83\x65.jpg") << DiskRefusal::NotUtf8;
        QTest::newRow("asterisk") << QByteArray("000001 a*.jpg") << DiskRefusal::ForbiddenCharacter;
        QTest::newRow("plain") << QByteArray("000001 a.jpg") << DiskRefusal::None;
    }
    void probeAddsWhatTheMountTypeDoesNotSay() {
        QFETCH(QByteArray, name);
        NamingProbe probe;
        probe.refusesNonAscii = probe.refusesNonUtf8 = probe.refusesWindowsCharacters = true;
        const DiskNameRules rules = rulesForDisk("fuse.someone", probe);
        QTEST(diskFitOf(name.toStdString(), 1, rules, 255).refusal, "expected");
    }

    // The user reads which character and which disk, never a bare byte.
    void reasonNamesTheCharacterAndTheDisk() {
        const DiskNameRules rules = rulesForFileSystemType("vfat");
        const DiskFit fit = diskFitOf("000001 a\tb.jpg", 1, rules, 255);
        const std::string text = diskRefusalText(fit, rules, 255);
        QVERIFY2(text.find("「<TAB>」") != std::string::npos, text.c_str());
        QVERIFY2(text.find("（FAT）") != std::string::npos, text.c_str());
        QVERIFY(diskRefusalText(DiskFit{}, rules, 255).empty());
    }
};

QTEST_GUILESS_MAIN(TestDiskNames)
#include "test_disk_names.moc"
