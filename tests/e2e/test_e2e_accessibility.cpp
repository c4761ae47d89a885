// The real program as a screen reader meets it: through the desktop's accessibility bus, with a
// client of our own that walks every window, goes through it with Tab alone and listens for what
// is announced. Windows are opened from the keyboard only.
#include "picture_files.h"
#include "scenario.h"
#include "screen_reader.h"
#include "temp_tree.h"

#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <set>

using namespace corvalin::e2e;
using corvalin::testing::writeFile;
namespace fs = std::filesystem;

namespace {

// Roles a person acts on; each needs a name. Text counts only where it can be edited.
const QStringList kInteractiveRoles = {
    "push button", "toggle button", "check box",   "radio button", "combo box", "list",
    "list box",    "table",         "tree table",  "tree",         "menu item", "check menu item",
    "page tab",    "link",          "spin button", "slider",       "text",      "entry"};
const QStringList kItemRoles = {"list item", "table cell", "tree item", "table column header",
                                "table row header"};
// Figures alone, as a count display shows them ("0/0", "12").
const QRegularExpression kFiguresOnly(QStringLiteral("^[\\s\\d/.,:()%+-]+$"));

// The tree each scenario starts with: two child folders of pictures below the source, one of them
// named in Shift-JIS ("テスト"), as names unpacked from old archives are, and a picture directly in
// the source whose name is Shift-JIS too ("画像.jpg").
const std::string kShiftJisFolder = "\x83\x65\x83\x58\x83\x67";
const std::string kShiftJisPicture = "\x89\xe6\x91\x9c.jpg";

bool has(const QJsonObject& node, const char* state) {
    return node["states"].toArray().contains(QString::fromLatin1(state));
}

bool isInteractive(const QJsonObject& node) {
    const QString role = node["role"].toString();
    if (role == "text" || role == "entry")
        return has(node, "editable");
    return kInteractiveRoles.contains(role);
}

// A control reached with Tab: shown, usable and taking the focus. Of a group of option buttons
// Tab reaches the chosen one; the arrows the others.
bool isTabStop(const QJsonObject& node) {
    if (!isInteractive(node) || !has(node, "showing") || !has(node, "sensitive") || !has(node, "focusable"))
        return false;
    const QString role = node["role"].toString();
    return !(role == "radio button" && !has(node, "checked")) && role != "menu item" && role != "page tab";
}

QString describe(const QJsonObject& node) {
    return QStringLiteral("%1 \"%2\"").arg(node["role"].toString(), node["name"].toString());
}

} // namespace

class TestE2eAccessibility : public QObject {
    Q_OBJECT

    XSession m_x;
    ScreenReader m_reader;
    std::unique_ptr<Scenario> m_scenario;
    // The names the tree puts on the screen: a control named by one of them is named by its value.
    std::set<QString> m_shownValues;

    ProgramSession& program() { return m_scenario->program(); }
    fs::path root() const { return m_scenario->root(); }

