// The plan's pictures as thumbnails: the grid shows each picture (the cache's thumbnail when it is
// valid, one decoded and stored otherwise), its choice is the table's, the switch is kept, each
// duplicate stands beside its twin, and after the window's run the entries follow the pictures.
#include "app/ui/form1.h"
#include "engine/ui/move_controller.h"
#include "history/journal_codec.h"
#include "move_fixture.h"
#include "own_trash.h"
#include "plan/ui/frm_plan.h"
#include "plan/ui/large_picture.h"
#include "plan/ui/picture_grid.h"
#include "plan/ui/plan_thumbnails.h"
#include "preview/png_text.h"
#include "preview/thumbnail_cache.h"
#include "preview/thumbnail_names.h"
#include "preview/ui/thumbnail_service.h"
#include "scripted_message_box.h"

#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include <sys/stat.h>

using namespace corvalin;
using namespace corvalin::test;
namespace fs = std::filesystem;

namespace {

void writePicture(const fs::path& file, QColor colour, QSize size = {400, 300}, const char* format = "JPG") {
    fs::create_directories(file.parent_path());
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&bytes, format));
    QVERIFY(writeContent(file, bytes.data().toStdString()));
}

PictureStamp stampNow(const fs::path& file) {
    struct stat info {};
    ::lstat(file.c_str(), &info);
    return stampOf(file, info);
}

std::string solidPng(QColor colour, QSize size) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    image.save(&bytes, "PNG");
    return bytes.data().toStdString();
}

// The JPEG with an Exif block saying its camera was turned a quarter to the right (orientation 6).
std::string turnedJpeg(const std::string& jpeg) {
    const std::string tiff("MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    const std::string exif = std::string("Exif\0\0", 6) + tiff;
    const std::string segment =
        std::string("\xff\xe1", 2) + char((exif.size() + 2) >> 8) + char((exif.size() + 2) & 0xFF) + exif;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

// A PNG that says it is 20,000 pixels square: beyond what Qt may allocate for one picture.
std::string hugePngHeader() {
    std::string header("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x4e\x20\0\0\x4e\x20\x08\x02\0\0\0", 29);
    const std::uint32_t crc = crc32(std::string_view(header).substr(12));
    for (int shift = 24; shift >= 0; shift -= 8)
        header += char((crc >> shift) & 0xFF);
    return header + std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12);
}

bool near(QColor shown, QColor expected) {
    return std::abs(shown.red() - expected.red()) < 40 && std::abs(shown.green() - expected.green()) < 40 &&
           std::abs(shown.blue() - expected.blue()) < 40;
}

} // namespace

