#include "platform/paths.h"

#include <QTest>

using namespace corvalin;

class TestPaths : public QObject {
    Q_OBJECT

private slots:
    void joinPathPutsOneSlash_data() {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("joined");
        QTest::newRow("plain") << QByteArray("/home/u") << QByteArray("a.jpg") << QByteArray("/home/u/a.jpg");
        QTest::newRow("trailing slash")
            << QByteArray("/home/u/") << QByteArray("a.jpg") << QByteArray("/home/u/a.jpg");
        QTest::newRow("root") << QByteArray("/") << QByteArray("a.jpg") << QByteArray("/a.jpg");
        QTest::newRow("non-UTF-8 name")
            << QByteArray("/d") << QByteArray("\x93\xfa.jpg") << QByteArray("/d/\x93\xfa.jpg");
    }
    void joinPathPutsOneSlash() {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, joined);
        QCOMPARE(QByteArray::fromStdString(joinPath(folder.toStdString(), name.toStdString()).native()),
                 joined);
    }

    void ownNameIsLastComponent_data() {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << QByteArray("/home/u/pics") << QByteArray("pics");
        QTest::newRow("trailing slash") << QByteArray("/home/u/pics/") << QByteArray("pics");
        QTest::newRow("root") << QByteArray("/") << QByteArray("/");
        QTest::newRow("relative") << QByteArray("pics") << QByteArray("pics");
    }
    void ownNameIsLastComponent() {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, name);
        QCOMPARE(QByteArray::fromStdString(ownName(folder.toStdString())), name);
    }

    void isSameOrBelowComparesComponents_data() {
        QTest::addColumn<QByteArray>("inner");
        QTest::addColumn<QByteArray>("outer");
        QTest::addColumn<bool>("below");
        QTest::newRow("same") << QByteArray("/mnt/a") << QByteArray("/mnt/a") << true;
        QTest::newRow("same, trailing slash") << QByteArray("/mnt/a/") << QByteArray("/mnt/a") << true;
        QTest::newRow("child") << QByteArray("/mnt/a/b") << QByteArray("/mnt/a/") << true;
        QTest::newRow("string prefix only") << QByteArray("/mnt/ab") << QByteArray("/mnt/a") << false;
        QTest::newRow("parent") << QByteArray("/mnt") << QByteArray("/mnt/a") << false;
        QTest::newRow("dot-dot climbs out") << QByteArray("/mnt/a/../b") << QByteArray("/mnt/a") << false;
        QTest::newRow("below root") << QByteArray("/x") << QByteArray("/") << true;
    }
    void isSameOrBelowComparesComponents() {
        QFETCH(QByteArray, inner);
        QFETCH(QByteArray, outer);
        QFETCH(bool, below);
        QCOMPARE(isSameOrBelow(inner.toStdString(), outer.toStdString()), below);
    }
};

QTEST_APPLESS_MAIN(TestPaths)
#include "test_paths.moc"
