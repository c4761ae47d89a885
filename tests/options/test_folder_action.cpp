// The child-folder maker and remover: numbered names, what is skipped, what ends the action, the
// deletion question and the places a deletion must never reach.
#include "history/run_history.h"
#include "options/folder_action.h"
#include "platform/file_ops.h"
#include "platform/program_folder.h"

#include "child_process.h"
#include "disk_helpers.h"
#include "own_trash.h"
#include "scripted_message_box.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {
QByteArrayList subfolderNames(const fs::path& folder) {
    QByteArrayList names;
    for (const QByteArray& name : test::allNames(folder)) {
        if (fs::is_directory(folder / name.toStdString()))
            names << name;
    }
    return names;
}
} // namespace

class TestFolderAction : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<test::OwnHome> m_home;
    fs::path root() const { return m_dir.path().toStdString(); }
    fs::path history() const { return root() / "history"; }

    FolderActionResult create(const fs::path& parent, const QByteArray& count, ScriptedMessageBox& messages) {
        return runFolderAction({FolderChoice::Create, parent, count.toStdString(), history()}, messages, {});
    }

private slots:
    void init() {
        fs::remove_all(root());
        fs::create_directories(root());
        m_home = std::make_unique<test::OwnHome>(root() / "home");
    }
    void cleanup() { m_home.reset(); }

    // The width of the numbers is the number of characters typed, not of the count's digits.
    void numberedNames_data() {
        QTest::addColumn<QByteArray>("count");
        QTest::addColumn<QByteArrayList>("existing");
        QTest::addColumn<int>("created");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("last");
        QTest::newRow("50") << QByteArray("50") << QByteArrayList{} << 50 << QByteArray("cats_01")
                            << QByteArray("cats_50");
        QTest::newRow("100") << QByteArray("100") << QByteArrayList{} << 100 << QByteArray("cats_001")
                             << QByteArray("cats_100");
        QTest::newRow("050") << QByteArray("050") << QByteArrayList{} << 50 << QByteArray("cats_001")
                             << QByteArray("cats_050");
        QTest::newRow("full-width one")
            << QByteArray("１") << QByteArrayList{} << 1 << QByteArray("cats_1") << QByteArray("cats_1");
        QTest::newRow("fraction") << QByteArray("2.5") << QByteArrayList{} << 2 << QByteArray("cats_001")
                                  << QByteArray("cats_002");
        QTest::newRow("existing ones skipped")
            << QByteArray("4") << QByteArrayList{"d:cats_2", "f:cats_2/keep.jpg", "f:cats_3"} << 2
            << QByteArray("cats_1") << QByteArray("cats_4");
        // k = 1000 does not fit three digits: the action ends there, keeping what it made.
        QTest::newRow("1e3 ends at 1000") << QByteArray("1e3") << QByteArrayList{} << 999
                                          << QByteArray("cats_001") << QByteArray("cats_999");
        QTest::newRow("0") << QByteArray("0") << QByteArrayList{} << 0 << QByteArray() << QByteArray();
        QTest::newRow("abc") << QByteArray("abc") << QByteArrayList{} << 0 << QByteArray() << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArrayList{} << 0 << QByteArray() << QByteArray();
        QTest::newRow("negative") << QByteArray("-3") << QByteArrayList{} << 0 << QByteArray()
                                  << QByteArray();
    }
    void numberedNames() {
        QFETCH(QByteArray, count);
        QFETCH(QByteArrayList, existing);
        QFETCH(int, created);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, last);
        const fs::path cats = root() / "cats";
        test::makeEntries(root(), {"d:cats"});
        test::makeEntries(cats, existing);
        ScriptedMessageBox messages;
        const FolderActionResult result = create(cats, count, messages);
        QCOMPARE(result.created, created);
        QCOMPARE(result.makerPath, std::optional<fs::path>(cats));
        QVERIFY(result.refreshLists);
        QVERIFY(messages.shown.empty());
        QByteArrayList made = subfolderNames(cats);
        for (const QByteArray& entry : existing)
            made.removeAll(entry.mid(2));
        QCOMPARE(made.size(), created);
        if (created > 0) {
            QCOMPARE(made.first(), first);
            QCOMPARE(made.last(), last);
        }
        if (!existing.isEmpty())
            QCOMPARE(test::allNames(cats / "cats_2"), QByteArrayList{"keep.jpg"});
        // Journaled when it made something; an OK that made nothing leaves no run behind.
        const auto runs = listRuns(history());
        QCOMPARE(runs.value().size(), std::size_t(created > 0 ? 1 : 0));
        if (created > 0)
            QCOMPARE(runs.value().front().foldersMade, created);
    }

    // Without a journal nothing is made: it could not be undone.
    void makerRefusedWithoutJournal() {
        test::writeBytes(root() / "file", "x");
        ScriptedMessageBox messages;
        const FolderActionResult result = runFolderAction(
            {FolderChoice::Create, root() / "cats", "3", root() / "file" / "history"}, messages, {});
        QCOMPARE(result.created, 0);
        QVERIFY(!fs::exists(root() / "cats"));
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QVERIFY(messages.shown[0].text.find((root() / "file").native()) != std::string::npos);
    }

    // The parent as typed: missing, below a missing folder, with a trailing "/", as "..", not UTF-8.
    // A missing parent is made and kept whatever the count, also one that makes no child.
    void parentFolder_data() {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("count");
        QTest::addColumn<QByteArray>("child"); // the numbered child expected, empty for none
        QTest::addColumn<bool>("makerPathSet");
        const QByteArray one = "１";
        QTest::newRow("existing") << QByteArray("dl/cats") << one << QByteArray("dl/cats/cats_1") << true;
        QTest::newRow("missing, parent exists")
            << QByteArray("dl/new") << one << QByteArray("dl/new/new_1") << true;
        for (const char* count : {"0", "", "abc"})
            QTest::newRow(qPrintable(QString("missing, count '%1'").arg(count)))
                << QByteArray("dl/new") << QByteArray(count) << QByteArray("dl/new") << true;
        QTest::newRow("below a missing folder") << QByteArray("none/new") << one << QByteArray() << false;
        QTest::newRow("trailing slash")
            << QByteArray("dl/cats/") << one << QByteArray("dl/cats/cats_1") << true;
        QTest::newRow("dot-dot") << QByteArray("dl/cats/x/..") << one << QByteArray("dl/cats/cats_1") << true;
        QTest::newRow("not UTF-8") << QByteArray("dl/\x93\xfa") << one << QByteArray("dl/\x93\xfa/\x93\xfa_1")
                                   << true;
        QTest::newRow("a file") << QByteArray("dl/file.jpg") << one << QByteArray() << true;
    }
    void parentFolder() {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, count);
        QFETCH(QByteArray, child);
        QFETCH(bool, makerPathSet);
        test::makeEntries(root(), {"d:dl", "d:dl/cats", "d:dl/cats/x", "f:dl/file.jpg"});
        const fs::path parent = root() / typed.toStdString();
        ScriptedMessageBox messages;
        const FolderActionResult result = create(parent, count, messages);
        QCOMPARE(result.makerPath.has_value(), makerPathSet);
        if (makerPathSet)
            QCOMPARE(*result.makerPath, parent);
        if (!child.isEmpty())
            QCOMPARE(lookupEntry(root() / child.toStdString()), EntryKind::Folder);
        const bool childMade = !child.isEmpty() && child != typed;
        QCOMPARE(result.created, childMade ? 1 : 0);
        if (typed == "dl/new")
            QCOMPARE(subfolderNames(root() / "dl/new").size(), childMade ? 1 : 0);
        if (child == typed) // made, and shown by the lists
            QVERIFY(result.refreshLists);
        QCOMPARE(lookupEntry(root() / "none"), EntryKind::None);
        QVERIFY(messages.shown.empty());
    }

    // Counts that would freeze the window for minutes are refused, with a message, before any
    // child folder is made; a missing parent is still made and kept, and the lists read again.
    void tooManyRefused_data() {
        QTest::addColumn<QByteArray>("count");
        QTest::newRow("a million") << QByteArray("1000000");
        QTest::newRow("just above") << QByteArray("10001");
        QTest::newRow("overflow") << QByteArray("1e400");
    }
    void tooManyRefused() {
        QFETCH(QByteArray, count);
        ScriptedMessageBox messages;
        const FolderActionResult result = create(root() / "new", count, messages);
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(messages.shown[0].buttons, MessageButtons::Ok);
        QCOMPARE(result.makerPath, std::optional<fs::path>(root() / "new"));
        QVERIFY(result.refreshLists);
        QCOMPARE(lookupEntry(root() / "new"), EntryKind::Folder);
        QCOMPARE(subfolderNames(root() / "new"), QByteArrayList());
        QCOMPARE(result.created, 0);
    }

    void deleteAnswers_data() {
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<bool>("refresh");
        QTest::newRow("Yes: to the trash") << MessageAnswer::Yes << false << true << true;
        QTest::newRow("Yes: for good") << MessageAnswer::Yes << true << true << true;
        QTest::newRow("No") << MessageAnswer::No << false << false << true;
        QTest::newRow("Cancel") << MessageAnswer::Cancel << false << false << false;
    }
    void deleteAnswers() {
        QFETCH(MessageAnswer, answer);
        QFETCH(bool, permanent);
        QFETCH(bool, deleted);
        QFETCH(bool, refresh);
        // A link inside points at a folder outside; only the link may go.
        test::makeEntries(root(), {"d:keep", "f:keep/1.jpg", "d:cats", "d:cats/cats_1", "f:cats/cats_1/a.jpg",
                                   "l:cats/cats_1/out>../../keep"});
        ::chmod((root() / "cats/cats_1/a.jpg").c_str(), 0444);
        const fs::path cats = root() / "cats";
        ScriptedMessageBox messages;
        messages.answers = {answer};
        const FolderActionResult result =
            runFolderAction({FolderChoice::Delete, cats, "1"}, messages, {}, Removal(permanent));
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(messages.shown[0].text, cats.native() + "とその下位フォルダを削除します。");
        QCOMPARE(messages.shown[0].buttons, MessageButtons::YesNoCancel);
        QCOMPARE(messages.shown[0].icon, MessageIcon::Warning);
        QCOMPARE(lookupEntry(cats) == EntryKind::None, deleted);
        QCOMPARE(result.refreshLists, refresh);
        QVERIFY(!result.makerPath);
        QCOMPARE(test::allNames(root() / "keep"), QByteArrayList{"1.jpg"});
        const auto trashed = test::trashedItems(m_home->trash());
        QCOMPARE(trashed.contains(cats), deleted && !permanent);
        if (trashed.contains(cats))
            QCOMPARE(test::allNames(trashed.at(cats).place.trashedFile / "cats_1"),
                     (QByteArrayList{"a.jpg", "out"}));
    }

    void deleteMissingFolder() {
        ScriptedMessageBox messages;
        const FolderActionResult result =
            runFolderAction({FolderChoice::Delete, root() / "none", ""}, messages, {});
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(messages.shown[0].text, std::string("フォルダが見つかりません。"));
        QCOMPARE(messages.shown[0].buttons, MessageButtons::Ok);
        QCOMPARE(messages.shown[0].icon, MessageIcon::None);
        QVERIFY(!result.refreshLists);
    }

    // Volume roots, the home folder and what holds it are refused before the question, however
    // the path is spelled.
    void deleteRefused_data() {
        QTest::addColumn<QByteArray>("typed"); // relative to the temporary folder; "/" for the root
        QTest::addColumn<QByteArray>("refusal");
        const QByteArray root = "ドライブのルートフォルダ", home = "ホームフォルダ", mounted = "別のドライブ";
        QTest::newRow("file-system root") << QByteArray("/") << root;
        QTest::newRow("volume root") << QByteArray("vol") << root;
        QTest::newRow("volume root, trailing slash") << QByteArray("vol/") << root;
        QTest::newRow("home") << QByteArray("users/me") << home;
        QTest::newRow("folder holding home") << QByteArray("users") << home;
        QTest::newRow("home by dot-dot") << QByteArray("users/me/dl/..") << home;
        QTest::newRow("home through a link") << QByteArray("alias/me") << home;
        QTest::newRow("volume mounted below") << QByteArray("media") << mounted;
        QTest::newRow("no usable trash")
            << QByteArray("users/me/dl") << QByteArray("「ごみ箱を使わずに完全に削除する」");
        QTest::newRow("ordinary folder") << QByteArray("users/me/dl") << QByteArray();
    }
    void deleteRefused() {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, refusal);
        test::makeEntries(root(), {"d:vol", "d:users", "d:users/me", "d:users/me/dl", "l:alias>users",
                                   "d:media", "d:media/stick"});
        const ProtectedPlaces places{{"/", root() / "vol", root() / "media/stick"}, root() / "users/me"};
        const fs::path folder = typed == "/" ? fs::path("/") : root() / typed.toStdString();
        if (QByteArray(QTest::currentDataTag()) == "no usable trash") {
            fs::create_directories(m_home->trash().parent_path());
            fs::create_directory_symlink(root() / "vol", m_home->trash());
        }
        ScriptedMessageBox messages;
        messages.answers = {MessageAnswer::No};
        runFolderAction({FolderChoice::Delete, folder, ""}, messages, places);
        QCOMPARE(messages.shown.size(), std::size_t(1));
        if (refusal.isEmpty()) {
            QCOMPARE(messages.shown[0].buttons, MessageButtons::YesNoCancel);
            return;
        }
        QVERIFY2(QByteArray::fromStdString(messages.shown[0].text).contains(refusal),
                 messages.shown[0].text.c_str());
        QCOMPARE(messages.shown[0].buttons, MessageButtons::Ok);
    }

    void thisSystemsHomeIsProtected() {
        const ProtectedPlaces places = ProtectedPlaces::ofThisSystem();
        QVERIFY(refusalToDelete(homeFolder(), places).has_value());
        QVERIFY(refusalToDelete("/", places).has_value());
    }

    // A volume mounted inside the folder: the system's list refuses at once; a mount the list
    // does not know stops the deletion there, and the user is told, not left guessing.
    void mountInsideTheFolder_data() {
        QTest::addColumn<bool>("systemPlaces");
        QTest::newRow("listed volume refused before asking") << true;
        QTest::newRow("unlisted mount reported") << false;
    }
    void mountInsideTheFolder() {
        QFETCH(bool, systemPlaces);
        test::makeEntries(root(), {"d:top", "d:top/mnt", "f:top/a.jpg"});
        const int result = test::runInChild([&] {
            if (!test::mountPrivateTmpfs(root() / "top/mnt"))
                return test::skipExit;
            test::makeEntries(root() / "top/mnt", {"f:keep.jpg"});
            ScriptedMessageBox messages;
            messages.answers = {MessageAnswer::Yes};
            const ProtectedPlaces places = systemPlaces ? ProtectedPlaces::ofThisSystem() : ProtectedPlaces{};
            runFolderAction({FolderChoice::Delete, root() / "top", ""}, messages, places);
            const bool kept = test::allNames(root() / "top/mnt") == QByteArrayList{"keep.jpg"};
            const std::string& last = messages.shown.back().text;
            const bool told =
                systemPlaces ? messages.shown.size() == 1 && last.find("別のドライブ") != std::string::npos
                             : messages.shown.size() == 2 && last.find("top/mnt") != std::string::npos;
            return kept && told ? 0 : 1;
        });
        if (result == test::skipExit)
            QSKIP("no private mounts here");
        QCOMPARE(result, 0);
    }

    void noChoiceOnlyRefreshes() {
        ScriptedMessageBox messages;
        const FolderActionResult result =
            runFolderAction({FolderChoice::None, root() / "x", "5"}, messages, {});
        QVERIFY(result.refreshLists);
        QVERIFY(!result.makerPath);
        QCOMPARE(lookupEntry(root() / "x"), EntryKind::None);
    }
};

QTEST_APPLESS_MAIN(TestFolderAction)
#include "test_folder_action.moc"
