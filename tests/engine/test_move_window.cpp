// The move run in the main window: the labels, lists and buttons during and after it, both
// endings, the message after a failure, a close during the run, and the preview.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "engine/ui/move_controller.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "scripted_message_box.h"

#include <QImage>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <cstring>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(MessageAnswer)

namespace {

// What the window showed at one pass of the event loop during a run.
struct Snapshot {
    QString dir1;
    QString label6;
    QString label11;
    bool label13 = false;
    bool label7 = false;
    bool command1 = false;
    bool command2 = false;
    int buttonsShown = 0; // of Command1 to Command4
};

int buttonsShown(const Form1Ui& ui) {
    int shown = 0;
    for (QWidget* button : {ui.Command1, ui.Command2, ui.Command3, ui.Command4})
        shown += button->isVisible() ? 1 : 0;
    return shown;
}

// Counts the times a widget is shown.
struct ShowCounter : QObject {
    int shown = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        shown += event->type() == QEvent::Show ? 1 : 0;
        return false;
    }
};

void writePicture(const fs::path& file, QSize size, const char* format) {
    fs::create_directories(file.parent_path());
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QVERIFY(image.save(QString::fromStdString(file.native()), format));
}

} // namespace

class TestMoveWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;
    std::vector<Snapshot> m_snapshots;
    std::function<void()> m_duringRun;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }
    fs::path prog() const { return root() / "prog"; }
    void swapCounterFileForAFolder() const {
        fs::remove(prog() / "Quillet.ini");
        fs::create_directory(prog() / "Quillet.ini");
    }

    // `shippedYields`: the run lets events through between files as the program does, not at
    // every file.
    void openForm(const fs::path& destination, bool deleteFolders, bool shippedYields = false) {
        writeContent(prog() / "Corvalin.ini", "\"" + src().native() + "\",\"" + destination.native() +
                                                  "\",\"\",0," + (deleteFolders ? "1" : "0") + "\r\n");
        m_vars = Module1{};
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{prog(), prog()}, m_messages);
        QVERIFY(m_form->Form_Load());
        m_form->show();
        if (!shippedYields)
            MoveController::of(*m_form).setYieldInterval(0);
    }
    // Clicks Command1 and records the window at every pass of the event loop until the run ends.
    void runMove() {
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [this] {
            if (!m_form->runInProgress())
                return;
            const auto& ui = m_form->ui;
            m_snapshots.push_back({QString::fromStdString(ui.Dir1->path().filename().native()),
                                   ui.Label6->text(), ui.Label11->text(), ui.Label13->isVisible(),
                                   ui.Label7->isVisible(), ui.Command1->isVisible(), ui.Command2->isVisible(),
                                   buttonsShown(ui)});
            if (m_duringRun)
                m_duringRun();
        });
        watcher.start();
        QTest::mouseClick(m_form->ui.Command1, Qt::LeftButton);
        watcher.stop();
        // At most one of the four buttons of the slot shows, during the run and after either ending.
        for (const Snapshot& shot : m_snapshots)
            QVERIFY(shot.buttonsShown <= 1);
        QVERIFY(buttonsShown(m_form->ui) <= 1);
    }
    void makeTree() {
        writePicture(src() / "A" / "a1.jpg", {640, 480}, "JPG");
        writePicture(src() / "A" / "a2.JPG", {100, 300}, "JPG");
        writeContent(src() / "A" / "notes.txt", "notes");
        fs::create_directories(src() / "B");
        writePicture(src() / "C" / "c.bmp", {64, 48}, "BMP");
        writeContent(src() / "top.txt", "stays");
        writeContent(dst() / "old.jpg", "already there");
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        fs::create_directories(prog());
        m_home = std::make_unique<OwnHome>(root() / "home");
        m_messages = ScriptedMessageBox{};
        m_snapshots.clear();
        m_duringRun = nullptr;
        makeTree();
    }
    void cleanup() {
        m_form.reset();
        m_home.reset();
    }

    // With the shipped yields the labels follow at the window's pace, and still end on the last file.
    // Across file systems the last pictures are named after the last folder, in a batch of their
    // own time: the destination list still shows them, however recently it was read before.
    void completedRunShowsItsCounts_data() {
        QTest::addColumn<bool>("shippedYields");
        QTest::addColumn<bool>("acrossFileSystems");
        QTest::newRow("every yield paints") << false << false;
        QTest::newRow("shipped yields") << true << false;
        QTest::newRow("destination on another file system") << false << true;
    }
    void completedRunShowsItsCounts() {
        QFETCH(bool, shippedYields);
        QFETCH(bool, acrossFileSystems);
        std::unique_ptr<QTemporaryDir> other;
        fs::path destination = dst();
        if (acrossFileSystems) {
            if (!(other = otherFileSystemDir()))
                QSKIP("/dev/shm is not another file system here");
            destination = other->path().toStdString();
            writeContent(destination / "old.jpg", "already there");
        }
        openForm(destination, false, shippedYields);
        m_form->ui.Label4->setText("before");
        m_form->showRunResult("the run before");
        m_vars.SerialNo = 41;
        // In the last folder, long enough for the list to be read again at its end, before the
        // batch carried over from the first folder is named.
        bool waited = !acrossFileSystems;
        QStringList resultsDuring;
        m_duringRun = [&] {
            resultsDuring << m_form->ui.lblRunResult->text();
            if (!waited && m_form->ui.Label10->text() == "C" && !m_form->PreviewPath.empty()) {
                waited = true;
                QThread::msleep(350);
            }
        };
        runMove();
        const auto& ui = m_form->ui;
        QCOMPARE(namesIn(destination), (Names{"000041 a1.jpg", "000042 a2.JPG", "000043 c.bmp", "old.jpg"}));
        QCOMPARE(ui.Label6->text(), QString("2/0"));
        QCOMPARE(ui.Label11->text(), QString("0/4"));
        QCOMPARE(ui.Label10->text(), QString("src"));
        QCOMPARE(ui.Label4->text(), QString("000043 c.bmp"));
        QCOMPARE(ui.Label15->text(), QString("4"));
        QCOMPARE(ui.File2->entryCount(), 4);
        // The result line, the command line's own, stays below the controls until the next run.
        QCOMPARE(resultsDuring.filter("the run before"), QStringList());
        QCOMPARE(ui.lblRunResult->text(),
                 QString("完了: 画像 3 個を移動しました（000041〜000043）。ほかのファイル 1 "
                         "個をごみ箱に入れました。"));
        QVERIFY(ui.lblRunResult->isVisible());
        QVERIFY(ui.lblRunResult->mapTo(m_form.get(), QPoint()).y() >=
                ui.Command1->mapTo(m_form.get(), QPoint(0, ui.Command1->height())).y());
        QCOMPARE(ui.Dir1->path(), src());
        QCOMPARE(ui.File1->path(), src());
        QVERIFY(ui.Command1->isVisible() && !ui.Command2->isVisible() && ui.Command2->isEnabled());
        QVERIFY(!ui.Label7->isVisible() && !ui.Label12->isVisible() && !ui.Label13->isVisible());
        QCOMPARE(ui.Picture1->frameStyle(), int(QFrame::NoFrame));
        QCOMPARE(m_form->BusyFlag, OptionValue::number(0));
        QCOMPARE(m_form->CancelFlag, std::int16_t(0));
        QVERIFY(m_form->FolderList.empty());
        QCOMPARE(contentOf(prog() / "Quillet.ini"), std::string("43\r\n")); // before the last file
        QCOMPARE(m_vars.SerialNo, 44);
        QVERIFY(m_messages.shown.empty());
        QCOMPARE(trashedItems(m_home->trash()).begin()->first, src() / "A" / "notes.txt");
        // A late preview is thrown away: the box stays empty after the run.
        QTest::qWait(300);
        QVERIFY(ui.Image1->pixmap().isNull());
    }

    // Pictures of a type not chosen that the run would delete for good are asked about once,
    // after the survey and before anything is touched: はい runs, いいえ leaves everything.
    void unchosenPicturesDeletedForGoodAreAskedAbout_data() {
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<bool>("permanent");
        QTest::newRow("yes") << MessageAnswer::Yes << true;
        QTest::newRow("no") << MessageAnswer::No << true;
        QTest::newRow("to the Trash: nothing asked") << MessageAnswer::No << false;
    }
    void unchosenPicturesDeletedForGoodAreAskedAbout() {
        QFETCH(MessageAnswer, answer);
        QFETCH(bool, permanent);
        writePicture(src() / "A" / "shot.png", {10, 10}, "PNG");
        writeContent(src() / "C" / "x.jpg_large", "large");
        if (permanent)
            writeContent(prog() / "Corvalin.conf", "permanent_deletion=true\n");
        openForm(dst(), false);
        const auto before = census(src());
        m_messages.answers = {answer};
        runMove();
        const bool ran = answer == MessageAnswer::Yes || !permanent;
        QCOMPARE(m_messages.shown.size(), std::size_t(permanent ? 1 : 0));
        if (permanent) {
            QCOMPARE(m_messages.shown[0].buttons, MessageButtons::YesNo);
            QVERIFY2(m_messages.shown[0].text.find(
                         "「画像として扱う形式」に選んでいない画像 2 個（1 × .jpg_large, 1 × "
                         ".png）を、ごみ箱に入れずに完全に削除します。") != std::string::npos,
                     m_messages.shown[0].text.c_str());
        }
        QCOMPARE(fs::exists(src() / "A" / "shot.png"), !ran);
        if (!ran) {
            QCOMPARE(census(src()), before);
            QCOMPARE(namesIn(dst()), Names{"old.jpg"});
            QVERIFY(!fs::exists(prog() / "Quillet.ini"));
        }
        QVERIFY(m_form->ui.lblRunResult->text().contains(ran ? "（うち、選んでいない形式の画像 2 個）"
                                                             : "中断: 画像 0 個を移動しました。"));
        QVERIFY(m_form->ui.Command1->isVisible() && !m_form->isBusy());
    }

    // Survey display: every folder walked in the source pane with growing counts, then the move.
    void progressDuringTheRun() {
        openForm(dst(), false);
        runMove();
        QStringList shown;
        for (const Snapshot& shot : m_snapshots) {
            QVERIFY(shot.label7 && shot.command2 && !shot.command1);
            const QString counts = shot.label6 + " " + shot.label11;
            if (shown.isEmpty() || shown.last() != counts)
                shown << counts;
            // The survey heading shows until the survey display ends.
            if (shown.size() == 2)
                QVERIFY(shot.label13);
            if (shown.size() >= 3)
                QVERIFY(!shot.label13);
        }
        // Folders with files / folders and files / files while surveying; then remaining / total.
        QCOMPARE(shown,
                 QStringList({"0/0 0/0", "1/3 3/3", "2/3 4/4", "2/3 3/4", "2/3 2/4", "2/3 1/4", "2/3 0/4"}));
        QCOMPARE(m_form->ui.Label11->text(), QString("0/4"));
    }

    // Cancel while the second folder is shown: the first stays emptied, the rest untouched; the
    // source pane's own change reaction runs at the end, before the folder list is emptied.
    void cancelEndingRunsTheSourcePaneReaction() {
        writePicture(src() / "B" / "b.jpg", {10, 10}, "JPG");
        openForm(dst(), true);
        m_form->ui.Label4->setText("before");
        m_duringRun = [this] {
            if (m_form->ui.Label10->text() == "B" && m_form->ui.Command2->isEnabled() &&
                !m_form->ui.Label13->isVisible())
                m_form->ui.Command2->click();
        };
        runMove();
        QCOMPARE(namesIn(dst()), (Names{"000000 a1.jpg", "000001 a2.JPG", "000002 b.jpg", "old.jpg"}));
        QCOMPARE(namesIn(src()), (Names{"A", "B", "C", "top.txt"}));
        QCOMPARE(m_form->ui.Label6->text(), QString("0/3"));
        QCOMPARE(m_form->ui.Label4->text(), QString("000002 b.jpg"));
        QCOMPARE(m_form->ui.Label15->text(), QString("1")); // not updated by a cancel
        QVERIFY(
            m_form->ui.lblRunResult->text().startsWith("中断: 画像 3 個を移動しました（000000〜000002）"));
        QCOMPARE(m_form->ui.File1->path(), src());
        QVERIFY(m_form->FolderList.empty());
        QCOMPARE(m_form->CancelFlag, std::int16_t(0));
        QVERIFY(m_form->ui.Command2->isEnabled() && m_form->ui.Command1->isVisible());
        // The next run is not cancelled.
        m_duringRun = nullptr;
        runMove();
        QCOMPARE(namesIn(src()), Names{"top.txt"});
    }

    // A cancel is seen at the next folder boundary (or, clicked during the survey, before anything
    // moves), with the events let through as the program does: a click waiting in the queue when a
    // folder ends is never left for a later folder.
    void cancelIsSeenAtTheNextFolderBoundary_data() {
        QTest::addColumn<bool>("duringSurvey");
        QTest::addColumn<QString>("shownFolder"); // the click comes as the source pane shows it
        QTest::addColumn<Names>("sourceAfter");
        QTest::addColumn<Names>("destinationAfter");
        const Names untouched{"A", "B", "C", "top.txt"};
        QTest::newRow("during the survey") << true << "C" << untouched << Names{"old.jpg"};
        QTest::newRow("during the first folder")
            << false << "A" << untouched << Names{"000000 a1.jpg", "000001 a2.JPG", "old.jpg"};
        // Taken at the next folder, which does not come: the run completes and deletes.
        QTest::newRow("during the last folder")
            << false << "C" << Names{"top.txt"}
            << Names{"000000 a1.jpg", "000001 a2.JPG", "000002 c.bmp", "old.jpg"};
    }
    void cancelIsSeenAtTheNextFolderBoundary() {
        QFETCH(bool, duringSurvey);
        QFETCH(QString, shownFolder);
        openForm(dst(), true, true);
        // Every folder shown, so that the click can come at a chosen one; events still pass only
        // at the program's own pace.
        MoveController::of(*m_form).setDisplayInterval(0);
        bool armed = true;
        connect(m_form->ui.Dir1, &FolderList::folderChanged, this, [&] {
            const bool surveying = m_form->ui.Label13->isVisible();
            if (!armed || surveying != duringSurvey ||
                m_form->ui.Dir1->path().filename() != shownFolder.toStdString())
                return;
            armed = false;
            QTimer::singleShot(0, m_form->ui.Command2,
                               [this] { QTest::mouseClick(m_form->ui.Command2, Qt::LeftButton); });
        });
        runMove();
        QVERIFY(!armed);
        QTEST(namesIn(src()), "sourceAfter");
        QTEST(namesIn(dst()), "destinationAfter");
        QCOMPARE(m_form->CancelFlag, std::int16_t(0));
        QVERIFY(m_form->ui.Command2->isEnabled() && m_form->ui.Command1->isVisible());
        // Nothing of the click is left over: the next run is not cancelled.
        writeContent(src() / "D" / "d.txt", "next run");
        QTest::qWait(20);
        runMove();
        QCOMPARE(namesIn(src()), Names{"top.txt"});
    }

    // After a cancel or a failure the heading names the last folder the run entered, however few
    // folders the display's pace showed (here none after the first paint).
    void label10NamesTheLastFolderEntered_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("label10");
        QTest::newRow("cancel during the survey") << "cancelSurveying"
                                                  << "C";
        QTest::newRow("cancel in the first folder") << "cancelInA"
                                                    << "A";
        // The counter file is found a folder at its next write, in the last folder.
        QTest::newRow("failure after the first folder") << "failInA"
                                                        << "C";
    }
    void label10NamesTheLastFolderEntered() {
        QFETCH(QString, event);
        openForm(dst(), false, true);
        MoveController::of(*m_form).setDisplayInterval(3600 * 1000);
        bool done = false;
        m_duringRun = [&] {
            const bool inA = m_form->PreviewPath.parent_path() == src() / "A";
            if (done || (event == "cancelSurveying" ? !m_form->ui.Label13->isVisible() : !inA))
                return;
            done = true;
            if (event == "failInA") // the counter file can no longer be written
                swapCounterFileForAFolder();
            else
                m_form->ui.Command2->click();
        };
        runMove();
        QVERIFY(done);
        QTEST(m_form->ui.Label10->text(), "label10");
        QCOMPARE(m_messages.shown.size(), std::size_t(event == "failInA" ? 1 : 0));
    }

    // A folder that changes during the survey is left with everything in it and named at the end;
    // the others are gathered and the window is idle again, the survey heading gone.
    void aFolderChangedDuringTheSurveyIsNamedAtTheEnd() {
        openForm(dst(), true, true);
        m_duringRun = [this] {
            if (m_form->ui.Label13->isVisible() && fs::exists(src() / "C"))
                fs::rename(src() / "C", root() / "C-elsewhere");
        };
        runMove();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        const std::string& text = m_messages.shown[0].text;
        QVERIFY2(text.find("変わったフォルダが1個") != std::string::npos, text.c_str());
        QVERIFY2(text.find("\n  C（") != std::string::npos, text.c_str());
        QVERIFY(!m_form->ui.Label13->isVisible());
        QVERIFY(m_form->ui.Command1->isVisible() && !m_form->ui.Command2->isVisible());
        QCOMPARE(m_form->BusyFlag, OptionValue::number(0));
        QCOMPARE(namesIn(dst()), (Names{"000000 a1.jpg", "000001 a2.JPG", "old.jpg"}));
        QCOMPARE(namesIn(root() / "C-elsewhere"), Names{"c.bmp"});
    }

    // The box shows the file in hand or, for one that is no picture, nothing: never a picture from
    // before, clicked or shown by the run while the decoder rests.
    void previewShowsNothingForAFileThatIsNoPicture_data() {
        QTest::addColumn<bool>("afterRunPictures");
        QTest::newRow("after a picture clicked") << false;
        QTest::newRow("right after pictures of the run") << true;
    }
    void previewShowsNothingForAFileThatIsNoPicture() {
        QFETCH(bool, afterRunPictures);
        fs::remove_all(src() / "C");
        if (!afterRunPictures) {
            fs::remove(src() / "A" / "a1.jpg");
            fs::remove(src() / "A" / "a2.JPG");
        }
        writeContent(src() / "A" / "notes2.txt", "more notes");
        writePicture(dst() / "clicked.jpg", {64, 48}, "JPG");
        openForm(dst(), false);
        m_form->ui.File2->setCurrentIndex(m_form->ui.File2->model()->index(0, 0));
        m_form->File2_Click();
        QVERIFY(m_form->ui.Image1->isVisible());
        bool waited = false;
        bool shownDuringTheRun = true;
        m_duringRun = [&] {
            if (waited || m_form->PreviewPath.filename() != "notes.txt")
                return;
            waited = true;
            QTest::qWait(200); // the decoder's result arrives
            shownDuringTheRun = m_form->ui.Image1->isVisible();
        };
        runMove();
        QVERIFY(waited);
        QVERIFY(!shownDuringTheRun);
    }

    // Downloads still arriving and names too long are left with their folders, and said in one
    // message at the end, with what to do.
    void filesLeftAreToldOnce() {
        const std::string longName = std::string(246, 'n') + ".jpg";
        writeContent(src() / "A" / "photo.jpg", "");
        writeContent(src() / "A" / "photo.jpg.part", "half a picture");
        writeContent(src() / "B" / longName, "long");
        openForm(dst(), true);
        runMove();
        QCOMPARE(namesIn(src()), (Names{"A", "B", "top.txt"}));
        QCOMPARE(namesIn(src() / "A"), (Names{"photo.jpg", "photo.jpg.part"}));
        QCOMPARE(namesIn(src() / "B"), Names{longName});
        QCOMPARE(namesIn(dst()), (Names{"000000 a1.jpg", "000001 a2.JPG", "000002 c.bmp", "old.jpg"}));
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        QCOMPARE(m_messages.shown[0].icon, MessageIcon::Information);
        const std::string& text = m_messages.shown[0].text;
        for (const std::string& part : {std::string("A/photo.jpg.part"), "B/" + longName,
                                        std::string("255 バイト"), std::string("名前を短くして")})
            QVERIFY2(text.find(part) != std::string::npos, text.c_str());
        QVERIFY(m_form->ui.Command1->isVisible());
    }

    // A failure tells the user which folder and why, then ends as a cancel: no folder is deleted.
    void failureShowsAMessageAndDeletesNoFolder() {
        openForm(dst(), true);
        // The counter file can no longer be written once the first folder has arrived.
        m_duringRun = [this] {
            if (namesIn(dst()).size() == 3 && !fs::is_directory(prog() / "Quillet.ini"))
                swapCounterFileForAFolder();
        };
        runMove();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        const std::string& text = m_messages.shown[0].text;
        QVERIFY2(text.find((prog() / "Quillet.ini").native()) != std::string::npos, text.c_str());
        QVERIFY2(text.find(std::strerror(EISDIR)) != std::string::npos, text.c_str());
        QCOMPARE(namesIn(src()), (Names{"A", "B", "C", "top.txt"}));
        QCOMPARE(namesIn(src() / "C"), Names{"c.bmp"});
        QCOMPARE(m_form->BusyFlag, OptionValue::number(0));
        QVERIFY(m_form->ui.Command1->isVisible());
    }

    // Refused before the window or a file is touched, with a message that says why and what to do.
    void refusedUntouched_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("advice");
        QTest::newRow("destination inside the source") << "inside"
                                                       << "src/A"
                                                       << "";
        QTest::newRow("trash folder a link") << "trashLink"
                                             << "home/.local/share/Trash"
                                             << "「ごみ箱を使わずに完全に削除する」";
    }
    void refusedUntouched() {
        QFETCH(QString, fault);
        QFETCH(QString, named);
        QFETCH(QString, advice);
        if (fault == "trashLink") {
            fs::create_directories(m_home->trash().parent_path());
            fs::create_directory_symlink(root() / "elsewhere", m_home->trash());
        }
        openForm(fault == "inside" ? src() / "A" : dst(), false);
        QPointer<QWidget> help;
        m_form->Form4.setFactory([&] { return help = new QWidget; });
        m_form->mnuHelp_Click();
        const auto before = census(root());
        runMove();
        QCOMPARE(m_messages.shown.size(), std::size_t(1));
        const QString text = QString::fromStdString(m_messages.shown[0].text);
        QVERIFY2(text.contains(QString::fromStdString((root() / named.toStdString()).native())),
                 qPrintable(text));
        QVERIFY2(text.contains(advice), qPrintable(text));
        QCOMPARE(census(root()), before);
        QVERIFY(help && help->isVisible());
        QVERIFY(m_form->BusyFlag.isEmpty());
        QVERIFY(m_form->ui.Command1->isVisible());
        QVERIFY(m_snapshots.empty());
    }

    // With the option of the options file, what goes is gone for good, and no trash is needed.
    // Corvalin.conf is read again as the run starts; one that cannot be read stops it before
    // anything is touched (the defaults would trash what was to go for good, or remove pictures of
    // a chosen type), said at start-up and again at the refusal.
    void optionsFileAtTheRunsStart_data() {
        QTest::addColumn<QString>("options"); // written before the window opens, or after ("later:")
        QTest::addColumn<bool>("runs");
        QTest::newRow("deletion for good") << "permanent_deletion=true\n" << true;
        QTest::newRow("changed after the window opened") << "later:permanent_deletion=true\n" << true;
        QTest::newRow("too large") << "large" << false;
        QTest::newRow("a link to a device") << "/dev/zero" << false;
    }
    void optionsFileAtTheRunsStart() {
        QFETCH(QString, options);
        QFETCH(bool, runs);
        const fs::path file = prog() / "Corvalin.conf";
        const auto write = [&] {
            if (options == "large")
                writeContent(file, std::string(2 << 20, '#'));
            else if (options.startsWith('/'))
                fs::create_symlink(options.toStdString(), file);
            else
                writeContent(file, options.mid(options.startsWith("later:") ? 6 : 0).toStdString());
        };
        if (!options.startsWith("later:"))
            write();
        openForm(dst(), true);
        QCoreApplication::processEvents(); // what the start-up has to say
        QCOMPARE(m_messages.shown.size(), std::size_t(runs ? 0 : 1));
        if (options.startsWith("later:"))
            write();
        runMove();
        QCOMPARE(namesIn(src()), runs ? Names{"top.txt"} : (Names{"A", "B", "C", "top.txt"}));
        QCOMPARE(namesIn(dst()).size(), std::size_t(runs ? 4 : 1));
        QVERIFY(!fs::exists(m_home->trash()));
        QCOMPARE(m_messages.shown.size(), std::size_t(runs ? 0 : 2));
        for (const ScriptedMessageBox::Shown& shown : m_messages.shown) {
            QVERIFY2(shown.text.find(file.native()) != std::string::npos, shown.text.c_str());
            QVERIFY2(shown.text.find("「詳細」タブ") != std::string::npos, shown.text.c_str());
        }
        QVERIFY(m_form->ui.Command1->isVisible() && !m_form->runInProgress());
    }

    // Closing stops the run after the file in hand; then the window closes and saves.
    void closeDuringTheRunStopsAndShutsDown() {
        openForm(dst(), true);
        m_duringRun = [this] {
            if (m_form->ui.Label11->text() == "3/4")
                m_form->close();
        };
        runMove();
        QVERIFY(!m_form->isVisible());
        QVERIFY(!m_form->runInProgress());
        QCOMPARE(namesIn(dst()), (Names{"000000 a1.jpg", "old.jpg"}));
        QCOMPARE(namesIn(src() / "A"), (Names{"a2.JPG", "notes.txt"}));
        QCOMPARE(contentOf(prog() / "Quillet.ini"), std::string("1\r\n"));
        QVERIFY(contentOf(prog() / "Corvalin.ini").ends_with(",0,1\r\n"));
    }

    // No file below the source parent folder: nothing moves, and the folder counts read 0/0.
    // Without child folders the count of files keeps what it showed; child folders without files
    // count it as their total over their total, 0/0.
    void sourceWithoutFiles_data() {
        QTest::addColumn<int>("childFolders");
        QTest::addColumn<QString>("label11");
        QTest::newRow("no child folders") << 0 << "7/9";
        QTest::newRow("child folders without files") << 3 << "0/0";
    }
    void sourceWithoutFiles() {
        QFETCH(int, childFolders);
        fs::remove_all(src());
        writeContent(src() / "loose.jpg", "stays");
        for (int n = 0; n < childFolders; ++n)
            fs::create_directories(src() / ("empty" + std::to_string(n)));
        openForm(dst(), true);
        m_form->ui.Label11->setText("7/9");
        // The survey heading shows even when there is nothing to survey, and goes again.
        ShowCounter label13;
        m_form->ui.Label13->installEventFilter(&label13);
        runMove();
        QVERIFY(label13.shown > 0);
        QVERIFY(!m_form->ui.Label13->isVisible());
        QCOMPARE(namesIn(src()), Names{"loose.jpg"});
        QCOMPARE(m_form->ui.Label6->text(), QString("0/0"));
        QTEST(m_form->ui.Label11->text(), "label11");
        QCOMPARE(m_form->ui.Label15->text(), QString("1"));
    }

    // Another destination chosen during a run: the following pictures go there, while the
    // destination lists and their count stay on the folder they showed.
    void destinationChosenDuringTheRunChangesNoList() {
        writeContent(root() / "dst2" / "x.jpg", "elsewhere");
        writeContent(root() / "dst2" / "y.jpg", "elsewhere too");
        openForm(dst(), false);
        QString during;
        m_duringRun = [&] {
            if (!during.isEmpty() || m_form->ui.Label10->text() != "A" || m_form->ui.Label13->isVisible())
                return;
            (void)m_form->ui.Dir2->setPath(root() / "dst2");
            const auto& ui = m_form->ui;
            during = QString::fromStdString(ui.File2->path().native() + " " + ui.File3->path().native()) +
                     " " + ui.Label15->text();
        };
        runMove();
        const QString before = QString::fromStdString(dst().native());
        QCOMPARE(during, before + " " + before + " 1");
        QCOMPARE(m_form->ui.Dir2->path(), root() / "dst2");
        QCOMPARE(m_form->ui.File2->path(), dst());
        QCOMPARE(namesIn(root() / "dst2").size(), std::size_t(5));
    }

    void noRunStartsInsideAnother() {
        openForm(dst(), false);
        QVERIFY(m_form->beginRun());
        runMove();
        QVERIFY(m_form->BusyFlag.isEmpty());
        QCOMPARE(namesIn(dst()), Names{"old.jpg"});
        m_form->endRun();
    }
};

QTEST_MAIN(TestMoveWindow)
#include "test_move_window.moc"
