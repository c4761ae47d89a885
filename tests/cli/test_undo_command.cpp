// `corvalin history` and `corvalin undo` as a user meets them: the built program in a process of
// its own, undoing gathers it made, whole and after a stop signal.
#include "cli_fixture.h"

#include <QtTest>

#include <csignal>

using namespace corvalin;
using namespace corvalin::test;

namespace {

using Tree = std::map<std::string, std::string>;

QStringList linesOf(const QByteArray& out) {
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The id a line of `corvalin history` starts with.
QString idOf(const QString& historyLine) {
    return historyLine.section(QStringLiteral("  "), 0, 0);
}

} // namespace

class TestUndoCommand : public QObject {
    Q_OBJECT

    ProgramCopy m_copy;

    fs::path prog() const { return m_copy.prog(); }
    fs::path root() const { return m_copy.root(); }
    QString at(const char* name) const { return QString::fromStdString((root() / name).native()); }

    // Its lines; a failed `history` gives one line that fails every check made of it.
    QStringList history() {
        const ProgramRun run = runProgram(prog(), {"history"});
        return run.exitCode == 0 ? linesOf(run.out) : QStringList{"status " + QString::number(run.exitCode)};
    }

private slots:
    void initTestCase() { QVERIFY(m_copy.install()); }
    void init() { m_copy.reset(); }

    // A gather undone by its id brings back every name and byte; a later run is left alone; what
    // was deleted for good is named and the status says so; undoing again says it was undone.
    void undoBringsTheTreeBack_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<bool>("deleteFolders");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("lost"); // below the test's folder
        QTest::newRow("Trash, folders kept") << QByteArray() << false << 0 << QString();
        QTest::newRow("Trash, folders removed") << QByteArray() << true << 0 << QString();
        QTest::newRow("for good") << QByteArray("permanent_deletion=true\n") << false << 4
                                  << QString("src/a/notes.txt");
    }
    void undoBringsTheTreeBack() {
        QFETCH(QByteArray, options);
        QFETCH(bool, deleteFolders);
        QFETCH(int, status);
        QFETCH(QString, lost);
        makeTree(root());
        QVERIFY(writeContent(root() / "more/x/late.jpg", pictureContent("late")));
        if (!options.isEmpty())
            QVERIFY(writeContent(prog() / "Corvalin.conf", options.toStdString()));
        Tree source = treeOf(root() / "src");
        const Tree destination = treeOf(root() / "dst");
        QStringList gather = {"gather", at("src"), at("dst")};
        if (deleteFolders)
            gather << "--delete-folders";
        QCOMPARE(runProgram(prog(), gather).exitCode, 0);
        QCOMPARE(runProgram(prog(), {"gather", at("more"), at("dst")}).exitCode, 0);
        const QStringList runs = history();
        QCOMPARE(runs.size(), 2);
        QVERIFY2(runs[1].contains(at("src") + " → " + at("dst") + "  画像 5  ") && runs[1].endsWith("  完了"),
                 qPrintable(runs[1]));

        const ProgramRun undo = runProgram(prog(), {"undo", idOf(runs[1])});
        QCOMPARE(undo.exitCode, status);
        QVERIFY2(undo.out.startsWith("元に戻しました。\n"), undo.out.constData());
        if (!lost.isEmpty()) {
            QCOMPARE(QString::fromUtf8(undo.err), "corvalin: ごみ箱を使わずに削除されていて、戻せないもの: " +
                                                      at(qPrintable(lost)) + "\n");
            source.erase(lost.mid(4).toStdString());
        }
        QVERIFY(treeOf(root() / "src") == source);
        Tree withLate = treeOf(root() / "dst");
        QCOMPARE(withLate.size(), destination.size() + 1);
        QCOMPARE(int(std::erase_if(withLate,
                                   [](const auto& entry) { return entry.first.ends_with(" late.jpg"); })),
                 1);
        QVERIFY(withLate == destination);
        QVERIFY(history().value(1).endsWith("  取り消し済み"));

        const ProgramRun again = runProgram(prog(), {"undo", idOf(runs[1])});
        QCOMPARE(again.exitCode, status);
        QVERIFY2(again.out.startsWith("この実行はすでに取り消されています。"), again.out.constData());
        QVERIFY(again.out.contains("前回までに戻っていたもの"));
    }

    // A strip from the command line is journaled as the window's is: listed, counting only the
    // files it renamed (pictures or not), and undone name for name; a strip that changed nothing
    // leaves no run. A line break in a name is shown as the window and the plan show it.
    void stripIsListedAndUndone() {
        for (const char* file : {"000001 a.jpg", "000002 b.txt", "a.jpg", "c.jpg"})
            QVERIFY(writeContent(root() / "st\nrip" / file, file));
        const Tree before = treeOf(root() / "st\nrip");
        QCOMPARE(runProgram(prog(), {"strip", at("st\nrip")}).exitCode, 4); // a.jpg is taken
        const QStringList runs = history();
        QCOMPARE(runs.size(), 1);
        QVERIFY2(runs[0].contains("  番号の削除  " + at("st<LF>rip") + "  ファイル 1  ") &&
                     runs[0].endsWith("  完了"),
                 qPrintable(runs[0]));
        QCOMPARE(runProgram(prog(), {"strip", at("st\nrip")}).exitCode, 4);
        QCOMPARE(history().size(), 1);

        const ProgramRun undo = runProgram(prog(), {"undo", idOf(runs[0])});
        QCOMPARE(undo.exitCode, 0);
        QVERIFY(treeOf(root() / "st\nrip") == before);
        QVERIFY(history().value(0).endsWith("  取り消し済み"));
    }

