// Finding the system-information tool through the registry, and the version label.
#include "info/sysinfo.h"
#include "info/version_text.h"
#include "platform/file_ops.h"
#include "temp_tree.h"

#include <QtTest>

#include <cstring>
#include <map>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

namespace {

const std::string kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr std::uint32_t kReadRights = 0x20019;

// A registry in memory that counts open and closed keys and, like a limited account, may refuse
// more than read rights.
class FakeRegistry : public Registry {
public:
    struct Value {
        RegistryValueType type;
        std::string bytes;
    };
    std::map<std::string, std::map<std::string, Value>> keys;
    bool readOnlyAccount = false;
    std::vector<std::string> opened;
    int openKeys = 0;

    void setText(const std::string& key, const std::string& value, const std::string& text) {
        keys[key][value] = {RegistryValueType::Text, text + '\0'};
    }

    RegistryStatus openKey(RegistryRoot root, const std::string& keyName, std::uint32_t rights,
                           RegistryKey& key) override {
        auto found = keys.find(keyName);
        if (root != kHkeyLocalMachine || found == keys.end())
            return RegistryStatus::NotFound;
        if (readOnlyAccount && (rights & ~kReadRights))
            return RegistryStatus::AccessDenied;
        opened.push_back(keyName);
        ++openKeys;
        key = static_cast<RegistryKey>(std::distance(keys.begin(), found)) + 100;
        return RegistryStatus::Ok;
    }
    RegistryValue queryValue(RegistryKey key, const std::string& valueName, std::span<char> buffer) override {
        auto& values = std::next(keys.begin(), static_cast<long>(key - 100))->second;
        auto found = values.find(valueName);
        if (found == values.end())
            return {};
        const std::string& bytes = found->second.bytes;
        if (bytes.size() > buffer.size())
            return {RegistryStatus::MoreData, found->second.type, 0};
        std::memcpy(buffer.data(), bytes.data(), bytes.size());
        return {RegistryStatus::Ok, found->second.type, bytes.size()};
    }
    void closeKey(RegistryKey) override { --openKeys; }
};

void writeExecutable(const fs::path& file, bool executable = true) {
    writeFile(file, "#!/bin/sh\nexit 0\n");
    fs::permissions(file, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

} // namespace

Q_DECLARE_METATYPE(RegistryValueType)

class TestSysInfo : public QObject {
    Q_OBJECT
private slots:
    void getKeyValue_data() {
        QTest::addColumn<QString>("keyName");
        QTest::addColumn<bool>("readOnlyAccount");
        QTest::addColumn<RegistryValueType>("type");
        QTest::addColumn<QByteArray>("stored"); // "-": no such value
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QByteArray>("result");
        const auto text = RegistryValueType::Text;
        const QByteArray path("C:\\x\0", 5);
        QTest::newRow("text with final zero") << "K" << false << text << path << true << QByteArray("C:\\x");
        QTest::newRow("text without final zero")
            << "K" << false << text << QByteArray("abc") << true << QByteArray("abc");
        QTest::newRow("only one zero cut")
            << "K" << false << text << QByteArray("ab\0\0", 4) << true << QByteArray("ab\0", 3);
        QTest::newRow("empty value") << "K" << false << text << QByteArray() << true << QByteArray();
        QTest::newRow("1024 bytes") << "K" << false << text << QByteArray(1024, 'x') << true
                                    << QByteArray(1024, 'x');
        QTest::newRow("1025 bytes") << "K" << false << text << QByteArray(1025, 'x') << false << QByteArray();
        QTest::newRow("number value") << "K" << false << RegistryValueType::Number
                                      << QByteArray("\x01\0\0\0", 4) << true << QByteArray();
        QTest::newRow("value missing") << "K" << false << text << QByteArray("-") << false << QByteArray();
        QTest::newRow("key missing") << "other" << false << text << path << false << QByteArray();
        // Only read rights for this account, while the key is opened with more.
        QTest::newRow("access refused") << "K" << true << text << path << false << QByteArray();
    }
    void getKeyValue() {
        QFETCH(QString, keyName);
        QFETCH(bool, readOnlyAccount);
        QFETCH(RegistryValueType, type);
        QFETCH(QByteArray, stored);
        QFETCH(bool, answer);
        QFETCH(QByteArray, result);
        FakeRegistry registry;
        registry.keys["K"];
        if (stored != "-")
            registry.keys["K"]["V"] = {type, stored.toStdString()};
        registry.readOnlyAccount = readOnlyAccount;
        std::string read = "left over";
        QCOMPARE(GetKeyValue(registry, kHkeyLocalMachine, keyName.toStdString(), "V", read), answer);
        QCOMPARE(QByteArray::fromStdString(read), result);
        QCOMPARE(registry.openKeys, 0);
    }

    void firstLocationWinsWithoutReadingTheSecond() {
        QTemporaryDir dir;
        writeFile(pathOf(dir) / "MSINFO32.EXE");
        FakeRegistry registry;
        registry.setText(kMsinfoKey, "PATH", "/opt/tools/msinfo");
        registry.setText(kLocationKey, "MSINFO", pathOf(dir).native());
        QCOMPARE(findSysInfoProgram(registry), std::optional<fs::path>("/opt/tools/msinfo"));
        QCOMPARE(registry.opened, std::vector<std::string>{kMsinfoKey});
    }

    void secondLocation_data() {
        QTest::addColumn<QString>("folder"); // relative to the temporary folder; "" for the folder itself
        QTest::addColumn<bool>("withProgram");
        QTest::addColumn<bool>("found");
        QTest::newRow("program there") << "tools" << true << true;
        QTest::newRow("program missing") << "tools" << false << false;
        QTest::newRow("folder missing") << "gone" << true << false;
        // The working folder holds the program; an empty value must not find it there.
        QTest::newRow("empty value") << "" << true << false;
    }
    void secondLocation() {
        QFETCH(QString, folder);
        QFETCH(bool, withProgram);
        QFETCH(bool, found);
        QTemporaryDir dir;
        const fs::path tools = pathOf(dir) / "tools";
        fs::create_directories(tools);
        if (withProgram) {
            writeFile(tools / "MSINFO32.EXE");
        }
        const fs::path before = workingFolder();
        QVERIFY(setWorkingFolder(tools));
        FakeRegistry registry;
        registry.setText(kLocationKey, "MSINFO",
                         folder.isEmpty() ? "" : (pathOf(dir) / folder.toStdString()).native());
        const std::optional<fs::path> program = findSysInfoProgram(registry);
        QVERIFY(setWorkingFolder(before));
        QCOMPARE(program.has_value(), found);
        if (found)
            QCOMPARE(*program, tools / "MSINFO32.EXE");
        QCOMPARE(registry.openKeys, 0);
    }

    void nonTextPathValueStartsNothing() {
        FakeRegistry registry;
        registry.keys[kMsinfoKey]["PATH"] = {RegistryValueType::Number, std::string("\x01\0\0\0", 4)};
        QCOMPARE(findSysInfoProgram(registry), std::nullopt);
    }

    // The desktop stand-in: the tool found on PATH, as a registry text with its final zero.
    void standInFindsTheToolOnPath_data() {
        QTest::addColumn<QString>("searchPath"); // "{}" is the temporary folder
        QTest::addColumn<QString>("expected");   // relative to it; empty: nothing found
        QTest::newRow("tool present") << "{}/empty:{}/bin"
                                      << "bin/hardinfo";
        QTest::newRow("no tool") << "{}/empty"
                                 << "";
        QTest::newRow("not executable is skipped") << "{}/noexec:{}/bin"
                                                   << "bin/hardinfo";
        QTest::newRow("relative entry is skipped") << "bin::."
                                                   << "";
    }
    void standInFindsTheToolOnPath() {
        QFETCH(QString, searchPath);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const fs::path root = pathOf(dir);
        fs::create_directories(root / "empty");
        writeExecutable(root / "bin" / "hardinfo");
        writeExecutable(root / "noexec" / "hardinfo", false);
        const QByteArray savedPath = qgetenv("PATH");
        const fs::path before = workingFolder();
        QVERIFY(setWorkingFolder(root));
        qputenv("PATH", searchPath.replace("{}", dir.path()).toUtf8());
        SystemToolRegistry registry;
        std::string tool;
        const bool answer = GetKeyValue(registry, kHkeyLocalMachine, kMsinfoKey, "PATH", tool);
        const std::optional<fs::path> program = findSysInfoProgram(registry);
        qputenv("PATH", savedPath);
        QVERIFY(setWorkingFolder(before));
        QCOMPARE(answer, !expected.isEmpty());
        if (expected.isEmpty()) {
            QCOMPARE(program, std::nullopt);
        } else {
            QCOMPARE(tool, (root / expected.toStdString()).native());
            QCOMPARE(program, std::optional<fs::path>(root / expected.toStdString()));
        }
    }

    void versionLabel() {
        QCOMPARE(QString::fromStdString(versionText(2, 10, 5)), QString("ﾊﾞｰｼﾞｮﾝ 2.10.5"));
    }
};

QTEST_APPLESS_MAIN(TestSysInfo)
#include "test_sysinfo.moc"
