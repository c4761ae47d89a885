// The folder survey: its order, its yield points, and what it never enters.
#include "child_process.h"
#include "disk_helpers.h"
#include "engine/folder_survey.h"
#include "engine/surveyed_folders.h"

#include <QtTest>

#include <functional>
#include <sched.h>
#include <sys/mount.h>
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

// Changes the tree once, at the first yield after the list has grown to `atSize` entries: another
// process at work while the survey runs.
class ChangingObserver : public SurveyObserver {
public:
    ChangingObserver(const std::vector<fs::path>& list, std::size_t atSize, std::function<void()> change)
        : m_list(list), m_atSize(atSize), m_change(std::move(change)) {}
    void yield() override {
        if (m_change && m_list.size() == m_atSize)
            std::exchange(m_change, nullptr)();
    }
    void surveyStarted() override {}
    bool stopRequested() override { return false; }

private:
    const std::vector<fs::path>& m_list;
    std::size_t m_atSize;
    std::function<void()> m_change;
};

std::uint64_t inodeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

HeldFolder held(const fs::path& path) {
    Result<HeldFolder> opened = HeldFolder::open(path);
    if (!opened)
        qFatal("cannot open %s", path.c_str());
    return std::move(opened.value());
}

// A/A1 of `root` changed as another process would change it; the victim folder lies beside `root`.
enum class Change { Removed, Link, Renamed, File, Mounted };

bool applyChange(const fs::path& root, Change change) {
    const fs::path a1 = root / "A/A1";
    switch (change) {
    case Change::Removed:
        return fs::remove_all(a1) > 0;
    case Change::Link:
        return ::rename(a1.c_str(), (root / "aside").c_str()) == 0 &&
               ::symlink("../../victim", a1.c_str()) == 0;
    case Change::Renamed:
        return ::rename(a1.c_str(), (root / "aside").c_str()) == 0 &&
               ::rename((root.parent_path() / "victim").c_str(), a1.c_str()) == 0;
    case Change::File:
        return ::rename(a1.c_str(), (root / "aside").c_str()) == 0 && ::close(::creat(a1.c_str(), 0644)) == 0;
    case Change::Mounted: // in a mount namespace entered before the survey
        return ::mount("tmpfs", a1.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    return false;
}

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
        std::vector<SurveyedFolder> places;
        LoggingObserver observer(list);
        QVERIFY(GetDir(held(root), list, places, observer).ok());
        QTEST(relativeTo(root, list), "expected");
        // Each folder can be found again below its parent, and was that very folder.
        QCOMPARE(places.size(), list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            const fs::path parent = places[i].parent == kSurveyRoot ? root : list[places[i].parent];
            QVERIFY(places[i].parent == kSurveyRoot || places[i].parent < i);
            QCOMPARE(parent / places[i].name, list[i]);
            QVERIFY(places[i].seen);
            QCOMPARE(places[i].id.inode, inodeOf(list[i]));
        }
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

    // Listed, then changed before the survey enters it: it stays in the list but is not entered,
    // so nothing of what took its place is surveyed, and the survey goes on.
    void aFolderChangedDuringTheSurveyIsNotEntered_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<QByteArrayList>("expected");
        const QByteArrayList listed{"A", "B", "A/A1", "B/B1"};
        QTest::newRow("removed") << int(Change::Removed) << listed;
        QTest::newRow("swapped for a link") << int(Change::Link) << listed;
        QTest::newRow("replaced by a file") << int(Change::File) << listed;
        // A real folder below its parent when entered: that is the folder surveyed.
        QTest::newRow("another folder renamed in")
            << int(Change::Renamed) << QByteArrayList{"A", "B", "A/A1", "A/A1/inside", "B/B1"};
    }
    void aFolderChangedDuringTheSurveyIsNotEntered() {
        QFETCH(int, change);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        test::makeEntries(root, {"d:tree", "d:tree/A", "d:tree/B", "d:tree/A/A1", "d:tree/A/A1/deep",
                                 "d:tree/B/B1", "d:victim", "d:victim/inside"});
        std::vector<fs::path> list;
        std::vector<SurveyedFolder> places;
        // A1 is listed as the third entry; the change falls before A is left for B.
        ChangingObserver observer(list, 3, [&] { QVERIFY(applyChange(root / "tree", Change(change))); });
        QVERIFY(GetDir(held(root / "tree"), list, places, observer).ok());
        QTEST(relativeTo(root / "tree", list), "expected");
        QCOMPARE(places[2].seen, Change(change) == Change::Renamed);
        QVERIFY(places.back().seen);
    }

    // Opened again for a run: a changed folder is left and named once, whatever lies below it is
    // left unnamed, and every other folder is opened as the survey saw it.
    void aChangedFolderIsLeftAndNamedOnce_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("named");
        QTest::newRow("removed") << int(Change::Removed) << int(FolderChange::Gone);
        QTest::newRow("swapped for a link") << int(Change::Link) << int(FolderChange::NoFolder);
        QTest::newRow("another folder renamed in")
            << int(Change::Renamed) << int(FolderChange::AnotherFolder);
        QTest::newRow("replaced by a file") << int(Change::File) << int(FolderChange::NoFolder);
        QTest::newRow("mounted over") << int(Change::Mounted) << int(FolderChange::OtherMount);
    }
    void aChangedFolderIsLeftAndNamedOnce() {
        QFETCH(int, change);
        QFETCH(int, named);
        QTemporaryDir dir;
        const fs::path root = dir.path().toStdString();
        const fs::path tree = root / "tree";
        test::makeEntries(root, {"d:tree", "d:tree/A", "d:tree/B", "d:tree/A/A1", "d:tree/A/A1/deep",
                                 "d:tree/A/A2", "d:tree/B/B1", "d:victim", "d:victim/inside"});
        const int result = test::runInChild([&] {
            if (Change(change) == Change::Mounted &&
                !(test::enterOwnUserNamespace() && ::unshare(CLONE_NEWNS) == 0 &&
                  ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0))
                return test::skipExit;
            const HeldFolder top = held(tree);
            std::vector<fs::path> list;
            std::vector<SurveyedFolder> places;
            LoggingObserver observer(list);
            if (!GetDir(top, list, places, observer).ok())
                return 1;
            if (!applyChange(tree, Change(change)))
                return 1;
            // A, B, A1, A2, B1, deep: only A1 and deep are left.
            SurveyedFolders folders(top, list, places);
            for (std::size_t i = 0; i < list.size(); ++i) {
                const Result<const HeldFolder*> opened = folders.open(i);
                const bool left = list[i] == tree / "A/A1" || list[i] == tree / "A/A1/deep";
                if (!opened || (opened.value() == nullptr) != left)
                    return 2;
                if (opened.value() && opened.value()->id().inode != inodeOf(list[i]))
                    return 3;
            }
            const auto& changed = folders.changed();
            if (changed.size() != 1 || changed[0].path != tree / "A/A1" || int(changed[0].change) != named)
                return 4;
            return describeChangedFolders(tree, changed).find("\n  A/A1（") != std::string::npos ? 0 : 5;
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
