// The folder survey: its order, its yield points, and what it never enters.
#include "child_process.h"
#include "disk_helpers.h"
#include "engine/folder_survey.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {

// Logs "y<list size>" at every yield and "S" at every start of a folder.
class LoggingObserver : public SurveyObserver {
public:
    explicit LoggingObserver(const std::vector<fs::path>& list) : m_list(list) {}
    QStringList log;
    void yield() override { log << QString("y%1").arg(m_list.size()); }
    void surveyStarted() override { log << "S"; }
    bool stopRequested() override { return false; }

private:
    const std::vector<fs::path>& m_list;
};

QByteArrayList relativeTo(const fs::path& root, const std::vector<fs::path>& list) {
    QByteArrayList names;
    for (const fs::path& folder : list)
        names << QByteArray::fromStdString(folder.lexically_relative(root).native());
    return names;
}

} // namespace

class TestFolderSurvey : public QObject {
    Q_OBJECT
private slots:
    void order_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("depth first, children together")
            << QByteArrayList{"d:A", "d:B", "d:A/A1", "d:A/A2", "d:A/A1/A1x", "d:B/B1"}
            << QByteArrayList{"A", "B", "A/A1", "A/A2", "A/A1/A1x", "B/B1"};
        QTest::newRow("no subfolders") << QByteArrayList{"f:a.jpg"} << QByteArrayList{};
        QTest::newRow("hidden folders count")
            << QByteArrayList{"d:a", "d:.h", "d:.h/x"} << QByteArrayList{".h", "a", ".h/x"};
        QTest::newRow("links are never entered")
            << QByteArrayList{"d:a", "l:a/loop>..", "l:up>/", "l:b>a"} << QByteArrayList{"a"};
        QTest::newRow("trash folders are never entered")
            << QByteArrayList{"d:a", "d:.Trash-1000", "d:.Trash-1000/files", "d:.Trash", "d:.Trash-x"}
            << QByteArrayList{".Trash-x", "a"};
        QTest::newRow("files and pipes are no folders")
            << QByteArrayList{"d:a", "f:a/x.jpg", "p:a/pipe"} << QByteArrayList{"a"};
        QTest::newRow("name that is not UTF-8")
            << QByteArrayList{"d:\x8e\xca", "d:\x8e\xca/x"} << QByteArrayList{"\x8e\xca", "\x8e\xca/x"};
        QByteArrayList deep;
        QByteArray path;
        for (int level = 0; level < 45; ++level) {
            path += (level ? "/" : "") + QByteArray::number(level);
            deep << path;
        }
        QByteArrayList deepEntries;
        for (const QByteArray& folder : deep)
            deepEntries << "d:" + folder;
        QTest::newRow("45 levels deep") << deepEntries << deep;
    }
    void order() {
        QFETCH(QByteArrayList, entries);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        test::makeEntries(root, entries);
        std::vector<fs::path> list;
        LoggingObserver observer(list);
        QVERIFY(GetDir(root, list, observer).ok());
        QTEST(relativeTo(root, list), "expected");
        fs::remove_all(root); // QTemporaryDir cannot remove names that are not UTF-8
    }

    // On entering every folder, after each subfolder found and before each folder is entered.
    void yieldPoints() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        test::makeEntries(root, {"d:A", "d:B", "d:A/A1"});
        std::vector<fs::path> list;
        LoggingObserver observer(list);
        QVERIFY(GetDir(root, list, observer).ok());
        QCOMPARE(observer.log.join(' '), QString("y0 S y0 y1 y2 y2 S y2 y3 y3 S y3 y3 S"));
    }

    // The root of a volume, and "/" itself: every entry is the root and one separator before the
    // name. Made in a mount namespace of a child's own.
    void volumeRoot() {
        QTemporaryDir dir;
        const fs::path volume = fs::path(dir.path().toStdString()) / "volume";
        fs::create_directory(volume);
        const int result = test::runInChild([&] {
            if (!test::mountPrivateTmpfs(volume.native()))
                return test::skipExit;
            test::makeEntries(volume, {"d:A", "d:B", "d:A/A1"});
            const auto survey = [](const fs::path& root) {
                std::vector<fs::path> list;
                LoggingObserver observer(list);
                QByteArrayList names;
                if (GetDir(root, list, observer).ok()) {
                    for (const fs::path& folder : list)
                        names << QByteArray::fromStdString(folder.native());
                }
                return names;
            };
            const QByteArray mounted = QByteArray::fromStdString(volume.native());
            if (survey(volume) != QByteArrayList{mounted + "/A", mounted + "/B", mounted + "/A/A1"})
                return 1;
            if (::chroot(volume.c_str()) != 0 || ::chdir("/") != 0)
                return test::skipExit;
            return survey("/") == QByteArrayList{"/A", "/B", "/A/A1"} ? 0 : 2;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
    }

    // Permissions only hold for an unprivileged user, so the survey runs in a child that is one.
    void unreadableFolderStopsTheSurvey() {
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        test::makeEntries(root, {"d:a", "d:b", "d:b/locked", "d:b/locked/x"});
        ::chmod(root.c_str(), 0755);
        ::chmod((root / "b" / "locked").c_str(), 0);
        const int result = test::runInChild([&] {
            if (!test::dropPrivileges())
                return test::skipExit;
            std::vector<fs::path> list;
            LoggingObserver observer(list);
            const Status status = GetDir(root, list, observer);
            return status.code() == EACCES && status.error().path == root / "b" / "locked" ? 0 : 1;
        });
        ::chmod((root / "b" / "locked").c_str(), 0755);
        if (result == test::skipExit)
            QSKIP("cannot become an unprivileged user");
        QCOMPARE(result, 0);
    }
};

QTEST_APPLESS_MAIN(TestFolderSurvey)
#include "test_folder_survey.moc"
