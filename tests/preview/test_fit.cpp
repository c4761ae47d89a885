// The preview fit: never enlarged, shrunk with the aspect ratio kept, centred.
#include "preview/fit.h"

#include <QtTest>

using namespace corvalin;

class TestFit : public QObject {
    Q_OBJECT
private slots:
    void fit_data() {
        QTest::addColumn<float>("pictureWidth");
        QTest::addColumn<float>("pictureHeight");
        QTest::addColumn<QRectF>("placed");
        QTest::addColumn<bool>("stretch");
        // Box 1200 x 900 in every case.
        QTest::newRow("wide: width fit") << 3000.f << 2000.f << QRectF(0, 50, 1200, 800) << true;
        QTest::newRow("tall: height fit") << 1000.f << 3000.f << QRectF(450, 0, 300, 900) << true;
        QTest::newRow("small: natural size") << 600.f << 400.f << QRectF(300, 250, 600, 400) << false;
        QTest::newRow("exact fit") << 1200.f << 900.f << QRectF(0, 0, 1200, 900) << false;
        QTest::newRow("both fits in turn") << 2400.f << 3600.f << QRectF(300, 0, 600, 900) << true;
        QTest::newRow("one pixel") << 1.f << 1.f << QRectF(599.5, 449.5, 1, 1) << false;
    }
    void fit() {
        QFETCH(float, pictureWidth);
        QFETCH(float, pictureHeight);
        QFETCH(QRectF, placed);
        QFETCH(bool, stretch);
        const PreviewPlacement result = fitPreview(1200, 900, pictureWidth, pictureHeight);
        QCOMPARE(QRectF(result.left, result.top, result.width, result.height), placed);
        QCOMPARE(result.stretch, stretch);
    }
};

QTEST_APPLESS_MAIN(TestFit)
#include "test_fit.moc"
