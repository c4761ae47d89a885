// Times the plan's thumbnails over a download tree of camera-like pictures: the grid's first
// screen after its tab is opened, with no thumbnail cached and with every one cached; the longest
// wait of the window's events while scrolling through every picture; the process's peak memory
// after that; and the cache entries following the pictures after a run. Each figure is printed
// beside its target; the cold and cached screens keep their best round.
#include "app/message_box.h"
#include "app/ui/form1.h"
#include "history/run_journal.h"
#include "picture_tree.h"
#include "plan/ui/frm_plan.h"
#include "plan/ui/picture_grid.h"
#include "plan/ui/plan_thumbnails.h"
#include "preview/thumbnail_follow.h"
#include "xserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>

using namespace corvalin;
using namespace corvalin::bench;
namespace fs = std::filesystem;

namespace {

struct Options {
    TreeShape shape;
    fs::path work;
    int rounds = 3;
    bool offscreen = false;
};

struct SilentMessages : MessageBox {
    MessageAnswer show(const std::string&, MessageButtons, MessageIcon) override { return MessageAnswer::Ok; }
};

double peakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024;
    }
    return 0;
}

bool parse(int argc, char** argv, Options& options) {
    options.shape.folders = 100;
    options.shape.others = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--offscreen") {
            options.offscreen = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (arg == "--pictures")
            options.shape.pictures = std::atoi(value);
        else if (arg == "--folders")
            options.shape.folders = std::atoi(value);
        else if (arg == "--distinct")
            options.shape.distinct = std::atoi(value);
        else if (arg == "--rounds")
            options.rounds = std::max(1, std::atoi(value));
        else if (arg == "--work")
            options.work = value;
        else
            return false;
    }
    return options.shape.pictures > 0 && options.shape.folders > 0 && options.shape.distinct > 0;
}

double threadProcessorMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The longest pass of the window's events: the time an event waits at most, on the clock and in
// the processor time of the window's own thread (which a busy machine does not stretch).
struct EventWait {
    double clockMs = 0;
    double processorMs = 0;
};

// Does `step` as one event of the window would be, keeping the longest.
template <class Step> void timeEvent(Step step, EventWait& longest) {
    QElapsedTimer pass;
    pass.start();
    const double processor = threadProcessorMs();
    step();
    longest.processorMs = std::max(longest.processorMs, threadProcessorMs() - processor);
    longest.clockMs = std::max(longest.clockMs, double(pass.nsecsElapsed()) / 1e6);
}

// Lets the window work until `done`.
template <class Done> EventWait runUntil(Done done, qint64 timeoutMs = 600000) {
    QElapsedTimer total;
    total.start();
    EventWait longest;
    while (!done() && total.elapsed() < timeoutMs)
        timeEvent([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }, longest);
    return longest;
}

// The plan window of the menu, made, showing another tab than the pictures'.
frmPlan* openPlan(Form1& form) {
    form.ui.mnuPlan->trigger();
    auto* window = qobject_cast<frmPlan*>(form.frmPlan.window());
    window->resize(780, 540);
    window->tabTables->setCurrentIndex(1);
    runUntil([window] { return window->plan() && !window->isPlanning(); });
    return window;
}