    void startProgram(const fs::path& destination) {
        const fs::path source = root() / "source";
        fs::create_directories(destination);
        writeFile(program().settingsFile(), settingsLine(source, destination, root() / "maker", 0, 0));
        const QString error = program().start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void makeTree() {
        const fs::path source = root() / "source";
        fs::create_directories(source / "child-a");
        fs::create_directories(source / kShiftJisFolder);
        fs::create_directories(root() / "maker");
        QVERIFY(writePicture(source / "child-a" / "photo1.jpg", 1));
        QVERIFY(writePicture(source / "child-a" / "photo2.jpg", 2));
        // Written under a UTF-8 name, then given its own bytes.
        QVERIFY(writePicture(root() / "photo3.jpg", 3));
        fs::rename(root() / "photo3.jpg", source / kShiftJisFolder / "photo3.jpg");
        QVERIFY(writePicture(root() / "picture.jpg", 4));
        fs::rename(root() / "picture.jpg", source / kShiftJisPicture);
        m_shownValues = {"source",     "destination", "child-a",    "prog",   "maker",
                         "photo1.jpg", "photo2.jpg",  "photo3.jpg", "テスト", "画像.jpg"};
    }

    // Keys one at a time, as a person presses them: a menu maps late on a busy machine.
    void press(const QStringList& keys) {
        for (const QString& key : keys) {
            QVERIFY(m_x.key({key}));
            QTest::qWait(250);
        }
    }

    // The active window's accessibles once its title matches `title`: the main window's, or with
    // `other`, another window's.
    QJsonArray walkWindow(const QString& title, bool other = false) {
        QJsonArray nodes;
        const bool found = waitUntil(
            [&] {
                nodes = m_reader.walk();
                bool main = false;
                for (const QJsonValue& node : nodes)
                    main = main || node.toObject()["role"].toString() == "menu bar";
                return !nodes.isEmpty() && main != other &&
                       QRegularExpression(title).match(nodes[0].toObject()["name"].toString()).hasMatch();
            },
            kWindowTimeoutMs);
        return found ? nodes : QJsonArray();
    }

    // Every interactive control has a name, and none is named by the value it shows.
    QStringList unnamed(const QJsonArray& nodes) const {
        QStringList faults;
        for (const QJsonValue& value : nodes) {
            const QJsonObject node = value.toObject();
            const QString name = node["name"].toString().trimmed();
            const QString role = node["role"].toString();
            if (isInteractive(node) && !kItemRoles.contains(role) && name.isEmpty())
                faults << "no name: " + describe(node);
            if (name.isEmpty() || kItemRoles.contains(role))
                continue;
            const bool shownValue = m_shownValues.count(name) > 0 || name.startsWith('/');
            if (kFiguresOnly.match(name).hasMatch() || shownValue ||
                (role == "combo box" && name == node["value"].toString()))
                faults << "named by its value: " + describe(node);
        }
        return faults;
    }

    // Tab, again and again, goes through every control that takes the focus, one after another.
    QStringList tabCycle(const QJsonArray& nodes, QStringList& faults) {
        QStringList stops;
        for (const QJsonValue& value : nodes) {
            if (isTabStop(value.toObject()))
                stops << describe(value.toObject());
        }
        QStringList visited;
        for (int press = 0; press < 2 * stops.size() + 2; ++press) {
            m_x.key({"Tab"});
            QTest::qWait(150);
            const QJsonObject focused = m_reader.focus();
            if (focused.isEmpty()) {
                faults << "Tab left no control with the focus after " + visited.join(", ");
                return visited;
            }
            visited << describe(focused);
        }
        QStringList missed = stops;
        for (const QString& stop : visited)
            missed.removeOne(stop);
        if (!missed.isEmpty())
            faults << "never reached with Tab: " + missed.join(", ") + "\n  reached: " + visited.join(", ");
        for (int i = 1; i < visited.size() && stops.size() > 1; ++i) {
            if (visited[i] == visited[i - 1])
                faults << "Tab stayed on " + visited[i];
        }
        return visited;
    }

private slots:
    void initTestCase() {
        QStringList missing = XSession::missingTools();
        missing << ScreenReader::missingPieces();
        if (!missing.isEmpty()) {
            const QString why = "the screen reader's test needs " + missing.join(", ") +
                                " (scripts/quickstart.sh test installs them)";
            if (qEnvironmentVariableIsSet("CORVALIN_CI"))
                QFAIL(qPrintable(why));
            QSKIP(qPrintable(why));
        }
        QString error = m_x.start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        error = m_reader.start(m_x);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void init() {
        m_scenario = std::make_unique<Scenario>(m_x);
        QVERIFY(m_scenario->isValid());
        makeTree();
        (void)m_reader.events();
    }

    // The temporary folder's own removal goes by Qt's file names, which cannot hold those bytes.
    void cleanup() {
        std::error_code ignored;
        fs::remove_all(root() / "source", ignored);
        m_scenario.reset();
    }

    void everyWindowSpeaks_data() {
        QTest::addColumn<QStringList>("keys"); // from the main window, the keyboard alone
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("destinationInSource");
        const QStringList options = {"alt", "Down", "Return"};
        QTest::newRow("main window") << QStringList() << "^Corvalin$" << false;
        QTest::newRow("options") << options << "^ｵﾌﾟｼｮﾝ$" << false;
        QTest::newRow("options, second tab") << options + QStringList{"ctrl+Tab"} << "^ｵﾌﾟｼｮﾝ$" << false;
        QTest::newRow("plan") << QStringList{"alt", "Down", "Down", "Return"} << "^移動の予定$" << false;
        QTest::newRow("history") << QStringList{"alt", "Down", "Down", "Down", "Return"} << "^履歴$" << false;
        QTest::newRow("help") << QStringList{"alt", "Right", "Down", "Return"} << "^Corvalin$" << false;
        QTest::newRow("version") << QStringList{"alt", "Right", "Down", "Down", "Return"}
                                 << "^Corvalinのﾊﾞｰｼﾞｮﾝ情報$" << false;
        // The move refused (the destination lies in the source): a message box.
        QTest::newRow("message box") << QStringList{"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"}
                                     << "^Corvalin$" << true;
    }

    void everyWindowSpeaks() {
        QFETCH(QStringList, keys);
        QFETCH(QString, title);
        QFETCH(bool, destinationInSource);
        startProgram(destinationInSource ? root() / "source" / "child-a" : root() / "destination");
        QVERIFY(!walkWindow("^Corvalin$").isEmpty());
        press(keys);
        const QJsonArray nodes = walkWindow(title, !keys.isEmpty());
        QVERIFY2(!nodes.isEmpty(), qPrintable(title + " did not come"));
        QStringList faults = unnamed(nodes);
        tabCycle(nodes, faults);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));
    }

