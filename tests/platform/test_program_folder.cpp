#include "platform/program_folder.h"

#include "platform/file_ops.h"
#include "platform/instance_lock.h"

#include "child_process.h"

#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <sys/stat.h>

using namespace corvalin;
namespace fs = std::filesystem;

class TestProgramFolder : public QObject {
    Q_OBJECT

private slots:
    void programFolderHoldsTheExecutable() {
        QCOMPARE(lookupEntry(programFolder() / "test_program_folder"), EntryKind::File);
    }

    void settingsGoWhereTheyCanBeWritten_data() {
        QTest::addColumn<QString>("program"); // writable, read-only, missing, installed
        QTest::addColumn<QString>("xdg");     // absolute, relative, unset
        QTest::addColumn<QString>("expected");
        QTest::newRow("portable") << "writable"
                                  << "absolute"
                                  << "program";
        QTest::newRow("read-only, XDG") << "read-only"
                                        << "absolute"
                                        << "xdg/Corvalin";
        QTest::newRow("missing, XDG") << "missing"
                                      << "absolute"
                                      << "xdg/Corvalin";
        QTest::newRow("relative XDG is ignored") << "read-only"
                                                 << "relative"
                                                 << "home/.config/Corvalin";
        QTest::newRow("installed, writable") << "installed"
                                             << "absolute"
                                             << "xdg/Corvalin";
        QTest::newRow("no XDG") << "missing"
                                << "unset"
                                << "home/.config/Corvalin";
    }
    // In a child, as an unprivileged user, so that a read-only folder is one.
    void settingsGoWhereTheyCanBeWritten() {
        QFETCH(QString, program);
        QFETCH(QString, xdg);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        if (::geteuid() == 0)
            QCOMPARE(::chown(root.c_str(), 65534, 65534), 0);
        const int result = test::runInChild([&] {
            if (!test::dropPrivileges())
                return test::skipExit;
            if (program != "missing")
                ::mkdir((root / "program").c_str(), program == "read-only" ? 0555 : 0755);
            if (program == "installed") {
                ::mkdir((root / "share").c_str(), 0755);
                ::mkdir((root / "share" / "corvalin").c_str(), 0755);
            }
            ::setenv("HOME", (root / "home").c_str(), 1);
            if (xdg == "unset")
                ::unsetenv("XDG_CONFIG_HOME");
            else
                ::setenv("XDG_CONFIG_HOME", xdg == "absolute" ? (root / "xdg").c_str() : "xdg", 1);
            const fs::path folder = settingsFolder(root / "program");
            // Asking makes nothing (`corvalin history` only reads); the lock of a run makes it.
            const bool portable = folder == root / "program";
            const bool untouched = lookupEntry(folder) == (portable ? EntryKind::Folder : EntryKind::None);
            const auto lock = InstanceLock::tryAcquire(folder);
            const bool made = lock && lock.value() && lookupEntry(folder) == EntryKind::Folder;
            return folder == root / expected.toStdString() && untouched && made ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
    }

    void homeFolderFallsBackToThePasswordDatabase() {
        const int result = test::runInChild([] {
            ::setenv("HOME", "/somewhere", 1);
            const bool fromEnvironment = homeFolder() == "/somewhere";
            ::unsetenv("HOME");
            const fs::path home = homeFolder();
            return fromEnvironment && home.is_absolute() && home != "/somewhere" ? 0 : 1;
        });
        QCOMPARE(result, 0);
    }
};

QTEST_APPLESS_MAIN(TestProgramFolder)
#include "test_program_folder.moc"