void closePlan(Form1& form) {
    form.frmPlan.close();
    runUntil([&form] { return !form.frmPlan.window(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Milliseconds from the click on the pictures' tab to its first screen drawn.
double firstScreen(Form1& form) {
    frmPlan* window = openPlan(form);
    QElapsedTimer clock;
    clock.start();
    window->tabTables->setCurrentIndex(0);
    runUntil([window] { return window->thumbnails->screenComplete(); });
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    closePlan(form);
    return ms;
}

// Scrolls down a screen at a time, each shown before the next; the longest wait of an event.
EventWait scrollThrough(Form1& form) {
    frmPlan* window = openPlan(form);
    EventWait longest;
    timeEvent([window] { window->tabTables->setCurrentIndex(0); }, longest);
    QScrollBar* bar = window->thumbnails->lstPictures->verticalScrollBar();
    while (true) {
        const EventWait page = runUntil([window] { return window->thumbnails->screenComplete(); });
        longest.clockMs = std::max(longest.clockMs, page.clockMs);
        longest.processorMs = std::max(longest.processorMs, page.processorMs);
        if (bar->value() >= bar->maximum())
            break;
        timeEvent([bar] { bar->setValue(bar->value() + bar->pageStep()); }, longest);
    }
    closePlan(form);
    return longest;
}

// Each picture renamed as a run would and journaled; the entries' following timed alone.
double followEntries(const std::vector<fs::path>& pictures, const Options& options, int& moved) {
    RunStart start{RunKind::Move, 0, 0, options.work / "src", options.work / "src", ""};
    Result<RunJournal> journal = RunJournal::create(options.work / "history", start);
    if (!journal)
        return -1;
    for (const fs::path& picture : pictures) {
        const fs::path renamed = picture.parent_path() / ("moved " + picture.filename().native());
        JournalRecord record(RecordType::Rename);
        record.from = picture;
        record.to = renamed;
        (void)journal.value().append(record);
        fs::rename(picture, renamed);
    }
    const fs::path file = journal.value().file();
    (void)journal.value().finish(kOutcomeCompleted);
    ThumbnailCache cache(options.work / "cache/thumbnails");
    QElapsedTimer clock;
    clock.start();
    moved = followThumbnails(cache, file, JournalPass::Run);
    return double(clock.nsecsElapsed()) / 1e6;
}

void prepareHome(const Options& options) {
    for (const char* folder : {"home", "cache", "prog", "state"})
        fs::create_directories(options.work / folder);
    ::setenv("HOME", (options.work / "home").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (options.work / "cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (options.work / "state").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (options.work / "home/.local/share").c_str(), 1);
    std::ofstream(options.work / "prog/Corvalin.ini", std::ios::binary)
        << "\"" << (options.work / "src").native() << "\",\"" << (options.work / "dst").native()
        << "\",\"\",0,1\r\n";
    fs::create_directories(options.work / "dst");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::puts(
            "usage: corvalin_thumbnails_bench [--pictures N] [--folders N] [--distinct N] [--rounds N]\n"
            "                                 [--work DIR] [--offscreen]\n"
            "Defaults: 10000 pictures of 2 MP (200 distinct, hard links) in 100 folders, 3 rounds,\n"
            "in /var/tmp, in a real X server when Xvfb is installed (else, or with --offscreen,\n"
            "offscreen).");
        return 2;
    }
    if (options.work.empty())
        options.work = "/var/tmp/corvalin-thumbnails-bench"; // a disk, where /tmp may be memory
    fs::remove_all(options.work);
    std::string noServer;
    std::optional<XServer> server = options.offscreen ? std::nullopt : XServer::start(noServer);
    ::setenv("QT_QPA_PLATFORM", server ? "xcb" : "offscreen", 1);
    if (server)
        ::setenv("DISPLAY", server->display().c_str(), 1);
    else
        std::printf("offscreen%s%s\n", noServer.empty() ? "" : ": ", noServer.c_str());
    prepareHome(options);
    QApplication app(argc, argv);
    makePicturePool(options.work / "pool", options.shape);
    std::vector<fs::path> pictures =
        makeSourceTree(options.work / "pool", options.work / "src", options.shape);
    std::printf("%d pictures of %.1f MP in %d folders\n", options.shape.pictures, options.shape.megapixels,
                options.shape.folders);

    Module1 vars;
    SilentMessages messages;
    Form1 form(vars, SettingsFiles{options.work / "prog", options.work / "prog"}, messages);
    form.frmPlan.setFactory([&form] { return createPlanWindow(form); });
    if (!form.Form_Load())
        return 1;
    form.show();
    double cold = 1e9;
    double cached = 1e9;
    for (int round = 0; round < options.rounds; ++round) {
        fs::remove_all(options.work / "cache/thumbnails");
        cold = std::min(cold, firstScreen(form));
    }
    const EventWait longestWait = scrollThrough(form);
    const double peak = peakMegabytes();
    for (int round = 0; round < options.rounds; ++round)
        cached = std::min(cached, firstScreen(form));
    int moved = 0;
    const double followMs = followEntries(pictures, options, moved);
    std::printf("first screen, nothing cached:   %7.1f ms (target 500)\n", cold);
    std::printf("first screen, all cached:       %7.1f ms (target 100)\n", cached);
    std::printf(
        "longest event wait, scrolling:  %7.1f ms (target 50), %.1f ms of the window thread's processor\n",
        longestWait.clockMs, longestWait.processorMs);
    std::printf("peak memory after scrolling:    %7.1f MB (target 300)\n", peak);
    std::printf("entries following a run:        %7.3f ms an entry, %d entries (target 0.2)\n",
                moved > 0 ? followMs / moved : 0.0, moved);
    fs::remove_all(options.work);
    return 0;
}
