#include "app/counter_writer.h"
#include "app/startup.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace corvalin;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(corvalin::StartupOutcome)

namespace corvalin {
char* toString(StartupOutcome outcome) {
    static const char* const names[] = {"Completed", "Stopped", "EndProgram"};
    return qstrdup(names[static_cast<int>(outcome)]);
}
} // namespace corvalin

namespace {

// Stand-ins for file contents in the tables.
const QByteArray kAbsent = "<absent>";
const QByteArray kFolder = "<folder>";
const char* const kProgramFolder = "/opt/corvalin";

template <std::size_t N> QByteArray raw(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QByteArray settingsLine(const QByteArray& flag) {
    return "\"/src\",\"/dst\",\"\"," + flag + ",0\r\n";
}

void put(const fs::path& file, const QByteArray& content) {
    if (content == kFolder)
        fs::create_directory(file);
    else if (content != kAbsent)
        std::ofstream(file, std::ios::binary).write(content.constData(), content.size());
}

QByteArray contentOf(const fs::path& file) {
    if (!fs::exists(fs::symlink_status(file)))
        return kAbsent;
    if (fs::is_directory(file))
        return kFolder;
    std::ifstream in(file, std::ios::binary);
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}

QByteArray bytesOf(const fs::path& path) {
    return QByteArray::fromStdString(path.native());
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

    static void addStartupColumns() {
        QTest::addColumn<QByteArray>("settingsIn");
        QTest::addColumn<QByteArray>("counterIn");
        QTest::addColumn<StartupOutcome>("outcome");
        QTest::addColumn<int>("serialNo");
        QTest::addColumn<QByteArray>("sourceAfter");
        QTest::addColumn<QByteArray>("settingsAfter");
        QTest::addColumn<QByteArray>("counterAfter");
        QTest::addColumn<QByteArray>("option"); // OptFlags(0) read: empty, or its number
    }

    static void checkStartup() {
        QFETCH(QByteArray, settingsIn);
        QFETCH(QByteArray, counterIn);
        QFETCH(StartupOutcome, outcome);
        QFETCH(int, serialNo);
        QFETCH(QByteArray, sourceAfter);
        QFETCH(QByteArray, settingsAfter);
        QFETCH(QByteArray, counterAfter);
        QFETCH(QByteArray, option);

        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, dir.path().toStdString()};
        put(files.settingsFile(), settingsIn);
        put(files.counterFile(), counterIn);
        Module1 vars;
        const StartupResult result = runStartup(vars, files);
        QCOMPARE(result.outcome, outcome);
        QVERIFY(!result.writeError);
        // A stop or an end names the file that caused it; a command has nothing else to say.
        QCOMPARE(result.readError.has_value(), outcome != StartupOutcome::Completed);
        if (result.readError) {
            const bool counterAtFault =
                settingsIn == settingsLine("0") || settingsIn == settingsLine("1") || settingsIn == kAbsent;
            QCOMPARE(result.readError->path, counterAtFault ? files.counterFile() : files.settingsFile());
        }
        QCOMPARE(vars.SerialNo, serialNo);
        QCOMPARE(bytesOf(vars.SourcePath), sourceAfter);
        QCOMPARE(contentOf(files.settingsFile()), settingsAfter);
        QCOMPARE(contentOf(files.counterFile()), counterAfter);
        QCOMPARE(vars.OptFlags[0].isEmpty() ? QByteArray() : QByteArray::number(vars.OptFlags[0].asNumber()),
                 option);
        // After an end the next start finds no settings file and takes the defaults.
        if (outcome == StartupOutcome::EndProgram) {
            Module1 next;
            QCOMPARE(runStartup(next, files).outcome, StartupOutcome::Completed);
            QCOMPARE(bytesOf(next.SourcePath), QByteArray(kProgramFolder));
            QCOMPARE(bytesOf(next.DestPath), QByteArray(kProgramFolder));
            QCOMPARE(next.OptFlags[0], OptionValue::number(0));
        }
    }

private slots:
    void startupFiles_data() {
        addStartupColumns();
        const QByteArray clean = settingsLine("0");
        const QByteArray running = settingsLine("1");
        const QByteArray counter = "41\r\n";
        const QByteArray bigPath = "/" + QByteArray(1 << 20, 'x');
        const auto Completed = StartupOutcome::Completed;
        const auto Stopped = StartupOutcome::Stopped;
        const auto EndProgram = StartupOutcome::EndProgram;

        QTest::newRow("first start, neither file")
            << kAbsent << kAbsent << Completed << 0 << QByteArray(kProgramFolder)
            << raw("\"/opt/corvalin\",\"/opt/corvalin\",\"\",1,0\r\n") << kAbsent << QByteArray("0");
        QTest::newRow("five fields, no line end") << clean.chopped(2) << counter << Completed << 41
                                                  << raw("/src") << running << counter << QByteArray("0");
        QTest::newRow("NUL byte in a path")
            << raw("\"/s\0rc\",\"/dst\",\"\",0,0\r\n") << counter << Completed << 41 << raw("/s\0rc")
            << raw("\"/s\0rc\",\"/dst\",\"\",1,0\r\n") << counter << QByteArray("0");
        QTest::newRow("1 MB line") << "\"" + bigPath + "\",\"/dst\",\"\",0,0\r\n"
                                   << counter << Completed << 41 << bigPath
                                   << "\"" + bigPath + "\",\"/dst\",\"\",1,0\r\n"
                                   << counter << QByteArray("0");
        QTest::newRow("empty settings file")
            << raw("") << counter << EndProgram << 0 << raw("") << kAbsent << counter << QByteArray("");
        QTest::newRow("four fields") << raw("\"/src\",\"/dst\",\"\",0\r\n") << counter << EndProgram << 0
                                     << raw("/src") << kAbsent << counter << QByteArray("");
        QTest::newRow("unterminated quote") << raw("\"/src\",\"/dst") << counter << EndProgram << 0
                                            << raw("/src") << kAbsent << counter << QByteArray("");
        // The counter is still read, so the shutdown does not overwrite it with 0.
        const QByteArray textIn4 = raw("\"/src\",\"/dst\",\"\",no,1\r\n");
        QTest::newRow("text in field 4, field 5 unread")
            << textIn4 << counter << Stopped << 41 << raw("/src") << textIn4 << counter << QByteArray("");
        QTest::newRow("99999 in field 4") << settingsLine("99999") << counter << Stopped << 41 << raw("/src")
                                          << settingsLine("99999") << counter << QByteArray("");
        QTest::newRow("settings file is a folder")
            << kFolder << counter << Stopped << 41 << raw("") << kFolder << counter << QByteArray("");
        // A cut-short counter goes too, or every later start would end here again.
        QTest::newRow("counter empty")
            << clean << raw("") << EndProgram << 0 << raw("/src") << kAbsent << kAbsent << QByteArray("0");
        QTest::newRow("counter cut short, no settings file")
            << kAbsent << raw("\"12") << EndProgram << 0 << QByteArray(kProgramFolder) << kAbsent << kAbsent
            << QByteArray("0");
        QTest::newRow("counter 2147483648") << clean << raw("2147483648\r\n") << Stopped << 0 << raw("/src")
                                            << clean << raw("2147483648\r\n") << QByteArray("0");
        QTest::newRow("counter text") << clean << raw("abc\r\n") << Stopped << 0 << raw("/src") << clean
                                      << raw("abc\r\n") << QByteArray("0");
        QTest::newRow("counter file is a folder")
            << clean << kFolder << Stopped << 0 << raw("/src") << clean << kFolder << QByteArray("0");
    }
    void startupFiles() { checkStartup(); }

    void uncleanExitRule_data() {
        addStartupColumns();
        const auto row = [](const char* name, const char* flag, const QByteArray& counter,
                            StartupOutcome outcome, int serialNo) {
            const QByteArray settings = settingsLine(flag);
            const QByteArray after = outcome == StartupOutcome::Completed ? settingsLine("1") : settings;
            QTest::newRow(name) << settings << counter << outcome << serialNo << raw("/src") << after
                                << counter << QByteArray("0");
        };
        const auto Completed = StartupOutcome::Completed;
        row("unclean, 41", "1", "41\r\n", Completed, 42);
        row("unclean, 999999 wraps", "1", "999999\r\n", Completed, 0);
        row("unclean, above the range", "1", "5000000\r\n", Completed, 0);
        row("clean, 41", "0", "41\r\n", Completed, 41);
        row("clean keeps 5000000", "0", "5000000\r\n", Completed, 5000000);
        row("only 1 means unclean", "2", "41\r\n", Completed, 41);
        row("unclean at the 32-bit limit", "1", "2147483647\r\n", StartupOutcome::Stopped, 2147483647);
    }
    void uncleanExitRule() { checkStartup(); }

    // An installed program starts in the user's home folder rather than its own.
    void firstStartFolderOfAnInstalledProgram() {
        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, dir.path().toStdString(), "/home/someone"};
        Module1 vars;
        QCOMPARE(runStartup(vars, files).outcome, StartupOutcome::Completed);
        QCOMPARE(vars.SourcePath, fs::path("/home/someone"));
        QCOMPARE(vars.DestPath, fs::path("/home/someone"));
    }