    // The main window's Tab order is the designed one, and each stop is read by what it chooses.
    void mainWindowTabOrder() {
        startProgram(root() / "destination");
        QVERIFY(!walkWindow("^Corvalin$").isEmpty());
        const QString files = "list \"ファイルをクリックすると縮小画像を表示します。\"";
        const QStringList expected = {"combo box \"移動元のドライブを指定します。\"",
                                      "list \"移動元親フォルダ指定\"",
                                      files,
                                      "combo box \"移動先のドライブを指定します。\"",
                                      "list \"移動先フォルダ指定\"",
                                      files,
                                      "push button \"ファイル移動\""};
        QCOMPARE(describe(m_reader.focus()), expected.first());
        QStringList visited;
        for (int i = 0; i < expected.size(); ++i) {
            press({"Tab"});
            visited << describe(m_reader.focus());
        }
        QCOMPARE(visited, expected.mid(1) + expected.mid(0, 1));
    }

    // Names that are not UTF-8 are read as the lists show them.
    void namesThatAreNotUtf8() {
        startProgram(root() / "destination");
        const QJsonArray nodes = walkWindow("^Corvalin$");
        QStringList items;
        for (const QJsonValue& value : nodes) {
            if (value.toObject()["role"].toString() == "list item")
                items << value.toObject()["name"].toString().trimmed();
        }
        QVERIFY2(items.contains("テスト"), qPrintable(items.join(", ")));
        QVERIFY2(items.contains("画像.jpg"), qPrintable(items.join(", ")));
    }

    // The plan's and the history's tables are reached with Tab and read row by row.
    void tablesReadRowByRow_data() {
        QTest::addColumn<bool>("runFirst");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("inRow");
        QTest::addColumn<QString>("switchOff"); // a check box met on the way that hides the table
        QTest::newRow("plan") << false << QStringList{"alt", "Down", "Down", "Return"} << "^移動の予定$"
                              << "table \"移動する画像\""
                              << "photo"
                              << "check box \"画像で表示\"";
        QTest::newRow("history") << true << QStringList{"alt", "Down", "Down", "Down", "Return"} << "^履歴$"
                                 << "tree \"履歴\""
                                 << "移動" << QString();
    }

    void tablesReadRowByRow() {
        QFETCH(bool, runFirst);
        QFETCH(QStringList, keys);
        QFETCH(QString, title);
        QFETCH(QString, table);
        QFETCH(QString, inRow);
        QFETCH(QString, switchOff);
        startProgram(root() / "destination");
        if (runFirst) {
            press({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
            QVERIFY(waitUntil([&] { return fs::exists(root() / "destination" / "000000 photo1.jpg"); },
                              kRunTimeoutMs));
            QVERIFY(m_scenario->waitUntilIdle());
        }
        press(keys);
        QVERIFY(!walkWindow(title, true).isEmpty());
        QStringList visited;
        // The plan shows its pictures as thumbnails first; the table is one key away.
        for (int i = 0; i < 12 && !visited.contains(table); ++i) {
            visited << describe(m_reader.focus());
            if (!switchOff.isEmpty() && visited.last() == switchOff)
                press({"space"});
            if (!visited.contains(table))
                press({"Tab"});
        }
        QVERIFY2(visited.contains(table), qPrintable(table + " never had the focus: " + visited.join(", ")));
        press({"Home"});
        QJsonArray row;
        (void)waitUntil(
            [&] {
                row = m_reader.row();
                return row.size() > 1;
            },
            kWindowTimeoutMs / 3);
        QStringList cells;
        for (const QJsonValue& cell : row)
            cells << cell.toString();
        QVERIFY2(cells.join(' ').contains(inRow), qPrintable(cells.join(" | ")));
    }

    // The end of a run is said once, with the result line; a message box is read as an alert.
    void runEndAndMessagesAreAnnounced() {
        startProgram(root() / "destination");
        press({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
        QJsonArray said;
        QVERIFY(waitUntil(
            [&] {
                for (const QJsonValue& event : m_reader.events())
                    said << event;
                return !said.isEmpty();
            },
            kRunTimeoutMs));
        const QJsonObject first = said.first().toObject();
        QCOMPARE(first["role"].toString(), QStringLiteral("notification"));
        QVERIFY2(first["name"].toString().contains("画像 3 個を移動しました"),
                 qPrintable(first["name"].toString()));
        QVERIFY(m_scenario->waitUntilIdle());
        (void)m_reader.events();

        // The run again, now that the source holds nothing but its folders: the window asks nothing,
        // so the Parts' refusal to move into the source is used instead.
        QVERIFY(m_scenario->closeFromMenu());
        writeFile(program().settingsFile(),
                  settingsLine(root() / "source", root() / "source" / "child-a", root() / "maker", 0, 0));
        const QString error = program().start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
        press({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
        QJsonObject alert;
        QVERIFY(waitUntil(
            [&] {
                for (const QJsonValue& event : m_reader.events()) {
                    if (event.toObject()["role"].toString() == "alert")
                        alert = event.toObject();
                }
                return !alert.isEmpty();
            },
            kWindowTimeoutMs));
        QCOMPARE(alert["name"].toString(), QStringLiteral("Corvalin"));
        QVERIFY2(!alert["description"].toString().isEmpty(), "the message box's text is its description");
    }
};

QTEST_MAIN(TestE2eAccessibility)
#include "test_e2e_accessibility.moc"
