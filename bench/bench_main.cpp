// Times the move-and-number run over a realistic download tree, against a plain shell pipeline
// doing the same job and against the floor of one rename and one counter rewrite per picture.
// Every variant runs in a process of its own on a fresh copy of the same tree.
#include "across.h"
#include "picture_tree.h"
#include "processes.h"
#include "rounds.h"
#include "screen_reader.h"
#include "variants.h"
#include "work_disk.h"
#include "xserver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace corvalin::bench;
namespace fs = std::filesystem;

namespace {

struct Options {
    TreeShape shape;
    bool shapeGiven = false;
    fs::path work;
    fs::path destinations; // on another file system, for moves across file systems
    int repeat = 1;
    bool keep = false;
    bool permanent = false;
    bool cached = false;             // across file systems: leave the page cache alone
    FlushModel model;                // every variant runs under it
    std::string display;             // the X server's, for the real window; empty without one
    std::vector<std::string> reader; // the screen reader's environment; empty without one
    std::vector<std::string> only;   // the labels of the variants to run; empty: all
};

void usage() {
    std::puts("usage: corvalin_bench [--folders N] [--pictures N] [--others N] [--distinct N]\n"
              "                      [--megapixels X] [--repeat N] [--work DIR] [--keep] [--permanent]\n"
              "                      [--only a,a0,ax,ar,a',b,c,d,e,s,sj,u,j] [--dest-dir DIR [--cached]]\n"
              "                      [--flush-delay MS]\n"
              "Defaults: 500 folders, 10000 pictures, 500 other files, 200 distinct pictures of 2 MP,\n"
              "one round. With --repeat the variants take turns and each keeps its best round. The\n"
              "runs put what is not a picture into a trash in the work folder; with --permanent they\n"
              "delete it for good, as the shell pipeline does. --only runs the variants named, so that\n"
              "more rounds of a few of them fit in the same time.\n"
              "--dest-dir DIR moves to DIR on another file system instead, against mv -n in a shell\n"
              "loop and cp -r, each followed by sync, with the page cache dropped before each run\n"
              "where the system allows it (as root) unless --cached. Defaults then: 60 folders, 1500\n"
              "pictures, each its own file, of 4 MP, and 60 other files.\n"
              "--flush-delay MS makes each wait for the disk (fsync, fdatasync, syncfs, sync, ...)\n"
              "in every variant wait MS milliseconds first, as a hard disk or a memory card would.\n"
              "Every variant's flushes are counted and printed beside its time.");
}

std::vector<std::string> splitLabels(const std::string& list) {
    std::vector<std::string> labels;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        labels.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return labels;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--keep" || arg == "--permanent" || arg == "--cached") {
            (arg == "--keep" ? options.keep : arg == "--cached" ? options.cached : options.permanent) = true;
            continue;
        }
        if (!value)
            return false;
        ++i;
        const bool shapeArg = arg == "--folders" || arg == "--pictures" || arg == "--others" ||
                              arg == "--distinct" || arg == "--megapixels";
        options.shapeGiven = options.shapeGiven || shapeArg;
        if (arg == "--folders")
            options.shape.folders = std::atoi(value);
        else if (arg == "--pictures")
            options.shape.pictures = std::atoi(value);
        else if (arg == "--others")
            options.shape.others = std::atoi(value);
        else if (arg == "--distinct")
            options.shape.distinct = std::atoi(value);
        else if (arg == "--megapixels")
            options.shape.megapixels = std::atof(value);
        else if (arg == "--repeat")
            options.repeat = std::max(1, std::atoi(value));
        else if (arg == "--work")
            options.work = value;
        else if (arg == "--dest-dir")
            options.destinations = value;
        else if (arg == "--only")
            options.only = splitLabels(value);
        else if (arg == "--flush-delay")
            options.model.delayMs = std::max(0, std::atoi(value));
        else
            return false;
    }
    return options.shape.folders > 0 && options.shape.pictures >= 0 && options.shape.distinct > 0;
}