class TestPlanThumbnails : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnHome> m_home;
    ScriptedMessageBox m_messages;
    Module1 m_vars;
    std::unique_ptr<Form1> m_form;

    fs::path root() const { return m_dir->path().toStdString(); }
    fs::path src() const { return root() / "src"; }
    fs::path dst() const { return root() / "dst"; }
    fs::path cache() const { return root() / "cache/thumbnails"; }
    fs::path red() const { return src() / "a/red.jpg"; }
    fs::path blue() const { return src() / "a/blue.jpg"; }
    fs::path sjis() const { return src() / "b/\x82\xa0.jpg"; }
    fs::path broken() const { return src() / "b/broken.jpg"; }
    fs::path huge() const { return src() / "b/huge.png"; }

    void openForm(const std::string& options) {
        writeContent(root() / "prog" / "Corvalin.ini",
                     "\"" + src().native() + "\",\"" + dst().native() + "\",\"\",0,1\r\n");
        writeContent(root() / "prog" / "Corvalin.conf",
                     "picture_types=png\nskip_duplicates=true\n" + options);
        m_vars = Module1{};
        m_form = std::make_unique<Form1>(m_vars, SettingsFiles{root() / "prog", root() / "prog"}, m_messages);
        m_form->frmPlan.setFactory([this] { return createPlanWindow(*m_form); });
        QVERIFY(m_form->Form_Load());
        m_form->show();
        MoveController::of(*m_form).setYieldInterval(0);
    }

    // The plan window of the menu, made; nothing when it did not come.
    frmPlan* openPlan() {
        m_form->ui.mnuPlan->trigger();
        auto* window = qobject_cast<frmPlan*>(m_form->frmPlan.window());
        if (!window)
            return nullptr;
        window->resize(900, 700);
        QTest::qWaitFor([window] { return window->plan() && !window->isPlanning(); }, 30000);
        return window->plan() && !window->isPlanning() ? window : nullptr;
    }

    int rowOf(const frmPlan& window, const fs::path& file) {
        for (std::size_t row = 0; row < window.plan()->pictures.size(); ++row) {
            if (window.plan()->pictures[row].from == file.native())
                return int(row);
        }
        return -1;
    }

    // The colour in the middle of the thumbnail the grid shows for `file`.
    QColor gridColour(frmPlan& window, const fs::path& file) {
        PictureGrid* grid = window.thumbnails->lstPictures;
        const QModelIndex index = grid->model()->index(rowOf(window, file), 1);
        grid->scrollTo(index);
        const QRect cell = grid->visualRect(index);
        return grid->viewport()->grab().toImage().pixelColor(cell.center().x(), cell.top() + 6 + 64);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_home = std::make_unique<OwnHome>(root() / "home");
        ::setenv("XDG_CACHE_HOME", (root() / "cache").c_str(), 1);
        fs::create_directories(dst());
        writePicture(red(), Qt::red);
        writePicture(blue(), Qt::blue, {300, 400});
        writePicture(sjis(), Qt::green);
        QVERIFY(writeContent(broken(), "not a picture"));
        QVERIFY(writeContent(huge(), hugePngHeader()));
        writePicture(src() / "b/twin.png", Qt::yellow, {200, 200}, "PNG");
        fs::copy_file(src() / "b/twin.png", dst() / "twin there.png");
        m_messages = ScriptedMessageBox{};
    }
    void cleanup() {
        m_form.reset();
        m_home.reset();
        fs::remove_all(root()); // QTemporaryDir cannot remove a name that is not UTF-8
    }

    // Each picture is shown and its thumbnail stored where the desktop looks; the one that is no
    // picture and the one too large to decode get a placeholder and a failure entry.
    void gridShowsEveryPicture() {
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        QCOMPARE(window->thumbnails->stkPictures->currentIndex(), 1);
        QVERIFY(window->thumbnails->lstPictures->isVisible());
        const std::pair<fs::path, QColor> shown[] = {
            {red(), Qt::red}, {blue(), Qt::blue}, {sjis(), Qt::green}};
        for (const auto& [file, colour] : shown)
            QTRY_VERIFY2(near(gridColour(*window, file), colour), file.c_str());
        ThumbnailCache stored(cache());
        for (const auto& [file, colour] : shown)
            QTRY_VERIFY2(stored.find(ThumbnailFolder::Normal, stampNow(file)), file.c_str());
        for (const fs::path& file : {broken(), huge()}) {
            QTRY_VERIFY2(stored.find(ThumbnailFolder::Failures, stampNow(file)), file.c_str());
            // The crossed placeholder: grey where its lines meet.
            QTRY_VERIFY2(near(gridColour(*window, file), QColor(0x5d, 0x5d, 0x5d)),
                         qPrintable(gridColour(*window, file).name()));
            QVERIFY(!fs::exists(cache() / "normal" / thumbnailFileName(fileUri(file))));
        }
        QVERIFY(m_messages.shown.empty());
    }

    // A picture its camera marks as turned is shown, and stored, upright.
    void turnedPictureUpright() {
        QVERIFY(writeContent(red(), turnedJpeg(contentOf(red()))));
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        ThumbnailCache stored(cache());
        QTRY_VERIFY(stored.find(ThumbnailFolder::Normal, stampNow(red())));
        const std::string png = *stored.find(ThumbnailFolder::Normal, stampNow(red()));
        const QImage thumbnail =
            QImage::fromData(reinterpret_cast<const uchar*>(png.data()), int(png.size()));
        QCOMPARE(thumbnail.size(), QSize(96, 128));
        QCOMPARE(*textValue(*readPngText(png), "Thumb::Image::Width"), std::string("300"));
    }

    // A cache folder that is a link is neither read nor written, and nothing is said of it: the
    // pictures are shown all the same.
    void linkedCacheLeftAlone() {
        const fs::path elsewhere = root() / "elsewhere";
        fs::create_directories(elsewhere);
        fs::create_directories(cache().parent_path());
        fs::create_directory_symlink(elsewhere, cache());
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        QTRY_VERIFY(near(gridColour(*window, red()), Qt::red));
        QTRY_VERIFY(near(gridColour(*window, blue()), Qt::blue));
        QVERIFY(fs::is_empty(elsewhere));
        QVERIFY(m_messages.shown.empty());
    }

    // The desktop's valid thumbnail is used as it is, not decoded again; one out of date or
    // damaged is made again.
    void cacheUsedWhileValid() {
        ThumbnailCache placed(cache());
        QVERIFY(placed.store(ThumbnailFolder::Large, stampNow(red()), solidPng(Qt::black, {256, 192})));
        PictureStamp older = stampNow(blue());
        --older.mtime;
        QVERIFY(placed.store(ThumbnailFolder::Normal, older, solidPng(Qt::black, {96, 128})));
        QVERIFY(writeContent(cache() / "normal" / thumbnailFileName(fileUri(sjis())), "\x89PNG damaged"));
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        QTRY_VERIFY(near(gridColour(*window, blue()), Qt::blue));
        QTRY_VERIFY(near(gridColour(*window, sjis()), Qt::green));
        QVERIFY(near(gridColour(*window, red()), Qt::black));
        QTRY_VERIFY(placed.find(ThumbnailFolder::Normal, stampNow(blue())));
        QTRY_VERIFY(placed.find(ThumbnailFolder::Normal, stampNow(sjis())));
        QVERIFY(!placed.find(ThumbnailFolder::Normal, stampNow(red())));
    }

    // Choosing a thumbnail chooses its row in the table and shows the picture larger; choosing a
    // row chooses its thumbnail.
    void choiceSharedWithTheTable() {
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        PictureGrid* grid = window->thumbnails->lstPictures;
        const int row = rowOf(*window, blue());
        grid->setCurrentIndex(grid->model()->index(row, 1));
        QCOMPARE(window->tblPictures->currentIndex().row(), row);
        QVERIFY(window->tblPictures->selectionModel()->isRowSelected(row, {}));
        QCOMPARE(window->thumbnails->picLarger->picture(), blue());
        QTRY_VERIFY(window->thumbnails->picLarger->isShown());
        window->tblPictures->selectRow(rowOf(*window, red()));
        QCOMPARE(grid->currentIndex().row(), rowOf(*window, red()));
        QCOMPARE(window->thumbnails->picLarger->picture(), red());
    }

    // Each duplicate beside the picture in the destination that it equals.
    void duplicateBesideItsTwin() {
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        window->tabTables->setCurrentIndex(2);
        QTableView* table = window->tblDuplicates;
        QCOMPARE(table->model()->rowCount(), 1);
        for (int column : {0, 1}) {
            QTRY_VERIFY2(
                near(qvariant_cast<QPixmap>(table->model()->index(0, column).data(Qt::DecorationRole))
                         .toImage()
                         .pixelColor(64, 64),
                     Qt::yellow),
                qPrintable(QString::number(column)));
        }
    }

    // Switched off, the tables show alone and the choice is in Corvalin.conf for the next plan.
    void switchKept() {
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        window->thumbnails->chkThumbnails->click();
        QCOMPARE(window->thumbnails->stkPictures->currentIndex(), 0);
        QVERIFY(window->tblPictures->isVisible());
        QVERIFY(!window->tblDuplicates->model()->index(0, 0).data(Qt::DecorationRole).isValid());
        QVERIFY(contentOf(root() / "prog/Corvalin.conf").find("plan_thumbnails=false\n") !=
                std::string::npos);
        m_form->frmPlan.close();
        QTRY_VERIFY(!m_form->frmPlan.window());
        window = openPlan();
        QVERIFY(window);
        QVERIFY(!window->thumbnails->chkThumbnails->isChecked());
        QCOMPARE(window->thumbnails->stkPictures->currentIndex(), 0);
    }

    // After the window's run the entries made for the plan stand under the pictures' new names.
    void entriesFollowTheRun() {
        openForm("");
        frmPlan* window = openPlan();
        QVERIFY(window);
        ThumbnailCache stored(cache());
        for (const fs::path& file : {red(), blue(), sjis()})
            QTRY_VERIFY(stored.find(ThumbnailFolder::Normal, stampNow(file)));
        const std::vector<PlanPicture> pictures = window->plan()->pictures;
        window->cmdRun->click();
        QTRY_COMPARE(int(namesIn(dst()).size()), 6);
        ThumbnailService::of(*m_form).waitForFollowing();
        for (const PlanPicture& picture : pictures) {
            if (picture.from == broken().native() || picture.from == huge().native())
                continue;
            QVERIFY2(stored.find(ThumbnailFolder::Normal, stampNow(dst() / picture.newName)),
                     picture.newName.c_str());
            QVERIFY(!fs::exists(cache() / "normal" / thumbnailFileName(fileUri(picture.from))));
        }
    }
};

QTEST_MAIN(TestPlanThumbnails)
#include "test_plan_thumbnails.moc"