    void failedRewriteIsReported() {
        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, fs::path(dir.path().toStdString()) / "gone"};
        Module1 vars;
        const StartupResult result = runStartup(vars, files);
        QCOMPARE(result.outcome, StartupOutcome::Stopped);
        QVERIFY(result.writeError);
        QCOMPARE(result.writeError->code, ENOENT);
    }

    // Left in place, the cut-short file would end every later start without a word.
    void failedDeletionIsReported() {
        if (geteuid() == 0)
            QSKIP("root may delete in a read-only folder");
        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, dir.path().toStdString()};
        put(files.settingsFile(), "");
        fs::permissions(files.settingsFolder, fs::perms::owner_write, fs::perm_options::remove);
        Module1 vars;
        const StartupResult result = runStartup(vars, files);
        fs::permissions(files.settingsFolder, fs::perms::owner_write, fs::perm_options::add);
        QCOMPARE(result.outcome, StartupOutcome::EndProgram);
        QVERIFY(result.writeError);
        QCOMPARE(result.writeError->code, EACCES);
    }

    // What the window holds at closing is saved, not what was read at start-up, and path bytes
    // that are not UTF-8 come back unchanged at the next start.
    void shutdownSavesCurrentState() {
        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, dir.path().toStdString()};
        put(files.settingsFile(), settingsLine("0"));
        Module1 vars;
        QCOMPARE(runStartup(vars, files).outcome, StartupOutcome::Completed);
        vars.SourcePath = "/new/\x82\xa0\xff";
        vars.DestPath = "/dst/\xfe";
        vars.SerialNo = 77;
        vars.OptFlags = {OptionValue::number(1), OptionValue::number(1), OptionValue::number(1)};

        QVERIFY(writeShutdownFiles(vars, files).ok());
        QCOMPARE(vars.RunFlag, 0);
        QCOMPARE(contentOf(files.settingsFile()), raw("\"/new/\x82\xa0\xff\",\"/dst/\xfe\",\"\",0,1\r\n"));
        QCOMPARE(contentOf(files.counterFile()), raw("77\r\n"));

        Module1 next;
        QCOMPARE(runStartup(next, files).outcome, StartupOutcome::Completed);
        QCOMPARE(next.SourcePath, vars.SourcePath);
        QCOMPARE(next.DestPath, vars.DestPath);
        QCOMPARE(next.SerialNo, 77);
        // Both strip modes are off after every start.
        QVERIFY(next.OptFlags[0].isOn() && next.OptFlags[1].isEmpty() && next.OptFlags[2].isEmpty());
    }

    // A run's counter rewrites: after every write the file holds exactly the number last written
    // and the next start reads it, whatever happened to the file between two writes.
    void counterWriterKeepsTheLastNumber_data() {
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("meddling"); // done to the file before the last number
        QTest::newRow("growing in place") << QList<int>{0, 9, 10, 99, 100, 101} << "";
        QTest::newRow("wrapping round to a shorter number") << QList<int>{999998, 999999, 0} << "";
        QTest::newRow("file removed meanwhile") << QList<int>{41, 42, 43} << "remove";
        QTest::newRow("file replaced meanwhile") << QList<int>{41, 42, 43} << "replace";
        QTest::newRow("file rewritten longer meanwhile") << QList<int>{41, 42, 43} << "lengthen";
        QTest::newRow("first write over an older file") << QList<int>{7} << "lengthen";
    }

    void counterWriterKeepsTheLastNumber() {
        QFETCH(QList<int>, numbers);
        QFETCH(QString, meddling);
        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, dir.path().toStdString()};
        CounterWriter writer(files);
        for (qsizetype i = 0; i < numbers.size(); ++i) {
            if (i == numbers.size() - 1 && meddling == "remove")
                fs::remove(files.counterFile());
            if (i == numbers.size() - 1 && meddling == "replace") {
                put(files.settingsFolder / "other", "5\r\n");
                fs::rename(files.settingsFolder / "other", files.counterFile());
            }
            if (i == numbers.size() - 1 && meddling == "lengthen")
                put(files.counterFile(), "1234567\r\n");
            QVERIFY(writer.write(numbers[i]).ok());
            QCOMPARE(contentOf(files.counterFile()), QByteArray::number(numbers[i]) + "\r\n");
        }
        Module1 vars;
        QCOMPARE(runStartup(vars, files).outcome, StartupOutcome::Completed);
        QCOMPARE(vars.SerialNo, numbers.last());
    }

    void shutdownWritesCounterWhenSettingsFail() {
        QTemporaryDir dir;
        const SettingsFiles files{kProgramFolder, dir.path().toStdString()};
        put(files.settingsFile(), kFolder);
        Module1 vars;
        vars.SerialNo = 5;
        const Status status = writeShutdownFiles(vars, files);
        QVERIFY(!status.ok());
        QCOMPARE(status.error().path, files.settingsFile());
        QCOMPARE(contentOf(files.counterFile()), raw("5\r\n"));
    }
};

QTEST_APPLESS_MAIN(TestStartup)
#include "test_startup.moc"
