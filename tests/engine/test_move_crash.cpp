// A run killed at any instant loses nothing: after the leftovers are recovered (as the next run's
// start does), every picture exists exactly once with its bytes unchanged, nothing cut short sits
// under a final name, and the counter file reads as a number no lower than any number used.
#include "app/settings_codec.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "platform/file_ops.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <set>
#include <sys/wait.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 30;
constexpr int kPicturesPerFolder = 10;
constexpr int kKills = 24;

// The notes beside the pictures, each of its own content; they go to the trash.
std::vector<std::string> notesContents() {
    std::vector<std::string> notes;
    for (int folder = 0; folder < kFolders; ++folder)
        notes.push_back("notes " + std::to_string(folder));
    return notes;
}

// Pictures of a few kilobytes, so that a copy across file systems takes a moment of its own.
std::vector<std::string> makeDownloads(const fs::path& source) {
    std::vector<std::string> pictures;
    for (int folder = 0; folder < kFolders; ++folder) {
        const fs::path dir = source / ("dl" + std::to_string(folder));
        for (int i = 0; i < kPicturesPerFolder; ++i) {
            std::string content = pictureContent(std::to_string(folder) + "-" + std::to_string(i));
            content.resize(8192 + 97 * i, char('a' + i));
            writeContent(dir / ("p" + std::to_string(i) + ".jpg"), content);
            pictures.push_back(content);
        }
        writeContent(dir / "notes.txt", notesContents()[std::size_t(folder)]);
    }
    return pictures;
}

// Runs the whole move in a child and returns its pid.
pid_t startRun(const fs::path& source, const fs::path& destination, const SettingsFiles& files) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ScriptedObserver observer;
        observer.dest = destination;
        Module1 vars;
        std::vector<fs::path> folderList;
        MoveRun run(vars, files, observer);
        ::_exit(run.run(source, true, folderList).outcome == MoveOutcome::Completed ? 0 : 1);
    }
    return pid;
}

// What is wrong with the state a killed run left, or nothing.
std::string checkAfterKill(const std::vector<std::string>& pictures, const fs::path& source,
                           const fs::path& destination, const SettingsFiles& files, const fs::path& trash) {
    if (Status recovered = recoverInterruptedMoves(destination); !recovered)
        return "recovery failed: " + recovered.error().reason();
    std::string problems = lostOrDoubled(pictures, {source, destination});
    problems += lostOrDoubled(notesContents(), {source, trash});
    const std::set<std::string> whole(pictures.begin(), pictures.end());
    std::int32_t highestUsed = -1;
    for (const auto& [content, file] : census(destination)) {
        if (!whole.contains(content))
            problems += "cut short or strange: " + file.native() + "\n";
        highestUsed = std::max(highestUsed, std::int32_t(std::stol(file.filename().native().substr(0, 6))));
    }
    for (const std::string& name : namesIn(destination)) {
        if (name.starts_with("."))
            problems += "left over: " + name + "\n";
    }
    std::int32_t counter = -1;
    if (fs::exists(files.counterFile())) {
        const std::string bytes = contentOf(files.counterFile());
        if (FieldReader(bytes).readInt32(counter) != ReadError::None)
            problems += "counter file does not read: " + bytes + "\n";
    }
    // The next start adds one to the stored number, so it must not lie below a number in use.
    if (counter < highestUsed)
        problems += "counter " + std::to_string(counter) + " below " + std::to_string(highestUsed) + "\n";
    return problems;
}

} // namespace

class TestMoveCrash : public QObject {
    Q_OBJECT
private slots:
    void killedAtAnyInstantLosesNothing_data() {
        QTest::addColumn<bool>("acrossFileSystems");
        QTest::newRow("one file system") << false;
        QTest::newRow("destination on another file system") << true;
    }
    void killedAtAnyInstantLosesNothing() {
        QFETCH(bool, acrossFileSystems);
        QTemporaryDir work;
        std::unique_ptr<QTemporaryDir> other = acrossFileSystems ? otherFileSystemDir() : nullptr;
        if (acrossFileSystems && !other)
            QSKIP("/dev/shm is not another file system here");
        const fs::path root = work.path().toStdString();
        const fs::path source = root / "src";
        const fs::path destination = other ? fs::path(other->path().toStdString()) : root / "dst";
        const SettingsFiles files{root / "prog", root / "prog"};
        fs::create_directories(files.settingsFolder);
        const OwnHome home(root / "home");

        // One whole run first, to learn how long a run takes here.
        makeDownloads(source);
        fs::create_directories(destination);
        QElapsedTimer timer;
        timer.start();
        int status = 0;
        ::waitpid(startRun(source, destination, files), &status, 0);
        const qint64 runMicroseconds = std::max<qint64>(timer.nsecsElapsed() / 1000, 1000);
        QCOMPARE(status, 0);

        QRandomGenerator random(QRandomGenerator::global()->generate());
        for (int kill = 0; kill < kKills; ++kill) {
            fs::remove_all(source);
            fs::remove_all(destination);
            fs::remove(files.counterFile());
            fs::remove_all(home.trash());
            fs::create_directories(destination);
            const std::vector<std::string> pictures = makeDownloads(source);
            const qint64 instant = random.bounded(runMicroseconds * 11 / 10);
            const pid_t pid = startRun(source, destination, files);
            ::usleep(useconds_t(instant));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            const std::string problems = checkAfterKill(pictures, source, destination, files, home.trash());
            QVERIFY2(problems.empty(), qPrintable(QString("killed after %1 us of %2 us:\n%3")
                                                      .arg(instant)
                                                      .arg(runMicroseconds)
                                                      .arg(QString::fromStdString(problems))));
        }
    }
};

QTEST_APPLESS_MAIN(TestMoveCrash)
#include "test_move_crash.moc"
