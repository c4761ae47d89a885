// The options file beside the settings file: what a line means, what a rewrite keeps, and reading
// and writing it on disk.
#include "app/extra_options.h"
#include "platform/file_ops.h"

#include <QTemporaryDir>
#include <QTest>

using namespace corvalin;
namespace fs = std::filesystem;

class TestExtraOptions : public QObject {
    Q_OBJECT

private slots:
    // Read, then written back with the option switched on: unknown lines stay in their order and
    // the known key keeps its place.
    void readThenRewrite_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<QByteArray>("rewritten");
        QTest::newRow("no file yet") << QByteArray() << false << QByteArray("permanent_deletion=true\n");
        QTest::newRow("unknown keys and comments kept in order")
            << QByteArray("# mine\nplan=1\npermanent_deletion=false\nzzz = a=b\n") << false
            << QByteArray("# mine\nplan=1\npermanent_deletion=true\nzzz = a=b\n");
        QTest::newRow("blanks, CR LF, other spellings")
            << QByteArray(" permanent_deletion = Yes \r\nx=1\r\n") << true
            << QByteArray("permanent_deletion=true\nx=1\n");
        QTest::newRow("a value that is no yes or no")
            << QByteArray("permanent_deletion=perhaps\n") << false << QByteArray("permanent_deletion=true\n");
        QTest::newRow("repeated key: the last counts, written once")
            << QByteArray("permanent_deletion=1\nx\npermanent_deletion=off\n") << false
            << QByteArray("permanent_deletion=true\nx\n");
    }
    void readThenRewrite() {
        QFETCH(QByteArray, text);
        ExtraOptions options = decodeExtraOptions(text.toStdString());
        QTEST(options.permanentDeletion, "permanent");
        options.permanentDeletion = true;
        QTEST(QByteArray::fromStdString(encodeExtraOptions(options)), "rewritten");
    }

    // The picture types, the plan's options and the notification options: how they read, and how a rewrite
    // writes them.
    void newerKeys_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("types");
        QTest::addColumn<bool>("planFirst");
        QTest::addColumn<bool>("notify");
        QTest::addColumn<QByteArray>("rewritten");
        QTest::addColumn<bool>("skipDuplicates");
        QTest::addColumn<bool>("thumbnails");
        QTest::newRow("absent: defaults, not written")
            << QByteArray("permanent_deletion=false\n") << QByteArray() << false << true
            << QByteArray("permanent_deletion=false\n") << false << true;
        QTest::newRow("duplicates left out: written, as it differs from the default")
            << QByteArray("skip_duplicates=ON\n") << QByteArray() << false << true
            << QByteArray("skip_duplicates=true\npermanent_deletion=false\n") << true << true;
        QTest::newRow("duplicates moved again: the line stays, false")
            << QByteArray("skip_duplicates=no\n") << QByteArray() << false << true
            << QByteArray("skip_duplicates=false\npermanent_deletion=false\n") << false << true;
        QTest::newRow("listed in any case and order, unknown words dropped")
            << QByteArray("picture_types = TIFF, png ,jxl\nplan_before_move=yes\n") << QByteArray("png,tiff")
            << true << true
            << QByteArray("picture_types=png,tiff\nplan_before_move=true\npermanent_deletion=false\n")
            << false << true;
        QTest::newRow("emptied list kept as a line")
            << QByteArray("picture_types=\nplan_before_move=maybe\n") << QByteArray() << false << true
            << QByteArray("picture_types=\nplan_before_move=false\npermanent_deletion=false\n") << false
            << true;
        QTest::newRow("notifications off: written, as they differ from the default")
            << QByteArray("notify_long_runs = Off\n") << QByteArray() << false << false
            << QByteArray("notify_long_runs=false\npermanent_deletion=false\n") << false << true;
        QTest::newRow("a notification value that is no yes or no keeps them on")
            << QByteArray("notify_long_runs=later\n") << QByteArray() << false << true
            << QByteArray("notify_long_runs=true\npermanent_deletion=false\n") << false << true;
        QTest::newRow("the plan's pictures as a table: written, as it differs from the default")
            << QByteArray("plan_thumbnails=no\n") << QByteArray() << false << true
            << QByteArray("plan_thumbnails=false\npermanent_deletion=false\n") << false << false;
    }
    void newerKeys() {
        QFETCH(QByteArray, text);
        const ExtraOptions options = decodeExtraOptions(text.toStdString());
        QTEST(QByteArray::fromStdString(encodePictureTypes(options.pictureTypes)), "types");
        QTEST(options.planBeforeMove, "planFirst");
        QTEST(options.notifyLongRuns, "notify");
        QTEST(options.skipDuplicates, "skipDuplicates");
        QTEST(options.planThumbnails, "thumbnails");
        QTEST(QByteArray::fromStdString(encodeExtraOptions(options)), "rewritten");
    }

    void onDisk() {
        QTemporaryDir dir;
        const fs::path file = fs::path(dir.path().toStdString()) / "Corvalin.conf";
        Result<ExtraOptions> loaded = loadExtraOptions(file);
        QVERIFY(loaded.ok());
        QVERIFY(!loaded.value().permanentDeletion);
        QVERIFY(writeFileAtomically(file, "later=1\npermanent_deletion=true\n").ok());
        loaded = loadExtraOptions(file);
        QVERIFY(loaded.value().permanentDeletion);
        loaded.value().permanentDeletion = false;
        QVERIFY(saveExtraOptions(file, loaded.value()).ok());
        QCOMPARE(readWholeFile(file).value(), std::string("later=1\npermanent_deletion=false\n"));
        QVERIFY(fs::remove(file));
        fs::create_directory(file);
        QCOMPARE(loadExtraOptions(file).code(), EISDIR);
    }
};

QTEST_APPLESS_MAIN(TestExtraOptions)
#include "test_extra_options.moc"