    // After a power cut that left the running flag set and the counter file empty, undo first
    // restores the counter from the journal and the destination, says so, and ends the session as
    // a shutdown would; then it undoes the run as ever.
    void undoAfterPowerCutRestoresTheCounter() {
        makeTree(root());
        const Tree source = treeOf(root() / "src");
        QCOMPARE(runProgram(prog(), {"gather", at("src"), at("dst")}).exitCode, 0);
        const std::string counter = contentOf(prog() / "Quillet.ini");
        writeSettings(prog(), root() / "src", root() / "dst", 1, 0, 0);
        QVERIFY(writeContent(prog() / "Quillet.ini", ""));

        const ProgramRun undo = runProgram(prog(), {"undo"});
        QCOMPARE(undo.exitCode, 0);
        QVERIFY2(undo.err.contains("通し番号を") && undo.err.contains("Quillet.ini"), undo.err.constData());
        QCOMPARE(contentOf(prog() / "Quillet.ini"), counter);
        QVERIFY(contentOf(prog() / "Corvalin.ini").ends_with(",0,0\r\n"));
        QCOMPARE(treeOf(root() / "src"), source);
        // Nothing is left to say at the next start.
        QVERIFY(runProgram(prog(), {"undo"}).err.indexOf("通し番号を") < 0);
    }

    // A journal that does not read is listed as such, and undoing it names the file and changes
    // nothing.
    void damagedJournalIsNamed() {
        const fs::path journal = prog() / "history/20200101-000000.journal";
        QVERIFY(writeContent(journal, "not a journal\n"));
        const QStringList runs = history();
        QCOMPARE(runs.size(), 1);
        QVERIFY2(runs[0].startsWith("20200101-000000  ") && runs[0].endsWith("  記録が壊れています"),
                 qPrintable(runs[0]));
        const ProgramRun undo = runProgram(prog(), {"undo", "20200101-000000"});
        QCOMPARE(undo.exitCode, 1);
        QCOMPARE(undo.err.count('\n'), 1);
        QVERIFY2(undo.err.contains(journal.c_str()), undo.err.constData());
        QCOMPARE(contentOf(journal), std::string("not a journal\n"));
    }

    // A journal cut within its last record is undone as far as it reads; the command says where
    // it ends and that the rest was not undone, with status 4.
    void cutJournalIsUndoneAsFarAsItReads() {
        makeTree(root());
        const Tree source = treeOf(root() / "src");
        QCOMPARE(runProgram(prog(), {"gather", at("src"), at("dst")}).exitCode, 0);
        const fs::path journal = fs::directory_iterator(prog() / "history")->path();
        const std::string bytes = contentOf(journal);
        QVERIFY(writeContent(journal, bytes.substr(0, bytes.size() - 5)));
        const ProgramRun undo = runProgram(prog(), {"undo"});
        QCOMPARE(undo.exitCode, 4);
        QVERIFY2(undo.out.contains("行目までしか読めません"), undo.out.constData());
        QVERIFY(treeOf(root() / "src") == source);
    }

    // Stopped after the item in hand, the undo says how to go on; undoing again brings back the
    // rest, and nothing is lost or doubled on the way.
    void undoStoppedBySignalGoesOn() {
        constexpr int kFolders = 60;
        constexpr int kPerFolder = 50;
        for (int f = 0; f < kFolders; ++f) {
            for (int p = 0; p < kPerFolder; ++p) {
                const std::string name = std::to_string(f) + "/" + std::to_string(p) + ".jpg";
                QVERIFY(writeContent(root() / "src" / name, pictureContent(name)));
            }
        }
        fs::create_directories(root() / "dst");
        const Tree before = treeOf(root() / "src");
        QCOMPARE(runProgram(prog(), {"gather", at("src"), at("dst")}).exitCode, 0);
        // Undoing is only renames, over in milliseconds on a memory file system: held at its first
        // rename back into the source, it is signalled in the middle.
        const auto run = runSignalledAtFirstMove(prog(), {"undo"}, root() / "src", SIGINT);
        if (!run)
            QSKIP("this system cannot hold a program at a rename");
        const ProgramRun& stopped = *run;
        QVERIFY(stopped.signalled);
        QVERIFY2(stopped.out.startsWith("元に戻す処理を途中で止めました。もう一度 corvalin undo "),
                 stopped.out.constData());
        QCOMPARE(namesIn(root() / "dst").size(), std::size_t(kFolders * kPerFolder - 1));
        QVERIFY(history().value(0).endsWith("  取り消し中断"));

        const ProgramRun rest = runProgram(prog(), {"undo"});
        QCOMPARE(rest.exitCode, 0);
        QVERIFY(rest.out.contains("前回までに戻っていたもの"));
        QVERIFY(treeOf(root() / "src") == before);
        QVERIFY(namesIn(root() / "dst").empty());
    }
};

QTEST_MAIN(TestUndoCommand)
#include "test_undo_command.moc"
