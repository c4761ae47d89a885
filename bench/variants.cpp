#include "variants.h"

#include "timing.h"

#include "app/counter_writer.h"
#include "app/message_box.h"
#include "app/ui/form1.h"
#include "engine/file_layer.h"
#include "engine/move_run.h"
#include "engine/ui/move_controller.h"
#include "history/run_history.h"
#include "history/undo.h"
#include "naming/serial_name.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace corvalin::bench {

namespace fs = std::filesystem;

namespace {

// A benchmark has nobody to answer a message: it is printed and the run counts as failed.
class PrintedMessages : public MessageBox {
public:
    int shown = 0;
    MessageAnswer show(const std::string& text, MessageButtons, MessageIcon) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        ++shown;
        return MessageAnswer::Ok;
    }
};

class SilentObserver : public MoveRunObserver {
public:
    explicit SilentObserver(fs::path destination) : m_destination(std::move(destination)) {}
    void yield() override {}
    void surveyStarted() override {}
    bool stopRequested() override { return false; }
    bool cancelRequested() override { return false; }
    fs::path destination() override { return m_destination; }

private:
    fs::path m_destination;
};

// The offscreen platform warns about what it cannot do with windows; only real trouble is printed.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// A real X server maps the window in its own time; the run starts once the window is drawn.
void waitUntilOnScreen(QWidget& window) {
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
}

SettingsFiles settingsIn(const fs::path& work) {
    return {work / "prog", work / "prog"};
}

// Runs the window's move and prints nothing; the seconds it took, or a negative exit code.
Timed windowMove(const fs::path& work, bool inlinePreview, bool permanent, bool journalling) {
    std::ofstream(work / "prog" / "Corvalin.ini", std::ios::binary)
        << "\"" << (work / "src").native() << "\",\"" << (work / "dst").native() << "\",\"\",0,1\r\n";
    if (permanent)
        std::ofstream(work / "prog" / "Corvalin.conf", std::ios::binary) << "permanent_deletion=true\n";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0); // unless the bench chose a real X server
    qInstallMessageHandler(quietMessages);
    int argc = 1;
    char name[] = "corvalin";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Module1 vars;
    PrintedMessages messages;
    Form1 form(vars, settingsIn(work), messages);
    if (!form.Form_Load())
        return {-2};
    form.show();
    waitUntilOnScreen(form);
    MoveController::of(form).setInlinePreview(inlinePreview);
    MoveController::of(form).setJournalling(journalling);
    const Timing timing;
    form.Command1_Click();
    const Timed timed = timing.taken();
    return messages.shown == 0 ? timed : Timed{-3};
}

class SilentUndoObserver : public UndoObserver {
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

} // namespace

int runWindowVariant(const fs::path& work, bool inlinePreview, bool permanent, bool journalling) {
    const Timed timed = windowMove(work, inlinePreview, permanent, journalling);
    if (timed.seconds < 0)
        return int(-timed.seconds);
    Timing::printTimed(timed);
    return 0;
}

int runUndoVariant(const fs::path& work, bool permanent) {
    if (windowMove(work, false, permanent, true).seconds < 0)
        return 2;
    const auto runs = listRuns(settingsIn(work).history());
    if (!runs || runs.value().empty())
        return 4;
    SilentUndoObserver observer;
    const Timing timing;
    const UndoOutcome outcome = undoRun(runs.value().front().file, observer);
    timing.print();
    if (outcome.error)
        std::fprintf(stderr, "undo failed: %s\n", outcome.error->path.c_str());
    return outcome.error ? 3 : 0;
}

