// The real program in a real X session, used as a person uses it: start and close, the options
// dialog, the two strip runs and the help and version windows. Only files and windows are looked
// at; nothing reaches into the program.
#include "e2e_test.h"
#include "held_move.h"
#include "picture_files.h"
#include "places.h"
#include "temp_tree.h"

#include <QtTest>

using namespace corvalin::e2e;
using corvalin::testing::readFile;
using corvalin::testing::writeFile;
namespace fs = std::filesystem;

namespace {

// A click on a check box lands on its box, at the left of its caption.
QPoint boxOf(const QRect& checkBox) {
    return {checkBox.left() + 7, checkBox.center().y()};
}

// The height of the highlighted row that starts highest in a list, found in the window's picture
// (a selection is drawn in the highlight colour across the row), and where it starts; 0 and -1
// when nothing is highlighted.
std::pair<int, int> highlightedRow(const QImage& window, const QRect& list, int menuBarHeight) {
    const int x = list.right() - 20;
    int top = -1;
    int height = 0;
    if (window.isNull())
        return {height, top};
    for (int y = list.top() + menuBarHeight; y <= list.bottom() + menuBarHeight; ++y) {
        const QColor pixel = window.pixelColor(x, y);
        const bool highlight = pixel.blue() > 150 && pixel.blue() - pixel.red() > 60;
        if (highlight && top < 0)
            top = y - menuBarHeight;
        if (highlight)
            ++height;
        else if (top >= 0)
            break;
    }
    return {height, top};
}

} // namespace

class TestE2eWindows : public E2eTest {
    Q_OBJECT

