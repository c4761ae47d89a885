// The plan's thumbnails kept within their memory budget, whatever order and however often the
// workers deliver them.
#include "plan/ui/thumbnail_store.h"
#include "preview/ui/thumbnail_workers.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvalin;
namespace fs = std::filesystem;

class TestThumbnailStore : public QObject {
    Q_OBJECT

private slots:
    // A picture asked for again while a worker had it in hand arrives twice; old thumbnails go
    // once the budget is full, and a gone one shows its placeholder until it is made again.
    void keptWithinBudget() {
        QTemporaryDir dir;
        ThumbnailWorkers workers(fs::path(dir.path().toStdString()) / "thumbnails");
        ThumbnailStore store(workers);
        store.reset(3000, [](int item) { return fs::path("/nowhere") / std::to_string(item); });
        // The workers number their clients from 1: the store took one when made, one on reset.
        const quint64 client = 2;
        QImage thumbnail(128, 128, QImage::Format_ARGB32);
        thumbnail.fill(Qt::red);
        for (int item = 0; item < 3000; ++item) {
            emit workers.made(client, item, thumbnail);
            if (item % 3 == 0)
                emit workers.made(client, item, thumbnail);
        }
        emit workers.made(client + 1, 5, thumbnail); // another client's: not taken
        QVERIFY(store.isMade(2999));
        QVERIFY(!store.isMade(0));
        int made = 0;
        for (int item = 0; item < 3000; ++item)
            made += store.isMade(item) ? 1 : 0;
        QVERIFY2(made > 500 && made < 1100, qPrintable(QString::number(made)));
        QCOMPARE(store.pixmap(0).toImage().pixelColor(64, 64).alpha(), 0);
        emit workers.made(client, 0, QImage());
        QVERIFY(store.isFailed(0));
    }
};

QTEST_MAIN(TestThumbnailStore)
#include "test_thumbnail_store.moc"
