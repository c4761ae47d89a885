#include "variants.h"

#include "app/counter_writer.h"
#include "app/message_box.h"
#include "app/ui/form1.h"
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace corvalin::bench {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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
double windowMoveSeconds(const fs::path& work, bool inlinePreview, bool permanent, bool journalling) {
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
        return -2;
    form.show();
    waitUntilOnScreen(form);
    MoveController::of(form).setInlinePreview(inlinePreview);
    MoveController::of(form).setJournalling(journalling);
    const auto start = Clock::now();
    form.Command1_Click();
    const double seconds = secondsSince(start);
    return messages.shown == 0 ? seconds : -3;
}

class SilentUndoObserver : public UndoObserver {
    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return false; }
};

} // namespace

int runWindowVariant(const fs::path& work, bool inlinePreview, bool permanent, bool journalling) {
    const double seconds = windowMoveSeconds(work, inlinePreview, permanent, journalling);
    if (seconds < 0)
        return int(-seconds);
    std::printf("%.6f\n", seconds);
    return 0;
}

int runUndoVariant(const fs::path& work, bool permanent) {
    if (windowMoveSeconds(work, false, permanent, true) < 0)
        return 2;
    const auto runs = listRuns(settingsIn(work).history());
    if (!runs || runs.value().empty())
        return 4;
    SilentUndoObserver observer;
    const auto start = Clock::now();
    const UndoOutcome outcome = undoRun(runs.value().front().file, observer);
    const double seconds = secondsSince(start);
    std::printf("%.6f\n", seconds);
    if (outcome.error)
        std::fprintf(stderr, "undo failed: %s\n", outcome.error->path.c_str());
    return outcome.error ? 3 : 0;
}

int runFlushVariant(const fs::path& work) {
    int folders = 0;
    for (const auto& entry : fs::recursive_directory_iterator(work / "src"))
        folders += entry.is_directory() ? 1 : 0;
    RunStart start;
    start.source = work / "src";
    auto journal = RunJournal::create(settingsIn(work).history(), start);
    if (!journal)
        return 3;
    JournalRecord record(RecordType::MakeFolder);
    record.from = work / "src";
    const auto begin = Clock::now();
    for (int folder = 0; folder < folders; ++folder) {
        if (!journal.value().append(record) || !journal.value().flush())
            return 3;
    }
    std::printf("%.6f\n", secondsSince(begin));
    return journal.value().finish(kOutcomeCompleted) ? 0 : 3;
}

int runCoreVariant(const fs::path& work, bool permanent, BatchSettings batches) {
    Module1 vars;
    SilentObserver observer(work / "dst");
    std::vector<fs::path> folderList;
    MoveRun run(vars, settingsIn(work), observer, Removal(permanent));
    run.setBatchSettings(batches);
    const auto start = Clock::now();
    const MoveRunResult result = run.run(work / "src", true, folderList);
    const double seconds = secondsSince(start);
    std::printf("%.6f\n", seconds);
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
    const auto start = Clock::now();
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
    std::printf("%.6f\n", secondsSince(start));
    return 0;
}

} // namespace corvalin::bench