// A fresh copy of the tree, the variant run on it, and a check that it did the whole job.
Measured runVariant(const Options& options, const std::string& variant) {
    const fs::path run = options.work / ("run-" + variant);
    fs::remove_all(run);
    fs::create_directories(run / "dst");
    fs::create_directories(run / "prog");
    linkCopy(options.work / "master", run / "src");
    ::sync();
    Measured measured;
    if (variant == "shell") {
        measured = spawn({"/bin/bash", "-c", kShellPipeline, "shell"},
                         {"SRC=" + (run / "src").native(), "DST=" + (run / "dst").native(),
                          "COUNTER=" + (run / "prog" / "Quillet.ini").native()},
                         true, options.model);
    } else {
        std::vector<std::string> environment;
        if (variant == "window-x" || variant == "window-x-reader")
            environment = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + options.display};
        if (variant == "window-x-reader")
            environment.insert(environment.end(), options.reader.begin(), options.reader.end());
        measured =
            spawn({"/proc/self/exe", "--variant", variant, run.native(), options.permanent ? "1" : "0"},
                  environment, false, options.model);
    }
    // The undo ends where the tree began: every picture back, none in the destination; the journal
    // alone moves nothing.
    const std::size_t expected =
        variant == "undo" || variant == "journal" ? 0 : std::size_t(options.shape.pictures);
    const std::size_t moved = countFiles(run / "dst");
    if (moved != expected) {
        std::fprintf(stderr, "%s left %zu of %d pictures in the destination\n", variant.c_str(), moved,
                     options.shape.pictures);
        measured.seconds = -1;
    }
    if (!options.keep) {
        fs::remove_all(run);
        fs::remove_all(options.work / "data" / "Trash"); // every run starts with the same, empty trash
    }
    return measured;
}

enum Variant {
    Window,
    WindowBare,
    WindowX,
    WindowXReader,
    WindowInline,
    Core,
    Shell,
    Floor,
    FloorRemovals,
    SafeFloor,
    SafeFloorJournal,
    Undo,
    Journal,
    VariantCount
};
using Results = std::array<Measured, VariantCount>;
const char* const kVariantNames[VariantCount] = {
    "window", "window-bare",    "window-x",   "window-x-reader",    "window-inline", "core",   "shell",
    "floor",  "floor-removals", "floor-safe", "floor-safe-journal", "undo",          "journal"};
const char* const kVariantLabels[VariantCount] = {"a", "a0", "ax", "ar", "a'", "b", "c",
                                                  "d", "e",  "s",  "sj", "u",  "j"};

bool chosen(const Options& options, int variant) {
    return options.only.empty() ||
           std::find(options.only.begin(), options.only.end(), kVariantLabels[variant]) != options.only.end();
}

// Taking turns spreads the load of anything else on the machine over all variants alike; each
// keeps its best round, and one failed round fails it. The real window is skipped without an X
// server.
std::array<Rounds, VariantCount> measureAll(const Options& options) {
    std::array<Rounds, VariantCount> rounds;
    for (int round = 0; round < options.repeat; ++round) {
        for (int v = 0; v < VariantCount; ++v) {
            if ((v == WindowX && options.display.empty()) || (v == WindowXReader && options.reader.empty()) ||
                !chosen(options, v))
                continue;
            const Measured measured = runVariant(options, kVariantNames[v]);
            rounds[v].add(measured);
        }
    }
    return rounds;
}

Results bestOf(const std::array<Rounds, VariantCount>& rounds) {
    Results best;
    for (int v = 0; v < VariantCount; ++v)
        best[v] = rounds[v].best();
    return best;
}