    void startProgram() {
        const QString error = program().start();
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // The program started with a strip folder of these pictures as its source; what they hold.
    std::map<QByteArray, int> startInStripFolder(const fs::path& folder, const QStringList& names) {
        makeStripFolder(folder, names);
        fs::create_directories(root() / "maker");
        writeSettings(root(), folder, root() / "maker");
        startProgram();
        return contentsBelow(folder);
    }

    // A strip folder of real pictures, each with content of its own.
    void makeStripFolder(const fs::path& folder, const QStringList& names) {
        fs::create_directories(folder);
        int seed = 1;
        for (const QString& name : names)
            QVERIFY(writePicture(folder / name.toStdString(), seed++));
    }

    // The window as it stays: grabbed until two grabs in a row agree.
    QImage steadyGrab(WindowId window) {
        QImage last = m_x.grab(window);
        for (int tries = 0; tries < 20; ++tries) {
            QTest::qWait(150);
            QImage next = m_x.grab(window);
            if (next == last)
                return next;
            last = std::move(next);
        }
        return last;
    }

    void writeSettings(const fs::path& source, const fs::path& destination, const fs::path& maker) {
        writeFile(program().settingsFile(), settingsLine(source, destination, maker, 0, 0));
        writeFile(program().counterFile(), "7\r\n");
    }

private slots:
    void firstStartAndCloseFromTheMenu() {
        startProgram();
        const fs::path here = program().folder();
        // Written at once with the running flag; the counter only at the end.
        QCOMPARE(readFile(program().settingsFile()), settingsLine(here, here, "", 1, 0));
        QVERIFY(!fs::exists(program().counterFile()));
        closeFromMenu();
        QCOMPARE(readFile(program().settingsFile()), settingsLine(here, here, "", 0, 0));
        QCOMPARE(readFile(program().counterFile()), std::string("0\r\n"));
    }

    // Both panes are moved from the keyboard along the focus order, then the close box is used:
    // the folders shown at the end are saved, not the ones read at the start.
    void closeBoxSavesTheFoldersShown() {
        const fs::path source = root() / "source";
        const fs::path destination = root() / "destination";
        fs::create_directories(source / "a");
        fs::create_directories(destination / "b");
        writeFile(program().settingsFile(), settingsLine(source, destination, "", 0, 1));
        writeFile(program().counterFile(), "41\r\n");
        startProgram();
        QCOMPARE(readFile(program().settingsFile()), settingsLine(source, destination, "", 1, 1));

        // Focus on Drive1, the first in the order: its list opens on a click and Escape closes it.
        QVERIFY(program().clickControl(places::Drive1));
        QVERIFY(m_x.key({"Escape"}));
        // Dir1 follows; End goes to its last entry, the only subfolder, and Return opens it. Then
        // File1 and Drive2 lie between Dir1 and Dir2.
        QVERIFY(m_x.key({"Tab", "End", "Return", "Tab", "Tab", "Tab", "End", "Return"}));
        QVERIFY(m_x.key({"alt+F4"}));
        QVERIFY2(program().waitForExit(kExitTimeoutMs), "the close box did not end the program");
        QVERIFY2(program().exitedCleanly(), qPrintable(program().errorOutput()));
        QCOMPARE(readFile(program().settingsFile()), settingsLine(source / "a", destination / "b", "", 0, 1));
        QCOMPARE(readFile(program().counterFile()), std::string("41\r\n"));
    }

    void optionsDialogMakesNumberedChildFolders() {
        const fs::path pictures = root() / "pictures";
        fs::create_directories(pictures);
        fs::create_directories(root() / "downloads");
        writeSettings(pictures, pictures, "");
        startProgram();

        const WindowId dialog = m_scenario->openOptions();
        QVERIFY2(dialog, "the options dialog did not open");
        // A parent folder that does not exist yet is made, one level deep.
        const fs::path parent = root() / "downloads" / "cats";
        QVERIFY(m_x.click(dialog, places::OptionsText1.center()));
        QVERIFY(m_x.key({"ctrl+a"}));
        QVERIFY(m_x.type(QString::fromStdString(parent.native())));
        QVERIFY(m_x.click(dialog, places::OptionsText2.center()));
        QVERIFY(m_x.key({"ctrl+a"}));
        QVERIFY(m_x.type("50"));
        QVERIFY(m_x.click(dialog, places::OptionsOK.center()));
        QVERIFY2(m_x.waitForNoWindow(dialog, kWindowTimeoutMs), "OK did not close the dialog");

        QStringList expected;
        for (int k = 1; k <= 50; ++k)
            expected << QString("cats_%1/").arg(k, 2, 10, QChar('0'));
        QVERIFY(waitUntil([&] { return namesIn(parent) == expected; }, kRunTimeoutMs));
        QCOMPARE(namesIn(parent), expected);
        // The maker's folder is kept for the next start.
        closeFromMenu();
        QCOMPARE(readFile(program().settingsFile()), settingsLine(pictures, pictures, parent, 0, 0));
    }

    // The keyboard in the options dialog: Return in a box does nothing, on a focused button it
    // presses that button; with the focus on the tab strip only Ctrl+Tab changes the page.
    void optionsDialogKeys() {
        const fs::path pictures = root() / "pictures";
        const fs::path maker = root() / "maker";
        fs::create_directories(pictures);
        fs::create_directories(maker);
        writeSettings(pictures, pictures, maker);
        startProgram();
        const WindowId dialog = m_scenario->openOptions();
        QVERIFY2(dialog, "the options dialog did not open");
        QVERIFY(m_x.click(dialog, places::OptionsText2.center()));
        QVERIFY(m_x.key({"ctrl+a"}));
        QVERIFY(m_x.type("3"));
        QVERIFY(m_x.key({"Return"}));
        // Back along the focus order (Text1, File1, Dir1, Drive1) to 更新, and Return there.
        QVERIFY(m_x.key({"shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "Return"}));
        const QStringList made{"maker_1/", "maker_2/", "maker_3/"};
        QVERIFY2(waitUntil([&] { return namesIn(maker) == made; }, kRunTimeoutMs),
                 qPrintable(namesIn(maker).join(" | ")));
        QVERIFY2(m_x.windows("^ｵﾌﾟｼｮﾝ$").contains(dialog), "Return in the count box closed the dialog");

        // On to the tab strip (ｷｬﾝｾﾙ, OK before it), the pointer away from the tool tips.
        QVERIFY(m_x.key({"shift+Tab", "shift+Tab", "shift+Tab"}));
        QVERIFY(m_x.movePointer(dialog, places::OptionsEmptySpot));
        const QImage firstPage = steadyGrab(dialog);
        QVERIFY(!firstPage.isNull());
        // Back one and on one: only the second press moves, to the second page.
        QVERIFY(m_x.key({"ctrl+shift+Tab", "ctrl+Tab"}));
        QVERIFY2(waitUntil([&] { return steadyGrab(dialog) != firstPage; }, kWindowTimeoutMs),
                 "Ctrl+Shift+Tab changed the page");
        QVERIFY(m_x.key({"ctrl+alt+Tab", "ctrl+Tab"}));
        QVERIFY2(waitUntil([&] { return steadyGrab(dialog) == firstPage; }, kWindowTimeoutMs),
                 "Ctrl+Alt+Tab changed the page");
        QVERIFY(m_x.key({"Escape"}));
        QVERIFY(m_x.waitForNoWindow(dialog, kWindowTimeoutMs));
        closeFromMenu();
        QCOMPARE(namesIn(maker), made);
    }

    // During a strip run the options dialog still takes OK, pressed here with Return on the focused
    // button: the options are kept, the folder action waits with a message, and the run's end lays
    // the window out with the strip button. The run is held at its first rename meanwhile.
    void optionsDuringAStripRun() {
        const fs::path folder = root() / "strip";
        const fs::path maker = root() / "maker";
        QStringList names;
        QStringList stripped;
        for (int i = 1; i <= 20; ++i) {
            names << QString("%1 p%2.jpg").arg(i, 6, 10, QChar('0')).arg(i, 2, 10, QChar('0'));
            stripped << QString("p%1.jpg").arg(i, 2, 10, QChar('0'));
        }
        corvalin::test::HeldMove held(folder);
        program().holdMovesWith(held);
        const auto contents = startInStripFolder(folder, names);
        if (!held.attached())
            QSKIP("this system cannot hold a program at a rename");
        // The strip mode from the keyboard: Check3 ticked, then on along the focus order (Check4, the
        // tab strip) to OK.
        WindowId dialog = m_scenario->openOptions();
        QVERIFY2(dialog, "the options dialog did not open");
        QVERIFY(m_x.click(dialog, boxOf(places::OptionsCheck3)));
        QVERIFY(m_x.key({"Tab", "Tab", "Tab", "Return"}));
        QVERIFY2(m_x.waitForNoWindow(dialog, kWindowTimeoutMs), "Return on OK did not close the dialog");
        QVERIFY(m_x.waitUntilActive(program().mainWindow(), kWindowTimeoutMs));

        dialog = m_scenario->openOptions();
        QVERIFY2(dialog, "the options dialog did not open again");
        QVERIFY(m_x.click(dialog, places::OptionsText2.center()));
        QVERIFY(m_x.key({"ctrl+a"}));
        QVERIFY(m_x.type("2")); // would make maker_2
        QVERIFY(m_x.click(dialog, boxOf(places::OptionsCheck1)));
        // On along the focus order (Check2, Check3, Check4, the tab strip) to OK; the dialog out of
        // the way of the main window's button.
        QVERIFY(m_x.key({"Tab", "Tab", "Tab", "Tab", "Tab"}));
        QVERIFY(m_x.moveWindow(dialog, {0, 0}));
        QVERIFY(program().clickControl(places::ButtonSlot)); // 通し番号削除
        QVERIFY(held.waitUntilHeld());
        QVERIFY(m_x.click(dialog, places::OptionsEmptySpot));
        QVERIFY(m_x.waitUntilActive(dialog, kWindowTimeoutMs));
        QVERIFY(m_x.key({"Return"}));
        QTest::qWait(300); // for the keys to reach the program's queue
        held.release();
        const auto note = m_x.waitForWindow("^Corvalin$", kRunTimeoutMs, {program().mainWindow()});
        QVERIFY2(note, "no message about the folder action");
        QVERIFY(m_x.waitUntilActive(*note, kWindowTimeoutMs));
        QVERIFY(m_x.key({"Return"}));
        QVERIFY(m_x.waitForNoWindow(*note, kWindowTimeoutMs));
        QVERIFY2(m_x.waitForNoWindow(dialog, kWindowTimeoutMs), "OK did not close the dialog during the run");
        QVERIFY2(waitUntil([&] { return namesIn(folder) == stripped; }, kRunTimeoutMs),
                 qPrintable(namesIn(folder).join(" | ")));
        QVERIFY2(contentsBelow(folder) == contents, "a picture was lost or copied");
        QCOMPARE(namesIn(maker), QStringList{"maker_1/"});
        QVERIFY(m_x.waitUntilActive(program().mainWindow(), kWindowTimeoutMs));
        closeFromMenu();
        QCOMPARE(readFile(program().settingsFile()), settingsLine(root(), folder, maker, 0, 1));
    }

    void stripInFolder_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        // c.jpg is taken, so "000003 c.jpg" keeps its number and the run says so at its end.
        QTest::newRow("prefixes cut, taken name kept")
            << QStringList{"000001 a.jpg", "000002 b.jpg", "000003 c.jpg",
                           "abcdef x.bmp", "c.jpg",        "plain.bmp"}
            << QStringList{"000003 c.jpg", "a.jpg", "abcdef x.bmp", "b.jpg", "c.jpg", "plain.bmp"};
    }
    // The options dialog first switches to the other strip mode with Update, then to this one
    // with OK; the click on the button slot must then start the strip in the folder.
    void stripInFolder() {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        const fs::path folder = root() / "strip";
        const auto contents = startInStripFolder(folder, before);
        const WindowId dialog = m_scenario->openOptions();
        QVERIFY2(dialog, "the options dialog did not open");
        QVERIFY(m_x.click(dialog, boxOf(places::OptionsCheck4)));
        QVERIFY(m_x.click(dialog, places::OptionsApply.center()));
        QVERIFY(m_x.click(dialog, boxOf(places::OptionsCheck4)));
        QVERIFY(m_x.click(dialog, boxOf(places::OptionsCheck3)));
        QVERIFY(m_x.click(dialog, places::OptionsOK.center()));
        QVERIFY2(m_x.waitForNoWindow(dialog, kWindowTimeoutMs), "OK did not close the dialog");

        QVERIFY(program().clickControl(places::ButtonSlot));
        // The note about the file left as it was.
        const auto note = m_x.waitForWindow("^Corvalin$", kRunTimeoutMs, {program().mainWindow()});
        QVERIFY2(note, "no note about the file left unstripped");
        QVERIFY(m_x.waitUntilActive(*note, kWindowTimeoutMs));
        QVERIFY(m_x.key({"Return"}));
        QVERIFY(m_x.waitForNoWindow(*note, kWindowTimeoutMs));
        QCOMPARE(namesIn(folder), after);
        QVERIFY2(contentsBelow(folder) == contents, "a picture was lost or copied");
        closeFromMenu();
    }

    void stripIntoSubfolder_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QList<int>>("selectedRows");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("inSubfolder");
        // d.jpg is selected but has no number, so it stays.
        QTest::newRow("two numbered of three selected")
            << QStringList{"000001 a.jpg", "000002 b.jpg", "000003 c.bmp", "d.jpg"} << QList<int>{0, 2, 3}
            << QStringList{"000002 b.jpg", "d.jpg", "strip(1)/"} << QStringList{"a.jpg", "c.bmp"};
    }
    // Files are chosen with the mouse (a click, then Ctrl+clicks); the button is reached from the
    // list with Shift+Tab, the focus order putting the button just before the list.
    void stripIntoSubfolder() {
        QFETCH(QStringList, before);
        QFETCH(QList<int>, selectedRows);
        QFETCH(QStringList, after);
        QFETCH(QStringList, inSubfolder);
        const fs::path folder = root() / "strip";
        const auto contents = startInStripFolder(folder, before);
        const WindowId dialog = m_scenario->openOptions();
        QVERIFY2(dialog, "the options dialog did not open");
        QVERIFY(m_x.click(dialog, boxOf(places::OptionsCheck4)));
        QVERIFY(m_x.click(dialog, places::OptionsOK.center()));
        QVERIFY2(m_x.waitForNoWindow(dialog, kWindowTimeoutMs), "OK did not close the dialog");
        QVERIFY(m_x.waitUntilActive(program().mainWindow(), kWindowTimeoutMs));

        // The first entry lies at the top of the list; the height of its highlight gives the
        // places of the others.
        QVERIFY(m_x.click(program().mainWindow(),
                          {places::File3.center().x(), places::File3.top() + 6 + program().menuBarHeight()}));
        std::pair<int, int> row;
        QVERIFY2(waitUntil(
                     [&] {
                         row = highlightedRow(m_x.grab(program().mainWindow()), places::File3,
                                              program().menuBarHeight());
                         return row.first > 8;
                     },
                     kWindowTimeoutMs),
                 "the click did not select the first file in the list");
        const auto [rowHeight, rowTop] = row;
        for (int r : selectedRows) {
            if (r != 0)
                QVERIFY(program().clickControl({places::File3.left(), rowTop + r * rowHeight, 120, rowHeight},
                                               "ctrl"));
        }
        QVERIFY(m_x.key({"shift+Tab", "Return"}));

        const fs::path subfolder = folder / "strip(1)";
        QVERIFY2(waitUntil([&] { return namesIn(subfolder) == inSubfolder; }, kRunTimeoutMs),
                 qPrintable(namesIn(subfolder).join(" | ")));
        QCOMPARE(namesIn(folder), after);
        QVERIFY2(contentsBelow(folder) == contents, "a picture was lost or copied");
        closeFromMenu();
    }

    void helpAndVersionWindows_data() {
        QTest::addColumn<int>("entry"); // in the second menu
        QTest::addColumn<QString>("title");
        QTest::addColumn<QRect>("closeButton"); // or, when empty, the keys
        QTest::addColumn<QStringList>("closeKeys");
        const QString about = "^Corvalinのﾊﾞｰｼﾞｮﾝ情報$";
        QTest::newRow("help, back button") << 0 << "^Corvalin$" << places::HelpBack << QStringList{};
        QTest::newRow("help, close box") << 0 << "^Corvalin$" << QRect() << QStringList{"alt+F4"};
        QTest::newRow("version, OK") << 1 << about << places::AboutOK << QStringList{};
        QTest::newRow("version, Enter") << 1 << about << QRect() << QStringList{"Return"};
        QTest::newRow("version, Escape") << 1 << about << QRect() << QStringList{"Escape"};
    }
    void helpAndVersionWindows() {
        QFETCH(int, entry);
        QFETCH(QString, title);
        QFETCH(QRect, closeButton);
        QFETCH(QStringList, closeKeys);
        startProgram();
        QVERIFY(program().chooseMenuEntry(1, entry));
        const auto window = m_x.waitForWindow(title, kWindowTimeoutMs, {program().mainWindow()});
        QVERIFY2(window, "the window did not open");
        QVERIFY(m_x.waitUntilActive(*window, kWindowTimeoutMs));
        if (closeButton.isEmpty())
            QVERIFY(m_x.key(closeKeys));
        else
            QVERIFY(m_x.click(*window, closeButton.center()));
        QVERIFY2(m_x.waitForNoWindow(*window, kWindowTimeoutMs), "the window did not close");
        // The main window goes on working.
        QVERIFY(m_x.waitUntilActive(program().mainWindow(), kWindowTimeoutMs));
        closeFromMenu();
        QVERIFY(readFile(program().settingsFile()).ends_with(",0,0\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestE2eWindows)
#include "test_e2e_windows.moc"
