// The command line as a user meets it: the built program, copied into a temporary folder so that
// its settings files live there, run with arguments. Exit statuses and messages, a gather compared
// with the window's run over the same tree, a stop signal in the middle of a gather, and output to
// a terminal and to a pipe that closes early.
#include "app/ui/form1.h"
#include "child_process.h"
#include "cli_fixture.h"
#include "engine/ui/move_controller.h"
#include "naming/serial_name.h"
#include "platform/instance_lock.h"
#include "scripted_message_box.h"

#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/wait.h>

using namespace corvalin;
using namespace corvalin::test;

namespace {

// With the serial prefix one byte longer than a file system takes.
const std::string kLongName = std::string(245, 'n') + ".jpg";

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    ProgramCopy m_copy;

    fs::path prog() const { return m_copy.prog(); }
    fs::path root() const { return m_copy.root(); }

    QString placed(QString argument) const {
        for (const char* name : {"src", "dst", "file", "missing", "strip", "dl", "long", "fifo"})
            argument.replace(QStringLiteral("{%1}").arg(name),
                             QString::fromStdString((root() / name).native()));
        return argument;
    }

private slots:
    void initTestCase() { QVERIFY(m_copy.install()); }
    void init() { m_copy.reset(); }

    void statusAndMessages_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const auto row = [](const char* name, QStringList arguments, int status, const char* out,
                            const char* err, bool locked = false) {
            QTest::newRow(name) << arguments << locked << status << QString::fromUtf8(out)
                                << QString::fromUtf8(err);
        };
        row("version", {"--version"}, 0, "corvalin 1.3.0\n", "");
        row("help", {"--help"}, 0, "strip FOLDER", "");
        row("help names the stop signals' statuses", {"--help"}, 0, "shell shows status 130, 143 or 129", "");
        row("command help", {"gather", "-h"}, 0,
            "Usage: corvalin gather [--delete-folders] [--plan] [SOURCE DEST]", "");
        row("unknown option", {"--bogus"}, 2, "", "Unknown option 'bogus'");
        row("option of another command", {"strip", "--delete-folders", "{strip}"}, 2, "", "'delete-folders'");
        row("unknown command", {"frobnicate"}, 2, "", "'frobnicate' is no command");
        row("one folder of two", {"gather", "{src}"}, 2, "", "give both SOURCE and DEST");
        // An empty name would be the working folder.
        row("empty SOURCE", {"gather", "", "{dst}"}, 2, "", "SOURCE and DEST must not be empty");
        row("empty FOLDER", {"strip", ""}, 2, "", "FOLDER must not be empty");
        row("strip without a folder", {"strip"}, 2, "", "give one FOLDER");
        row("same folder", {"gather", "{src}", "{src}/"}, 1, "中止", "移動元親フォルダと同じ");
        row("missing source", {"gather", "{missing}", "{dst}"}, 1, "中止", "{missing}: ");
        row("source is a file", {"gather", "{file}", "{dst}"}, 1, "中止", "{file}: ");
        row("destination is a file", {"gather", "{src}", "{file}"}, 1, "中止", "{file}: ");
        row("plan only", {"gather", "--plan", "--delete-folders", "{src}", "{dst}"}, 0,
            "削除する子フォルダ: ", "");
        row("plan of a refused run", {"gather", "--plan", "{src}", "{src}/"}, 1, "この移動は始められません",
            "移動元親フォルダと同じ");
        row("plan of a missing source", {"gather", "--plan", "{missing}", "{dst}"}, 1,
            "この移動は始められません", "フォルダの読み取りができませんでした: {missing}: ");
        row("plan names a hidden picture", {"gather", "--plan", "{src}", "{dst}"}, 0,
            "問題: {src}/a/.hidden.jpg: 隠しファイルのため移動しません。フォルダに残ります。\n", "");
        row("plan names a picture in the source parent", {"gather", "--plan", "{src}", "{dst}"}, 0,
            "問題: {src}/top.jpg: 移動元親フォルダに直接ある画像です。", "");
        row("strip a missing folder", {"strip", "{missing}"}, 1, "", "{missing}: ");
        row("strip leaves a taken name", {"strip", "{strip}"}, 4, "完了: 通し番号を切り取ったファイル 1 個\n",
            "切り取った後の名前がすでにあるため、そのまま残したファイル: 000001 a.jpg\n");
        row("strip names a name that is only a prefix", {"strip", "{strip}"}, 4, "",
            "切り取ると名前がなくなるため、そのまま残したファイル: 123456 \n");
        row("another Corvalin holds the settings folder", {"gather", "{src}", "{dst}"}, 3, "",
            "別の Corvalin", true);
        row("gather leaves a download", {"gather", "{dl}", "{dst}"}, 4,
            "完了: 画像 1 個を移動しました（000000〜000000）。ほかのファイル 0 個をごみ箱に入れました。\n",
            "ダウンロード中のため、移動も削除もせずに残したファイル: {dl}/x/photo.jpg.part\n");
        row("gather names a FIFO named like a picture", {"gather", "{fifo}", "{dst}"}, 4,
            "完了: 画像 1 個を移動しました（000000〜000000）。",
            "画像の名前ですが、普通のファイルではない（名前付きパイプ、ソケット、デバイス）ため、移動しなかっ"
            "たもの: "
            "{fifo}/x/photo.jpg\n");
        row("gather leaves a name too long", {"gather", "{long}", "{dst}"}, 4,
            "完了: 画像 1 個を移動しました（000000〜000000）。",
            ("名前が長すぎるため、移動も削除もせずに残した画像: {long}/x/" + kLongName + "\n").c_str());
        row("no history yet", {"history"}, 0, "まだ実行の記録はありません。\n", "");
        row("history beside another Corvalin", {"history"}, 0, "まだ実行の記録はありません。\n", "", true);
        row("history with an argument", {"history", "x"}, 2, "", "history: takes no arguments");
        row("undo with nothing to undo", {"undo"}, 1, "", "元に戻せる実行がありません");
        row("undo of an unknown run", {"undo", "20000101-000000"}, 2, "",
            "'20000101-000000' is no run; 'corvalin history' lists them");
        row("undo of two runs", {"undo", "a", "b"}, 2, "", "give at most one RUN");
        row("undo beside another Corvalin", {"undo"}, 3, "", "別の Corvalin", true);
    }
    void statusAndMessages() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, locked);
        QFETCH(int, status);
        makeTree(root());
        QVERIFY(writeContent(root() / "file", "a file"));
        for (const char* file : {"000001 a.jpg", "a.jpg", "000002 b.jpg", "123456 "})
            QVERIFY(writeContent(root() / "strip" / file, file));
        QVERIFY(writeContent(root() / "fifo/x/done.jpg", pictureContent("done")));
        QCOMPARE(::mkfifo((root() / "fifo/x/photo.jpg").c_str(), 0644), 0);
        for (const char* file : {"x/photo.jpg.part", "x/photo.jpg", "x/done.jpg"})
            QVERIFY(writeContent(root() / "dl" / file, pictureContent(file)));
        for (const std::string& file : {"x/" + kLongName, std::string("x/short.jpg")})
            QVERIFY(writeContent(root() / "long" / file, pictureContent(file)));
        std::optional<InstanceLock> lock;
        if (locked)
            lock = std::move(InstanceLock::tryAcquire(prog()).value());
        for (QString& argument : arguments)
            argument = placed(argument);
        const auto before = treeOf(root() / "src");
        const auto destinationBefore = treeOf(root() / "dst");
        const ProgramRun run = runProgram(prog(), arguments);
        QVERIFY(run.finished && !run.signalled);
        QCOMPARE(run.exitCode, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(QString::fromUtf8(run.out).contains(placed(out)), run.out.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(placed(err)), run.err.constData());
        // A failure is one line that names the file; only a started gather reads the settings.
        if (status == 1 || status == 3)
            QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(fs::exists(prog() / "Corvalin.ini"),
                 arguments.first() == "gather" &&
                     (status == 1 || status == 4 || arguments.contains("--plan")));
        QVERIFY(treeOf(root() / "src") == before);
        if (arguments.contains("--plan"))
            QVERIFY(treeOf(root() / "dst") == destinationBefore);
    }

    // The same tree and the same saved state give the same names and the same counter as the
    // window's run; the saved folders and the window's delete option stay as they were.
    void gatherMatchesTheWindow() {
        makeTree(root() / "w");
        makeTree(root() / "c");
        const fs::path windowProgram = root() / "wprog";
        writeSettings(windowProgram, root() / "w/src", root() / "w/dst", 1, 1, 41);
        {
            Module1 vars;
            ScriptedMessageBox messages;
            Form1 form(vars, {windowProgram, windowProgram}, messages);
            QVERIFY(form.Form_Load());
            form.show();
            MoveController::of(form).setYieldInterval(0);
            MoveController::of(form).run();
            QVERIFY(form.close());
            QVERIFY(messages.shown.empty());
        }
        writeSettings(prog(), root() / "c/src", root() / "c/dst", 1, 0, 41);
        const ProgramRun run = runProgram(prog(), {"gather", "--delete-folders"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(QString::fromUtf8(run.out),
                 QString("完了: 画像 5 個を移動しました（000042〜000047、すでにあった番号 1 "
                         "個は飛ばしました）。ほかのファイル 1 個と子フォルダ 3 個をごみ箱に入れました。\n"));
        QVERIFY(treeOf(root() / "c") == treeOf(root() / "w"));
        QCOMPARE(contentOf(prog() / "Quillet.ini"), contentOf(windowProgram / "Quillet.ini"));
        QCOMPARE(contentOf(prog() / "Quillet.ini"), std::string("48\r\n"));
        QCOMPARE(contentOf(prog() / "Corvalin.ini"), "\"" + (root() / "c/src").native() + "\",\"" +
                                                         (root() / "c/dst").native() + "\",\"\",0,0\r\n");
    }

    // What is removed goes where Corvalin.conf says, as in the window. An options file that is
    // there and cannot be read stops every command that changes files before it touches anything
    // (the defaults would trash what was to go for good, or remove pictures of a chosen type).
    void removalFollowsTheOptionsFile_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("trashed");
        QTest::newRow("no options file") << QByteArray() << "gather" << 0 << true;
        QTest::newRow("for good") << QByteArray("permanent_deletion=true\n") << "gather" << 0 << false;
        QTest::newRow("options file is a folder") << QByteArray("<folder>") << "gather" << 1 << false;
        QTest::newRow("options file too large") << QByteArray("<large>") << "gather" << 1 << false;
        QTest::newRow("options file a link to a device") << QByteArray("<zero>") << "gather" << 1 << false;
        QTest::newRow("the plan of it") << QByteArray("<large>") << "plan" << 1 << false;
        QTest::newRow("strip with it") << QByteArray("<large>") << "strip" << 1 << false;
        QTest::newRow("undo with it") << QByteArray("<large>") << "undo" << 1 << true; // the gather before
    }
    void removalFollowsTheOptionsFile() {
        QFETCH(QByteArray, options);
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(bool, trashed);
        makeTree(root());
        QVERIFY(writeContent(root() / "dst/000001 numbered.jpg", "strip me"));
        if (command == "undo")
            QCOMPARE(runProgram(prog(), {"gather", placed("{src}"), placed("{dst}")}).exitCode, 0);
        const auto sourceBefore = treeOf(root() / "src");
        const auto destinationBefore = treeOf(root() / "dst");
        const fs::path file = prog() / "Corvalin.conf";
        if (options == "<folder>")
            fs::create_directory(file);
        else if (options == "<large>")
            QVERIFY(writeContent(file, std::string(10 << 20, '#')));
        else if (options == "<zero>")
            fs::create_symlink("/dev/zero", file);
        else if (!options.isEmpty())
            QVERIFY(writeContent(file, options.toStdString()));
        const QStringList arguments =
            command == "gather"  ? QStringList{"gather", placed("{src}"), placed("{dst}")}
            : command == "plan"  ? QStringList{"gather", "--plan", placed("{src}"), placed("{dst}")}
            : command == "strip" ? QStringList{"strip", placed("{dst}")}
                                 : QStringList{"undo"};
        const ProgramRun run = runProgram(prog(), arguments);
        fs::remove_all(file);
        QCOMPARE(run.exitCode, status);
        QCOMPARE(trashedItems(m_copy.home().trash()).count(root() / "src/a/notes.txt"), std::size_t(trashed));
        if (status == 0) {
            QCOMPARE(run.err, QByteArray());
            QVERIFY(run.out.endsWith(trashed ? "をごみ箱に入れました。\n" : "を削除しました。\n"));
            return;
        }
        // One line names the file and the reason; nothing changed, not even the saved settings.
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY2(run.err.contains(file.c_str()) && run.err.contains("「詳細」タブ"), run.err.constData());
        QVERIFY(treeOf(root() / "src") == sourceBefore);
        QVERIFY(treeOf(root() / "dst") == destinationBefore);
        QCOMPARE(fs::exists(prog() / "Corvalin.ini"), command == "undo");
    }

    // Pictures the destination holds already are left out as Corvalin.conf says, unless a flag
    // says otherwise for this command; the result line and the plan count them.
    void duplicatesAsAskedFor_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        const QString leftOut = "移動先と同じ内容の画像 1 個、ほかのファイル 1 個をごみ箱に入れました。\n";
        const QString moved = "）。ほかのファイル 1 個をごみ箱に入れました。\n";
        QTest::newRow("off by default") << QByteArray() << QStringList{} << 0 << moved;
        QTest::newRow("on in Corvalin.conf")
            << QByteArray("skip_duplicates=true\n") << QStringList{} << 0 << leftOut;
        QTest::newRow("--no-skip-duplicates over the file")
            << QByteArray("skip_duplicates=true\n") << QStringList{"--no-skip-duplicates"} << 0 << moved;
        QTest::newRow("--skip-duplicates over the file")
            << QByteArray() << QStringList{"--skip-duplicates"} << 0 << leftOut;
        QTest::newRow("the plan counts them")
            << QByteArray() << QStringList{"--plan", "--skip-duplicates"} << 0
            << "移動先と同じ内容のため取り除く画像: 1 個（ごみ箱へ）\n";
        QTest::newRow("the plan names each with its twin")
            << QByteArray("skip_duplicates=true\n") << QStringList{"--plan"} << 0
            << "同じ内容の画像の削除: {src}/b/x.bmp = {dst}/saved before.jpg\n";
        QTest::newRow("both flags") << QByteArray()
                                    << QStringList{"--skip-duplicates", "--no-skip-duplicates"} << 2 << "";
    }
    void duplicatesAsAskedFor() {
        QFETCH(QByteArray, options);
        QFETCH(QStringList, flags);
        makeTree(root());
        QVERIFY(writeContent(root() / "dst" / "saved before.jpg", pictureContent("b/x.bmp")));
        if (!options.isEmpty())
            QVERIFY(writeContent(prog() / "Corvalin.conf", options.toStdString()));
        const ProgramRun run =
            runProgram(prog(), QStringList{"gather"} + flags + QStringList{placed("{src}"), placed("{dst}")});
        fs::remove(prog() / "Corvalin.conf");
        QFETCH(int, status);
        QCOMPARE(run.exitCode, status);
        QFETCH(QString, out);
        QVERIFY2(QString::fromUtf8(run.out).contains(placed(out)), run.out.constData());
        QCOMPARE(fs::exists(root() / "src/b/x.bmp"), status == 2 || flags.contains("--plan"));
    }

    // Files named as pictures of a type not chosen are named in the result line; deleted for good,
    // only when the command says so: without it the run touches nothing and fails, and a plan says
    // it would.
    void unchosenPicturesDeletedForGoodOnlyWhenAsked_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QByteArray forGood = "permanent_deletion=true\n";
        const QString refused =
            "「画像として扱う形式」に選んでいない画像 1 個（1 × .png）を完全に削除することになるため、";
        QTest::newRow("to the Trash, without a question")
            << QByteArray() << QStringList{} << 0
            << "ほかのファイル 2 個（うち、選んでいない形式の画像 1 "
               "個）をごみ箱に入れました。\n"
            << "";
        QTest::newRow("for good: refused") << forGood << QStringList{} << 1 << "中断: 画像 0 個"
                                           << refused + "何もせずに終わりました。削除してよいときは "
                                                        "--delete-unchosen-pictures を付けて下さい。\n";
        QTest::newRow("for good, as asked") << forGood << QStringList{"--delete-unchosen-pictures"} << 0
                                            << "（うち、選んでいない形式の画像 1 個）を削除しました。\n"
                                            << "";
        QTest::newRow("the plan says so")
            << forGood << QStringList{"--plan"} << 1 << "削除するファイルのうち画像: 1 個（1 × .png）"
            << refused + "--delete-unchosen-pictures を付けないと移動しません。\n";
        QTest::newRow("the plan, as asked")
            << forGood << QStringList{"--plan", "--delete-unchosen-pictures"} << 0 << "（完全に削除）"
            << "";
        QTest::newRow("a chosen type is no question") << forGood + "picture_types=png\n"
                                                      << QStringList{} << 0 << "画像 6 個を移動しました"
                                                      << "";
    }
    void unchosenPicturesDeletedForGoodOnlyWhenAsked() {
        QFETCH(QByteArray, options);
        QFETCH(QStringList, flags);
        makeTree(root());
        QVERIFY(writeContent(root() / "src/b/shot.png", pictureContent("b/shot.png")));
        if (!options.isEmpty())
            QVERIFY(writeContent(prog() / "Corvalin.conf", options.toStdString()));
        const auto before = treeOf(root());
        const ProgramRun run =
            runProgram(prog(), QStringList{"gather"} + flags + QStringList{placed("{src}"), placed("{dst}")});
        fs::remove(prog() / "Corvalin.conf");
        QFETCH(int, status);
        QCOMPARE(run.exitCode, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(QString::fromUtf8(run.out).contains(out), run.out.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(err), run.err.constData());
        if (status == 1)
            QVERIFY(treeOf(root()) == before);
    }

    // Stopped after the file in hand: every picture exactly once, RunFlag 0, and the counter holds
    // the next number, so the next gather numbers on without a gap or a repeat.
    void stopSignalLeavesEverythingCounted_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void stopSignalLeavesEverythingCounted() {
        QFETCH(int, signal);
        constexpr int kFolders = 30;
        constexpr int kPerFolder = 40;
        std::vector<std::string> pictures;
        for (int f = 0; f < kFolders; ++f) {
            for (int p = 0; p < kPerFolder; ++p) {
                const std::string name = std::to_string(f) + "/" + std::to_string(p) + ".jpg";
                pictures.push_back(pictureContent(name));
                QVERIFY(writeContent(root() / "src" / name, pictures.back()));
            }
        }
        fs::create_directories(root() / "dst");
        writeSettings(prog(), root() / "src", root() / "dst", 0, 0, 0);
        const auto run = runSignalledAtFirstMove(prog(), {"gather"}, root() / "dst", signal);
        if (!run)
            QSKIP("this system cannot hold a program at a rename");
        const ProgramRun& stopped = *run;
        // Ended by that very signal, so that a shell shows 128 + its number.
        QVERIFY(stopped.signalled);
        QCOMPARE(stopped.exitCode, signal);
        QVERIFY2(stopped.out.startsWith("中断: "), stopped.out.constData());
        QCOMPARE(QString::fromStdString(lostOrDoubled(pictures, {root() / "src", root() / "dst"})),
                 QString());
        const std::size_t moved = namesIn(root() / "dst").size();
        QCOMPARE(moved, std::size_t(1)); // the picture in hand
        QCOMPARE(contentOf(prog() / "Quillet.ini"), std::to_string(moved) + "\r\n");
        QVERIFY(contentOf(prog() / "Corvalin.ini").ends_with(",0,0\r\n"));

        QCOMPARE(runProgram(prog(), {"gather"}).exitCode, 0);
        std::set<std::string> numbers;
        for (const std::string& name : namesIn(root() / "dst"))
            numbers.insert(name.substr(0, 6));
        QCOMPARE(numbers.size(), pictures.size());
        QCOMPARE(*numbers.rbegin(), serialPrefix(std::int32_t(pictures.size()) - 1).substr(0, 6));
    }

    // On a terminal the progress line is drawn in place before the result; a terminal without
    // "erase line" gets no escape sequences.
    void progressOnATerminal_data() {
        QTest::addColumn<QString>("term");
        QTest::addColumn<bool>("erases");
        QTest::newRow("xterm") << "xterm" << true;
        QTest::newRow("dumb") << "dumb" << false;
    }
    void progressOnATerminal() {
        QFETCH(QString, term);
        QFETCH(bool, erases);
        makeTree(root());
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        QProcess gather;
        prepareProgram(gather, prog(), {"gather", placed("{src}"), placed("{dst}")});
        QProcessEnvironment env = gather.processEnvironment();
        env.insert("TERM", term);
        gather.setProcessEnvironment(env);
        gather.setStandardOutputFile(QString::fromLatin1(::ptsname(master)));
        gather.start();
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        QByteArray shown;
        char buffer[4096];
        for (bool running = true; running;) {
            running = !gather.waitForFinished(20);
            for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
                shown.append(buffer, got);
        }
        ::close(master);
        QCOMPARE(gather.exitCode(), 0);
        QVERIFY2(shown.startsWith(erases ? "\r\x1b[Kフォルダ構成を調査中" : "\rフォルダ構成を調査中"),
                 shown.constData());
        QCOMPARE(shown.contains('\x1b'), erases);
        QVERIFY2(shown.contains("完了: 画像 5 個を移動しました"), shown.constData());
    }

    // `history` only reads: an installed program's first `history` makes no folder. Output that
    // cannot be written (a full disk) is a failure, said on standard error.
    void historyOnlyReadsAndTellsAFailedOutput() {
        const fs::path installed = root() / "usr/bin";
        QVERIFY(copyProgram(installed));
        fs::create_directories(root() / "usr/share/corvalin");
        const fs::path home = m_copy.home().folder();
        QProcess history;
        prepareProgram(history, installed, {"history"});
        QProcessEnvironment env = history.processEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / ".config").native()));
        env.insert("XDG_STATE_HOME", QString::fromStdString((home / ".local/state").native()));
        history.setProcessEnvironment(env);
        history.setStandardOutputFile(QStringLiteral("/dev/full"));
        history.start();
        const ProgramRun run = finishedRun(history, 60000);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("標準出力への書き込みができませんでした: "), run.err.constData());
        QVERIFY(!fs::exists(home / ".config/Corvalin"));
        QVERIFY(!fs::exists(home / ".local/state/Corvalin"));
    }

    // A journal whose disk is full stops the gather with that reason, said once; the destination,
    // which has room, is not blamed.
    void fullJournalIsTheOneCauseSaid() {
        // Records of long names fill the journal's only block within the folder.
        for (int i = 0; i < 20; ++i) {
            const std::string name = "src/a/" + std::string(200, 'n') + std::to_string(i) + ".jpg";
            QVERIFY(writeContent(root() / name, pictureContent(name)));
        }
        fs::create_directories(root() / "dst");
        fs::create_directories(prog() / "history");
        const fs::path err = root() / "err.txt";
        const std::string command = "cd '" + prog().native() + "' && LC_ALL=C.UTF-8 ./corvalin gather '" +
                                    (root() / "src").native() + "' '" + (root() / "dst").native() +
                                    "' >/dev/null 2>'" + err.native() + "'";
        const int status = runInChild([&] {
            if (!mountPrivateTmpfs(prog() / "history", "4k"))
                return skipExit;
            const int code = std::system(command.c_str());
            return WIFEXITED(code) ? WEXITSTATUS(code) : 99;
        });
        if (status == skipExit)
            QSKIP("cannot mount a small file system here");
        QCOMPARE(status, 1);
        const QString said = QString::fromStdString(contentOf(err));
        QCOMPARE(said.count("履歴の記録ができませんでした: "), 1);
        QVERIFY2(said.contains(QString::fromStdString(strerror(ENOSPC))), qPrintable(said));
        QVERIFY2(!said.contains("移動先フォルダ"), qPrintable(said));
    }

    // A reader that leaves early (`| head`) costs the output, never the run or its counter.
    void closedOutputCostsOnlyTheOutput() {
        makeTree(root());
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
        QProcess gather;
        prepareProgram(gather, prog(), {"gather", placed("{src}"), placed("{dst}")});
        gather.setStandardOutputFile(QStringLiteral("/proc/self/fd/%1").arg(pipe[1]));
        gather.start();
        QVERIFY(gather.waitForStarted());
        ::close(pipe[0]);
        ::close(pipe[1]);
        const ProgramRun run = finishedRun(gather, 60000);
        QVERIFY(!run.signalled);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(namesIn(root() / "dst").size(), std::size_t(6));
        QVERIFY(contentOf(prog() / "Corvalin.ini").ends_with(",0,0\r\n"));
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