// A ratio of two variants, or "-" where either did not run.
std::string ratioText(const Measured& a, const Measured& b, const char* format = "%.2f") {
    const double value = ratio(a, b);
    if (value <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// What the way back may cost in flushes: those of the run without it, plus the journal's start
// (the file and its folder), its end, and for each second begun one flush of each file system
// holding a record or a trash info file written in that second: here the journal and the trash
// share the work folder's, so one syncfs serves both. With a delay, the time those extra flushes
// take, plus 5%.
void printFlushBudget(const Measured& run, const Measured& bare, int delayMs) {
    if (run.seconds <= 0 || bare.seconds <= 0)
        return;
    const long seconds = long(std::ceil(run.seconds));
    const long extra = 2 + 1 + seconds;
    std::printf("  flushes of (a): %ld, allowed %ld: (a0)'s %ld + the start record (file and folder) + the "
                "end + %ld for the seconds begun\n",
                run.flushes, bare.flushes + extra, bare.flushes, seconds);
    if (delayMs > 0)
        std::printf("  time of (a) at %d ms a flush: %.3f s, allowed %.3f s: (a0)'s + %ld flushes, + 5%%\n",
                    delayMs, run.seconds, (bare.seconds + double(extra * delayMs) / 1000) * 1.05, extra);
}

void printReport(const Options& options, const Results& results) {
    const char* const lines[VariantCount] = {
        "(a) main window, offscreen, preview beside",   "(a0) the same, no journal, deleting for good",
        "(ax) (a0) in a real X server (Xvfb, openbox)", "(ar) (ax) with a screen reader attached",
        "(a') main window, preview decoded in line",    "(b) core run, no window",
        "(c) shell pipeline (find, mv -n, rm)",         "(d) floor: rename + counter rewrite",
        "(e) (d), then the rest deleted for good",      "(s) (e) safe: looked up, held, to the trash",
        "(sj) (s) with a journal line for each step",   "(u) undo of the run of (a)",
        "(j) the journal alone, as (a) writes it"};
    for (int v = 0; v < VariantCount; ++v) {
        if (chosen(options, v))
            printLine(lines[v], results[v], options.shape.pictures);
    }
    const auto& r = results;
    // The floor (e) is what the disk must do for every run that deletes: the renames and counter
    // rewrites of (d), then the other files and the emptied folders deleted for good.
    std::printf("\n  a/e = %s (target at most 1.5)   a0/e = %s   ax/e = %s (targets at most 1.3)\n",
                ratioText(r[Window], r[FloorRemovals]).c_str(),
                ratioText(r[WindowBare], r[FloorRemovals]).c_str(),
                ratioText(r[WindowX], r[FloorRemovals]).c_str());
    std::printf("  ar/ax = %s (target at most 1.05)\n",
                ratioText(r[WindowXReader], r[WindowX], "%.3f").c_str());
    std::printf("  b/e = %s (target at most 1.15)   u/a = %s (target at most 1.00)\n",
                ratioText(r[Core], r[FloorRemovals]).c_str(), ratioText(r[Undo], r[Window], "%.3f").c_str());
    std::printf("  a/a0 = %s   j/a0 = %s   a/d = %s   b/d = %s   a/c = %s   a'/a = %s\n",
                ratioText(r[Window], r[WindowBare], "%.3f").c_str(),
                ratioText(r[Journal], r[WindowBare], "%.3f").c_str(), ratioText(r[Window], r[Floor]).c_str(),
                ratioText(r[Core], r[Floor]).c_str(), ratioText(r[Window], r[Shell], "%.3f").c_str(),
                ratioText(r[WindowInline], r[Window]).c_str());
    // The safe floors do what the defaults require in the plainest way: over them, the run's own cost.
    std::printf("  s/e = %s   sj/e = %s   b/s = %s   a/sj = %s\n",
                ratioText(r[SafeFloor], r[FloorRemovals]).c_str(),
                ratioText(r[SafeFloorJournal], r[FloorRemovals]).c_str(),
                ratioText(r[Core], r[SafeFloor]).c_str(), ratioText(r[Window], r[SafeFloorJournal]).c_str());
    printFlushBudget(r[Window], r[WindowBare], options.model.delayMs);
    if (chosen(options, Window))
        std::printf("  peak memory of (a): %.1f MB\n", double(r[Window].peakKilobytes) / 1024);
}

// How far each variant's rounds lay apart: a wide spread says the machine was busy with more than
// the benchmark.
void printSpread(const std::array<Rounds, VariantCount>& rounds, int repeat) {
    if (repeat < 2)
        return;
    std::vector<std::pair<std::string, const Rounds*>> shown;
    for (int v = 0; v < VariantCount; ++v)
        shown.emplace_back(kVariantLabels[v], &rounds[v]);
    std::printf("  spread of the %d rounds, slowest over fastest: %s\n", repeat,
                describeSpread(shown).c_str());
    if (repeat < 3)
        return;
    const std::tuple<int, int, const char*> ratios[] = {
        {Window, FloorRemovals, "a/e"},   {WindowBare, FloorRemovals, "a0/e"},
        {WindowX, FloorRemovals, "ax/e"}, {Core, FloorRemovals, "b/e"},
        {Core, SafeFloor, "b/s"},         {Window, SafeFloorJournal, "a/sj"}};
    std::string text;
    for (const auto& [variant, floor, label] : ratios) {
        const double median = medianRoundRatio(rounds[variant], rounds[floor]);
        char part[32];
        std::snprintf(part, sizeof part, "%s%s = %.2f", text.empty() ? "" : "   ", label, median);
        if (median > 0)
            text += part;
    }
    if (!text.empty())
        std::printf("  round by round (the median of each round's own ratio): %s\n", text.c_str());
}

int timeOnOneFileSystem(Options options) {
    std::string noServer;
    // Started only for the variant that needs it.
    std::optional<XServer> server =
        chosen(options, WindowX) || chosen(options, WindowXReader) ? XServer::start(noServer) : std::nullopt;
    if (server)
        options.display = server->display();
    else if (chosen(options, WindowX))
        std::printf("(ax) skipped: %s\n\n", noServer.c_str());
    std::string noReader = "no X server";
    std::optional<ScreenReader> reader = server && chosen(options, WindowXReader)
                                             ? ScreenReader::start(server->display(), noReader)
                                             : std::nullopt;
    if (reader)
        options.reader = reader->environment();
    else if (chosen(options, WindowXReader))
        std::printf("(ar) skipped: %s\n\n", noReader.c_str());
    const auto rounds = measureAll(options);
    if (reader)
        std::printf("(ar) the screen reader heard %ld events\n\n", reader->stop());
    const Results results = bestOf(rounds);
    printReport(options, results);
    printSpread(rounds, options.repeat);
    bool allRan = true;
    for (int v = 0; v < VariantCount; ++v)
        allRan = allRan && (!chosen(options, v) || results[v].seconds > 0 || (v == WindowX && !server) ||
                            (v == WindowXReader && !reader));
    return allRan ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--variant") == 0)
        return runChildVariant(argv[2], argv[3], std::strcmp(argv[4], "1") == 0);
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 64;
    }
    if (!options.destinations.empty() && !options.shapeGiven)
        options.shape = {.folders = 60, .pictures = 1500, .others = 60, .distinct = 1500, .megapixels = 4};
    if (options.work.empty()) {
        char pattern[] = "/var/tmp/corvalin-bench-XXXXXX";
        if (!::mkdtemp(pattern))
            return 1;
        options.work = pattern;
    }
    options.model.library = fs::read_symlink("/proc/self/exe").parent_path() / CORVALIN_FLUSH_MODEL;
    options.model.counts = options.work / "flush-counts";
    if (!fs::exists(options.model.library)) {
        std::fprintf(stderr, "the slow-disk model %s is missing: build the target corvalin_flush_model\n",
                     options.model.library.c_str());
        return 1;
    }
    // The runs' trash lies in the work folder, on the tree's own file system, never in the user's.
    ::setenv("XDG_DATA_HOME", (options.work / "data").c_str(), 1);
    // The window's runs draw nowhere unless a variant names a real X server.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    warnOfExt4WithoutJournal(options.work);
    const TreeShape& shape = options.shape;
    std::printf("Tree: %d child folders, %d pictures (%d distinct, %.1f MP), %d other files, in %s\n",
                shape.folders, shape.pictures, shape.distinct, shape.megapixels, shape.others,
                options.work.c_str());
    std::printf("What is not a picture: %s\n", options.permanent ? "deleted for good" : "to the trash");
    if (options.model.delayMs > 0)
        std::printf("Slow disk: every flush waits %d ms first\n", options.model.delayMs);
    const double averageBytes = makePicturePool(options.work / "pool", shape);
    makeSourceTree(options.work / "pool", options.work / "master", shape);
    std::printf("Average picture: %.0f KB\n\n", averageBytes / 1024);
    const int status = options.destinations.empty()
                           ? timeOnOneFileSystem(options)
                           : timeAcrossFileSystems({options.work, options.destinations, shape.pictures,
                                                    shape.others, options.repeat, options.permanent,
                                                    options.keep, !options.cached, options.model});
    if (!options.keep)
        fs::remove_all(options.work);
    return status;
}
