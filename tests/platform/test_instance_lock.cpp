// The one-instance lock: taken once, refused while another holds it, free again when the holder
// ends in any way, and a clear error where no lock file can be made.
#include "platform/instance_lock.h"

#include "child_process.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {

enum class Expected { Acquired, Busy, Failed };

Expected attempt(const fs::path& folder) {
    const auto lock = InstanceLock::tryAcquire(folder);
    return !lock ? Expected::Failed : lock.value() ? Expected::Acquired : Expected::Busy;
}

// A child that takes the lock, tells the parent through a pipe, then waits to be ended.
pid_t startHolder(const fs::path& folder) {
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const auto lock = InstanceLock::tryAcquire(folder);
        const char byte = lock && lock.value() ? 1 : 0;
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    const bool held = ::read(ready[0], &byte, 1) == 1 && byte == 1;
    ::close(ready[0]);
    ::close(ready[1]);
    return held ? pid : -1;
}

} // namespace

class TestInstanceLock : public QObject {
    Q_OBJECT

private slots:
    void secondLockInTheSameProcessIsRefusedUntilTheFirstGoes() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        {
            auto first = InstanceLock::tryAcquire(folder);
            QVERIFY(first && first.value());
            QCOMPARE(attempt(folder), Expected::Busy);
            InstanceLock moved = std::move(*first.value());
            first.value().reset();
            QCOMPARE(attempt(folder), Expected::Busy); // the moved lock still holds
        }
        QCOMPARE(attempt(folder), Expected::Acquired);
        QVERIFY(fs::exists(InstanceLock::lockFile(folder)));
    }

    // Another process holds the lock until it ends, even when it is killed.
    void anotherProcessHoldsItUntilItIsKilled() {
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        const pid_t holder = startHolder(folder);
        QVERIFY(holder > 0);
        QCOMPARE(attempt(folder), Expected::Busy);
        ::kill(holder, SIGKILL);
        int status = 0;
        ::waitpid(holder, &status, 0);
        QCOMPARE(attempt(folder), Expected::Acquired);
    }

    // No lock file can be made: the caller gets an error naming it, at once.
    void noLockFileIsAnError_data() {
        QTest::addColumn<QString>("place");
        // A missing folder is made (the first run of an installed program); one below a file cannot be.
        QTest::newRow("folder that cannot be made") << "belowAFile";
        QTest::newRow("lock file is a link") << "link";
        QTest::newRow("read-only folder") << "read-only";
    }
    void noLockFileIsAnError() {
        QFETCH(QString, place);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        const fs::path folder = root / (place == "belowAFile" ? "file/settings" : "settings");
        if (place == "belowAFile")
            QVERIFY(QFile(QString::fromStdString((root / "file").native())).open(QIODevice::WriteOnly));
        if (place == "link") {
            fs::create_directory(folder);
            fs::create_symlink(root / "elsewhere", InstanceLock::lockFile(folder));
        }
        if (place == "read-only") {
            ::mkdir(folder.c_str(), 0555);
            // Root ignores permissions: the attempt runs as an unprivileged user.
            if (::geteuid() == 0) {
                QCOMPARE(::chown(root.c_str(), 65534, 65534), 0);
                QCOMPARE(::chown(folder.c_str(), 65534, 65534), 0);
            }
        }
        const int result = test::runInChild([&] {
            if (place == "read-only" && !test::dropPrivileges())
                return test::skipExit;
            const auto lock = InstanceLock::tryAcquire(folder);
            return !lock && lock.error().path == InstanceLock::lockFile(folder) && lock.error().code != 0 ? 0
                                                                                                          : 1;
        });
        if (result == test::skipExit)
            QSKIP("cannot drop privileges");
        QCOMPARE(result, 0);
        QVERIFY(!fs::exists(root / "elsewhere"));
    }
};

QTEST_APPLESS_MAIN(TestInstanceLock)
#include "test_instance_lock.moc"
