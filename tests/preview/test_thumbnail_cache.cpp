// The shared thumbnail cache: entries named as the desktop names them (checked against gio where
// it is installed), read only when they belong to the picture as it is now, written whole, and
// following the pictures a run moved.
#include "history/run_journal.h"
#include "preview/md5.h"
#include "preview/png_text.h"
#include "preview/thumbnail_cache.h"
#include "preview/thumbnail_follow.h"
#include "preview/thumbnail_names.h"
#include "temp_tree.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvalin;
using namespace corvalin::testing;
namespace fs = std::filesystem;

namespace {

PictureStamp stampNow(const fs::path& file) {
    struct stat info {};
    ::lstat(file.c_str(), &info);
    return stampOf(file, info);
}

void setModified(const fs::path& file, std::int64_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    QVERIFY(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0);
}

// The text of the entry stored under `name` in `folder`, or nothing.
std::optional<std::vector<PngText>> entryText(const fs::path& folder, const std::string& uri) {
    const fs::path entry = folder / thumbnailFileName(uri);
    return fs::exists(entry) ? readPngText(readFile(entry)) : std::nullopt;
}

} // namespace

class TestThumbnailCache : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fs::path root() const { return pathOf(m_dir); }
    fs::path cacheFolder() const { return root() / "cache/thumbnails"; }

