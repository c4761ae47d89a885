// The preview box: a click shows the picture fitted and decoded at the size shown; anything else
// leaves the box empty; the run's decoder keeps only the newest request and leaks nothing.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "preview/ui/picture_decoder.h"
#include "preview/ui/preview_decoder.h"
#include "scripted_message_box.h"
#include "temp_tree.h"

#include <QImage>
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

namespace {

void writePicture(const fs::path& file, QSize size, const char* format = "JPG") {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 80, 20));
    QVERIFY(image.save(QString::fromStdString(file.native()), format));
}

int openDescriptors() {
    return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

} // namespace

class TestPreview : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedMessageBox m_messages;
    Module1 m_vars;

    fs::path root() const { return pathOf(m_dir); }

private slots:
    // The box's inner area is 87 x 63 once the click has given it its border. The place is rounded
    // as the size is: a half pixel goes right and down.
    void clickShowsTheFittedPicture_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QRect>("placed");
        QTest::addColumn<bool>("stretch");
        QTest::newRow("wide camera picture") << QSize(4000, 3000) << "JPG" << QRect(3, 1, 84, 63) << true;
        QTest::newRow("tall picture") << QSize(300, 900) << "JPG" << QRect(34, 1, 21, 63) << true;
        // 11.0018 wide at 37.999: in the middle, not a pixel to the left.
        QTest::newRow("narrow picture") << QSize(95, 544) << "JPG" << QRect(39, 1, 11, 63) << true;
        QTest::newRow("small bitmap, natural size")
            << QSize(40, 30) << "BMP" << QRect(25, 18, 40, 30) << false;
        QTest::newRow("text file") << QSize() << "" << QRect() << false;
    }
    void clickShowsTheFittedPicture() {
        QFETCH(QSize, picture);
        QFETCH(QString, format);
        QFETCH(QRect, placed);
        QFETCH(bool, stretch);
        const fs::path folder = root() / format.toStdString();
        fs::create_directories(folder);
        if (picture.isValid())
            writePicture(folder / "shown.jpg", picture, format.toLatin1().constData());
        else
            writeFile(folder / "shown.jpg", "not a picture");
        Form1 form(m_vars, {root(), root()}, m_messages);
        QVERIFY(form.ui.Dir2->setPath(folder));
        form.ui.File2->setCurrentIndex(form.ui.File2->model()->index(0, 0));
        form.File2_Click();
        QCOMPARE(form.PreviewPath, folder / "shown.jpg");
        QVERIFY(!form.ui.Label12->isHidden());
        QCOMPARE(form.ui.Image1->isHidden(), !placed.isValid());
        if (!placed.isValid())
            return;
        QCOMPARE(form.ui.Image1->geometry(), placed);
        QCOMPARE(form.ui.Image1->hasScaledContents(), stretch);
        // Decoded at the size shown, never at a camera picture's full size.
        QVERIFY(form.ui.Image1->pixmap().width() <= placed.width());
        QVERIFY(m_messages.shown.empty());
    }

    void clickWhileBusyChangesNothing() {
        writePicture(root() / "a.jpg", {20, 20});
        Form1 form(m_vars, {root(), root()}, m_messages);
        QVERIFY(form.ui.Dir1->setPath(root()));
        QVERIFY(form.ui.File1->setPath(root()));
        form.ui.File1->setCurrentIndex(form.ui.File1->model()->index(0, 0));
        form.BusyFlag = OptionValue::number(1);
        form.File1_Click();
        QVERIFY(form.PreviewPath.empty());
        QVERIFY(form.ui.Label12->isHidden());
        QVERIFY(form.ui.Image1->pixmap().isNull());
    }

    // Requests much faster than pictures decode: older ones are dropped unread, the newest is
    // always decoded, and every descriptor is closed.
    void decoderKeepsOnlyTheNewest() {
        for (int i = 1; i <= 40; ++i)
            writePicture(root() / ("p" + std::to_string(i) + ".jpg"), QSize(800 + i, 600));
        const int descriptorsBefore = openDescriptors();
        {
            PreviewDecoder decoder;
            QSignalSpy decoded(&decoder, &PreviewDecoder::decoded);
            for (int i = 1; i <= 40; ++i)
                decoder.request(openPicture(root() / ("p" + std::to_string(i) + ".jpg")), QSize(87, 63), i);
            QTRY_VERIFY(!decoded.isEmpty() && decoded.last().at(1).value<std::uint64_t>() == 40);
            QVERIFY(decoded.size() < 40);
            QCOMPARE(decoded.last().at(0).value<PreparedPreview>().image.width(), 87);
        }
        QCOMPARE(openDescriptors(), descriptorsBefore);
    }

    // The newest request gives the result, an empty one for a file that is no picture or cannot be
    // opened, so the box never keeps an older picture.
    void newestResultCountsEmptyIncluded_data() {
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<bool>("picture");
        QTest::newRow("a text file after a picture") << QStringList{"a.jpg", "notes.txt"} << false;
        QTest::newRow("a file that cannot be opened") << QStringList{"a.jpg", "gone.jpg"} << false;
        QTest::newRow("a picture after a text file") << QStringList{"notes.txt", "a.jpg"} << true;
    }
    void newestResultCountsEmptyIncluded() {
        QFETCH(QStringList, requests);
        writePicture(root() / "a.jpg", {64, 48});
        writeFile(root() / "notes.txt", "not a picture");
        PreviewDecoder decoder;
        QSignalSpy decoded(&decoder, &PreviewDecoder::decoded);
        std::uint64_t generation = 0;
        for (const QString& name : requests)
            decoder.request(openPicture(root() / name.toStdString()), QSize(87, 63), ++generation);
        QTRY_VERIFY(!decoded.isEmpty() && decoded.last().at(1).value<std::uint64_t>() == generation);
        QTEST(!decoded.last().at(0).value<PreparedPreview>().image.isNull(), "picture");
    }

    // A request whose file was moved away after it was opened is still shown.
    void openedFileIsReadAfterItMoved() {
        writePicture(root() / "a.jpg", {64, 48});
        PreviewDecoder decoder;
        QSignalSpy decoded(&decoder, &PreviewDecoder::decoded);
        const int fd = openPicture(root() / "a.jpg");
        fs::rename(root() / "a.jpg", root() / "moved.jpg");
        fs::remove(root() / "moved.jpg");
        decoder.request(fd, QSize(87, 63), 1);
        QTRY_COMPARE(decoded.size(), 1);
    }

    // Destroyed with work queued and in hand: no hang, no descriptor left open.
    void decoderStopsCleanly() {
        writePicture(root() / "big.jpg", {3000, 2000});
        const int descriptorsBefore = openDescriptors();
        {
            PreviewDecoder decoder;
            for (int i = 0; i < 3; ++i)
                decoder.request(openPicture(root() / "big.jpg"), QSize(87, 63), 1);
        }
        QCOMPARE(openDescriptors(), descriptorsBefore);
    }
};

QTEST_MAIN(TestPreview)
#include "test_preview.moc"