// The journal as a run with the delete option writes it, without the run: its start, a record for
// every file and child folder, the layer's pace kept after each folder, and its end.
int runJournalVariant(const fs::path& work) {
    std::vector<std::pair<fs::path, std::vector<std::string>>> folders;
    for (const auto& entry : fs::recursive_directory_iterator(work / "src")) {
        if (entry.is_directory())
            folders.emplace_back(entry.path(), listFiles(entry.path()).value());
    }
    const Removal removal(false);
    DiskLayer layer(settingsIn(work), removal);
    const Timing timing;
    auto journal = RunJournal::create(settingsIn(work).history(),
                                      moveRunStart(0, work / "src", work / "dst", true, removal));
    if (!journal)
        return 3;
    layer.setJournal(&journal.value());
    std::int32_t serialNo = 0;
    for (const auto& [folder, names] : folders) {
        for (const std::string& name : names) {
            const fs::path file = joinPath(folder, name);
            // The run looks each picture up once, and records what it found.
            const Result<FileIdentity> identity = isPicture(name) ? identityOf(file) : FileIdentity{};
            if (!identity)
                return 3;
            const Status recorded =
                isPicture(name)
                    ? journal.value().recordMove(serialNo, file,
                                                 joinPath(work / "dst", serialName(serialNo, name)),
                                                 identity.value())
                    : journal.value().recordDelete(file, false);
            serialNo += isPicture(name) ? 1 : 0;
            if (!recorded)
                return 3;
        }
        if (!layer.keepPace())
            return 3;
    }
    for (const auto& entry : fs::directory_iterator(work / "src")) {
        if (!journal.value().recordDelete(entry.path(), true))
            return 3;
    }
    if (!journal.value().finish(kOutcomeCompleted))
        return 3;
    timing.print();
    return 0;
}

int runCoreVariant(const fs::path& work, bool permanent, BatchSettings batches) {
    Module1 vars;
    SilentObserver observer(work / "dst");
    std::vector<fs::path> folderList;
    MoveRun run(vars, settingsIn(work), observer, Removal(permanent));
    run.setBatchSettings(batches);
    const Timing timing;
    const MoveRunResult result = run.run(work / "src", true, folderList);
    timing.print();
    if (result.error)
        std::fprintf(stderr, "failed: %s\n", result.error->path.c_str());
    return result.outcome == MoveOutcome::Completed ? 0 : 3;
}

int runFloorVariant(const fs::path& work, bool removals) {
    std::vector<fs::path> pictures;
    std::vector<fs::path> others;
    std::vector<fs::path> folders;
    for (const auto& entry : fs::recursive_directory_iterator(work / "src")) {
        if (entry.is_directory())
            folders.push_back(entry.path());
        else if (entry.is_regular_file() && isPicture(entry.path().filename().native()))
            pictures.push_back(entry.path());
        else
            others.push_back(entry.path());
    }
    // Deepest first, as a folder goes only when it is empty.
    std::reverse(folders.begin(), folders.end());
    CounterWriter counter(settingsIn(work));
    const fs::path destination = work / "dst";
    const Timing timing;
    std::int32_t serialNo = 0;
    for (const fs::path& picture : pictures) {
        if (!counter.write(serialNo))
            return 3;
        const fs::path target = joinPath(destination, serialPrefix(serialNo) + picture.filename().native());
        if (!moveNoReplace(picture, target))
            return 3;
        ++serialNo;
    }
    for (const fs::path& other : removals ? others : std::vector<fs::path>{}) {
        if (::unlink(other.c_str()) != 0)
            return 3;
    }
    for (const fs::path& folder : removals ? folders : std::vector<fs::path>{}) {
        if (::rmdir(folder.c_str()) != 0)
            return 3;
    }
    timing.print();
    return 0;
}

int runChildVariant(const std::string& variant, const fs::path& work, bool permanent) {
    if (variant == "window")
        return runWindowVariant(work, false, permanent);
    if (variant == "window-bare" || variant == "window-x" ||
        variant == "window-x-reader") // as before the way back: no journal, deleted for good
        return runWindowVariant(work, false, true, false);
    if (variant == "undo")
        return runUndoVariant(work, permanent);
    if (variant == "journal")
        return runJournalVariant(work);
    if (variant == "window-inline")
        return runWindowVariant(work, true, permanent);
    if (variant == "core")
        return runCoreVariant(work, permanent);
    if (variant == "core-fdatasync")
        return runCoreVariant(work, permanent, {.flush = corvalin::BatchFlush::EachFile});
    if (variant == "core-per-picture")
        return runCoreVariant(work, permanent, {.count = 1, .flush = corvalin::BatchFlush::EachFile});
    if (variant == "floor")
        return runFloorVariant(work);
    if (variant == "floor-removals")
        return runFloorVariant(work, true);
    if (variant == "floor-safe" || variant == "floor-safe-journal")
        return runSafeFloorVariant(work, variant == "floor-safe-journal");
    return 64;
}

} // namespace corvalin::bench