private slots:
    // QTemporaryDir cannot remove a name that is not UTF-8.
    void cleanupTestCase() { fs::remove_all(root()); }
    void init() {
        fs::remove_all(root() / "cache");
        fs::remove_all(root() / "pictures");
        fs::create_directories(root() / "pictures");
    }

    void md5MatchesKnownDigests_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e";
        QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72";
        // The padding fits the last block, just does not, and needs a block of its own.
        QTest::newRow("55 bytes") << QByteArray(55, 'a') << "ef1772b6dff9a122358552954ad0df65";
        QTest::newRow("56 bytes") << QByteArray(56, 'a') << "3b0c8ac703f828b04c6c197006d17218";
        QTest::newRow("64 bytes") << QByteArray(64, 'a') << "014842d480b571495a4a0363793f7367";
        QTest::newRow("119 bytes") << QByteArray(119, 'a') << "8a7bd0732ed6a28ce75f6dabc90e1613";
    }
    void md5MatchesKnownDigests() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, digest);
        QCOMPARE(QString::fromStdString(md5Hex(bytes.toStdString())), digest);
    }

    // The URI escapes exactly what the desktop escapes; the standard's own example names the entry.
    void uriEscapesAsTheDesktopDoes_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("uri");
        QTest::newRow("the standard's example")
            << QByteArray("/home/jens/photos/me.png") << QByteArray("file:///home/jens/photos/me.png");
        QTest::newRow("blank, hash, percent")
            << QByteArray("/p/a b#1%.jpg") << QByteArray("file:///p/a%20b%231%25.jpg");
        QTest::newRow("kept punctuation")
            << QByteArray("/p/!~*'()=&+,$@:-_.jpg") << QByteArray("file:///p/!~*'()=&+,$@:-_.jpg");
        QTest::newRow("escaped punctuation")
            << QByteArray("/p/[;?\\\"<>{}|^`].jpg")
            << QByteArray("file:///p/%5B%3B%3F%5C%22%3C%3E%7B%7D%7C%5E%60%5D.jpg");
        QTest::newRow("UTF-8") << QByteArray("/p/日本.jpg") << QByteArray("file:///p/%E6%97%A5%E6%9C%AC.jpg");
        QTest::newRow("Shift-JIS bytes kept")
            << QByteArray("/p/\x82\xa0.jpg") << QByteArray("file:///p/%82%A0.jpg");
        QTest::newRow("control characters")
            << QByteArray("/p/\t\n\x7f.jpg") << QByteArray("file:///p/%09%0A%7F.jpg");
    }
    void uriEscapesAsTheDesktopDoes() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, uri);
        QCOMPARE(QByteArray::fromStdString(fileUri(path.toStdString())), uri);
    }

    void standardExampleEntryName() {
        QCOMPARE(thumbnailFileName("file:///home/jens/photos/me.png"),
                 std::string("c6ee772d9e49320e97ec29a7eb5b1697.png"));
    }

    // gio finds what Corvalin stored, for each kind of name, and holds it valid.
    void gioFindsTheStoredEntry() {
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty()) {
            if (qEnvironmentVariableIsSet("CORVALIN_CI"))
                QFAIL("gio is missing; scripts/quickstart.sh test installs libglib2.0-bin");
            QSKIP("gio (libglib2.0-bin) is not installed");
        }
        ThumbnailCache cache(cacheFolder());
        for (const std::string name : {"a b.jpg", "h#x.jpg", "p%41.jpg", "e!x.jpg", "[b].jpg", "日本.jpg",
                                       "\x82\xa0.jpg", "s;c=e&a+p,c$d@a:t~t'q(p)*s.jpg"}) {
            const fs::path picture = root() / "pictures" / name;
            writeFile(picture, "picture");
            QVERIFY(cache.store(ThumbnailFolder::Normal, stampNow(picture), blankPng()));
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("XDG_CACHE_HOME", QString::fromStdString((root() / "cache").native()));
            environment.insert("GIO_USE_VFS", "local");
            process.setProcessEnvironment(environment);
            // Named by its URI, ASCII whatever the name's bytes: gio reads it back into the path and
            // makes its own URI from that to look the entry up.
            process.start(gio, {"info", "-a", "thumbnail::path,thumbnail::is-valid",
                                QString::fromStdString(fileUri(picture))});
            QVERIFY(process.waitForFinished(30000));
            const QByteArray output = process.readAllStandardOutput();
            const QByteArray expected = QByteArray::fromStdString(
                (cacheFolder() / "normal" / thumbnailFileName(fileUri(picture))).native());
            QVERIFY2(output.contains("thumbnail::path: " + expected),
                     (output + process.readAllStandardError()).constData());
            QVERIFY2(output.contains("thumbnail::is-valid: TRUE"), output.constData());
        }
    }

    void textChunksReadAndRewritten() {
        const std::string png =
            *withPngText(blankPng(), {{"Thumb::URI", "file:///a.jpg"}, {"Thumb::MTime", "12"}});
        const std::vector<PngText> texts = *readPngText(png);
        QCOMPARE(int(texts.size()), 2);
        QCOMPARE(*textValue(texts, "Thumb::URI"), std::string("file:///a.jpg"));
        // A key given again replaces the chunk; the rest stays as it was.
        const std::string moved = *withPngText(png, {{"Thumb::URI", "file:///b/c.jpg"}});
        QCOMPARE(*textValue(*readPngText(moved), "Thumb::URI"), std::string("file:///b/c.jpg"));
        QCOMPARE(*textValue(*readPngText(moved), "Thumb::MTime"), std::string("12"));
        QCOMPARE(moved.size(), png.size() + 2);
    }

    void damagedPngsDoNotRead_data() {
        QTest::addColumn<int>("cut");  // bytes cut off the end
        QTest::addColumn<int>("flip"); // the byte changed, counted from the end; -1 for none
        QTest::newRow("cut within the end chunk") << 4 << -1;
        QTest::newRow("cut to the signature") << int(blankPng().size()) - 8 << -1;
        QTest::newRow("a checksum that does not match") << 0 << 20;
        QTest::newRow("no PNG signature") << 0 << int(blankPng().size()) - 1;
    }
    void damagedPngsDoNotRead() {
        QFETCH(int, cut);
        QFETCH(int, flip);
        std::string png = *withPngText(blankPng(), {{"Thumb::URI", "file:///a.jpg"}});
        png.resize(png.size() - std::size_t(cut));
        if (flip >= 0)
            png[png.size() - 1 - std::size_t(flip)] ^= 0x20;
        QVERIFY(!readPngText(png));
        QVERIFY(!withPngText(png, {{"Thumb::URI", "file:///b.jpg"}}));
    }

    // An entry is valid for the picture as it is now: its URI and time, and its size when kept.
    void validity_data() {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("mtime");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("valid");
        QTest::newRow("same") << "file:///a.jpg"
                              << "1000"
                              << "" << true;
        QTest::newRow("same, with fraction and size") << "file:///a.jpg"
                                                      << "1000.5"
                                                      << "7" << true;
        QTest::newRow("changed since") << "file:///a.jpg"
                                       << "999"
                                       << "" << false;
        QTest::newRow("other size") << "file:///a.jpg"
                                    << "1000"
                                    << "8" << false;
        QTest::newRow("other URI") << "file:///b.jpg"
                                   << "1000"
                                   << "" << false;
        QTest::newRow("no time") << "file:///a.jpg"
                                 << ""
                                 << "" << false;
        QTest::newRow("no URI") << ""
                                << "1000"
                                << "" << false;
    }
    void validity() {
        QFETCH(QString, uri);
        QFETCH(QString, mtime);
        QFETCH(QString, size);
        QFETCH(bool, valid);
        std::vector<PngText> texts;
        if (!uri.isEmpty())
            texts.push_back({"Thumb::URI", uri.toStdString()});
        if (!mtime.isEmpty())
            texts.push_back({"Thumb::MTime", mtime.toStdString()});
        if (!size.isEmpty())
            texts.push_back({"Thumb::Size", size.toStdString()});
        QCOMPARE(isThumbnailOf(texts, PictureStamp{"file:///a.jpg", 1000, 7}), valid);
    }

    // Another writer keeps a long URI compressed: the entry's name, its digest, vouches for it.
    void compressedUriTakenOnTheName() {
        std::vector<PngText> texts = {{"Thumb::URI", "", true}, {"Thumb::MTime", "1000"}};
        QVERIFY(isThumbnailOf(texts, PictureStamp{"file:///a.jpg", 1000, 7}));
    }

    // Stored, found while the picture is unchanged, not once it changed, nor when damaged; written
    // mode 0600 with nothing left under a temporary name.
    void storedEntryUsedWhileValid() {
        const fs::path picture = root() / "pictures/cat.jpg";
        writeFile(picture, "picture");
        setModified(picture, 1'700'000'000);
        ThumbnailCache cache(cacheFolder());
        QVERIFY(!cache.find(ThumbnailFolder::Large, stampNow(picture)));
        QVERIFY(cache.store(ThumbnailFolder::Large, stampNow(picture), blankPng(),
                            {{"Thumb::Image::Width", "9"}}));
        const std::optional<std::string> found = cache.find(ThumbnailFolder::Large, stampNow(picture));
        QVERIFY(found);
        QCOMPARE(*textValue(*readPngText(*found), "Thumb::MTime"), std::string("1700000000"));
        QCOMPARE(*textValue(*readPngText(*found), "Thumb::Image::Width"), std::string("9"));
        QVERIFY(!cache.find(ThumbnailFolder::Normal, stampNow(picture)));
        const fs::path entry = cacheFolder() / "large" / thumbnailFileName(fileUri(picture));
        QCOMPARE(int(fs::status(entry).permissions() & fs::perms::all), 0600);
        QCOMPARE(int(fs::status(cacheFolder()).permissions() & fs::perms::all), 0700);
        QCOMPARE(int(std::distance(fs::directory_iterator(cacheFolder() / "large"), {})), 1);
        setModified(picture, 1'700'000'001);
        QVERIFY(!cache.find(ThumbnailFolder::Large, stampNow(picture)));
        setModified(picture, 1'700'000'000);
        writeFile(entry, readFile(entry).substr(0, 40));
        QVERIFY(!cache.find(ThumbnailFolder::Large, stampNow(picture)));
    }

    // Someone empties the cache while its folders are held: the next thumbnail makes them again.
    void cacheEmptiedMeanwhile() {
        const fs::path picture = root() / "pictures/cat.jpg";
        writeFile(picture, "picture");
        ThumbnailCache cache(cacheFolder());
        QVERIFY(cache.store(ThumbnailFolder::Normal, stampNow(picture), blankPng()));
        fs::remove_all(cacheFolder());
        QVERIFY(cache.store(ThumbnailFolder::Normal, stampNow(picture), blankPng()));
        QVERIFY(fs::exists(cacheFolder() / "normal" / thumbnailFileName(fileUri(picture))));
        QVERIFY(cache.find(ThumbnailFolder::Normal, stampNow(picture)));
    }

    void failureRecorded() {
        const fs::path picture = root() / "pictures/broken.jpg";
        writeFile(picture, "no picture");
        ThumbnailCache cache(cacheFolder());
        QVERIFY(cache.storeFailure(stampNow(picture)));
        QVERIFY(cache.find(ThumbnailFolder::Failures, stampNow(picture)));
        QVERIFY(fs::exists(cacheFolder() / "fail/corvalin" / thumbnailFileName(fileUri(picture))));
    }

    // A cache folder that is a link, or another user's, is neither read nor written.
    void foreignCacheFolderRefused_data() {
        QTest::addColumn<bool>("link");
        QTest::newRow("link") << true;
        QTest::newRow("another user's") << false;
    }
    void foreignCacheFolderRefused() {
        QFETCH(bool, link);
        const fs::path picture = root() / "pictures/cat.jpg";
        writeFile(picture, "picture");
        const fs::path elsewhere = root() / "elsewhere";
        fs::create_directories(elsewhere / "normal");
        fs::create_directories(cacheFolder().parent_path());
        if (link) {
            fs::create_directory_symlink(elsewhere, cacheFolder());
        } else {
            if (::geteuid() != 0)
                QSKIP("giving a folder to another user needs root");
            fs::create_directories(cacheFolder());
            QVERIFY(::chown(cacheFolder().c_str(), 65534, 65534) == 0);
        }
        {
            // Placed by whoever owns it: valid, and still not read.
            ThumbnailCache owner(link ? elsewhere : cacheFolder());
            if (link)
                QVERIFY(owner.store(ThumbnailFolder::Normal, stampNow(picture), blankPng()));
        }
        ThumbnailCache cache(cacheFolder());
        QVERIFY(!cache.find(ThumbnailFolder::Normal, stampNow(picture)));
        QVERIFY(!cache.store(ThumbnailFolder::Large, stampNow(picture), blankPng()));
        QVERIFY(!fs::exists(elsewhere / "large"));
        QVERIFY(!fs::exists(cacheFolder() / "large"));
    }

    // A moved picture's entries take its new name with the URI rewritten; an out-of-date entry, the
    // entry of a picture still in its place and those of removed files stay; undo takes them back.
    void entriesFollowTheRunAndItsUndo() {
        const fs::path source = root() / "pictures/in";
        const fs::path destination = root() / "pictures/out";
        fs::create_directories(destination);
        ThumbnailCache cache(cacheFolder());
        for (const char* name : {"a b.jpg", "stale.jpg", "stays.jpg", "gone.txt"}) {
            writeFile(source / name, name);
            QVERIFY(cache.store(ThumbnailFolder::Normal, stampNow(source / name), blankPng()));
        }
        QVERIFY(cache.store(ThumbnailFolder::Large, stampNow(source / "a b.jpg"), blankPng()));
        setModified(source / "stale.jpg", 1'000);
        Result<RunJournal> journal =
            RunJournal::create(root() / "history", RunStart{RunKind::Move, 0, 1, source, destination, ""});
        QVERIFY(journal);
        for (const auto& [from, to] :
             {std::pair{"a b.jpg", "000001 a b.jpg"}, std::pair{"stale.jpg", "000002 stale.jpg"},
              std::pair{"stays.jpg", "000003 stays.jpg"}}) {
            const Result<FileIdentity> identity = identityOf(source / from);
            QVERIFY(identity);
            QVERIFY(journal.value().recordMove(1, source / from, destination / to, identity.value()));
            if (std::string(from) != "stays.jpg")
                fs::rename(source / from, destination / to);
        }
        QVERIFY(journal.value().recordDelete(source / "gone.txt", false));
        fs::remove(source / "gone.txt");
        const fs::path file = journal.value().file();
        QVERIFY(journal.value().finish(kOutcomeCompleted));

        QCOMPARE(followThumbnails(cache, file, JournalPass::Run), 2);
        const std::string newUri = fileUri(destination / "000001 a b.jpg");
        for (const char* size : {"normal", "large"}) {
            QVERIFY(!entryText(cacheFolder() / size, fileUri(source / "a b.jpg")));
            QCOMPARE(*textValue(*entryText(cacheFolder() / size, newUri), "Thumb::URI"), newUri);
        }
        QVERIFY(cache.find(ThumbnailFolder::Normal, stampNow(destination / "000001 a b.jpg")));
        QVERIFY(entryText(cacheFolder() / "normal", fileUri(source / "stale.jpg")));
        QVERIFY(entryText(cacheFolder() / "normal", fileUri(source / "stays.jpg")));
        QVERIFY(entryText(cacheFolder() / "normal", fileUri(source / "gone.txt")));

        // The undo pass recorded in the same journal, and the picture put back.
        JournalContents contents = readJournal(file).value();
        Result<RunJournal> undo = RunJournal::reopen(file, contents);
        QVERIFY(undo);
        JournalRecord step(RecordType::UndoStep);
        step.number = 3; // the first Move record's line
        QVERIFY(undo.value().append(JournalRecord(RecordType::UndoStart)));
        QVERIFY(undo.value().append(step));
        QVERIFY(undo.value().close());
        fs::rename(destination / "000001 a b.jpg", source / "a b.jpg");
        QCOMPARE(followThumbnails(cache, file, JournalPass::Undo), 2);
        QVERIFY(cache.find(ThumbnailFolder::Large, stampNow(source / "a b.jpg")));
        QVERIFY(!entryText(cacheFolder() / "large", newUri));
    }
};

QTEST_GUILESS_MAIN(TestThumbnailCache)
#include "test_thumbnail_cache.moc"
