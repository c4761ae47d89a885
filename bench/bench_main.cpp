// Times the move-and-number run over a realistic download tree, against a plain shell pipeline
// doing the same job and against the floor of one rename and one counter rewrite per picture.
// Every variant runs in a process of its own on a fresh copy of the same tree.
#include "picture_tree.h"
#include "rounds.h"
#include "variants.h"
#include "xserver.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvalin::bench;
namespace fs = std::filesystem;

namespace {

// The same job as the run, the way one would write it in a shell: every file below the child
// folders, a counter file rewritten per file, pictures renamed with mv -n, the rest removed, then
// the child folders.
const char* const shellPipeline = R"sh(
n=0
while IFS= read -r -d '' f; do
  name=${f##*/}
  printf '%d\r\n' "$n" > "$COUNTER"
  case "${name,,}" in
    *jpg|*jpeg|*bmp)
      base=$name
      [[ ${name:6:1} == ' ' ]] && base=${name:7}
      printf -v prefix '%06d' "$n"
      mv -n -- "$f" "$DST/$prefix $base"
      n=$((n+1)) ;;
    *) rm -f -- "$f" ;;
  esac
done < <(find "$SRC" -mindepth 2 -type f ! -name '.*' -print0)
find "$SRC" -mindepth 1 -maxdepth 1 -type d ! -name '.*' -exec rm -rf {} +
)sh";

struct Options {
    TreeShape shape;
    fs::path work;
    int repeat = 1;
    bool keep = false;
    bool permanent = false;
    std::string display; // the X server's, for the real window; empty without one
};

struct Measured {
    double seconds = -1;
    long peakKilobytes = 0;
};

void usage() {
    std::puts("usage: corvalin_bench [--folders N] [--pictures N] [--others N] [--distinct N]\n"
              "                      [--megapixels X] [--repeat N] [--work DIR] [--keep] [--permanent]\n"
              "Defaults: 500 folders, 10000 pictures, 500 other files, 200 distinct pictures of 2 MP,\n"
              "one round. With --repeat the variants take turns and each keeps its best round. The\n"
              "runs put what is not a picture into a trash in the work folder; with --permanent they\n"
              "delete it for good, as the shell pipeline does.");
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--keep" || arg == "--permanent") {
            (arg == "--keep" ? options.keep : options.permanent) = true;
            continue;
        }
        if (!value)
            return false;
        ++i;
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
        else
            return false;
    }
    return options.shape.folders > 0 && options.shape.pictures >= 0 && options.shape.distinct > 0;
}

// Runs a program, returns what it printed, its exit code and its peak memory.
Measured spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               bool timeWholeProcess) {
    int out[2];
    if (::pipe(out) != 0)
        return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        for (const std::string& variable : environment)
            ::putenv(const_cast<char*>(variable.c_str()));
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string printed;
    char buffer[256];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, std::size_t(got));
    ::close(out[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Measured measured;
    measured.peakKilobytes = usage.ru_maxrss;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        measured.seconds = timeWholeProcess ? wall : std::atof(printed.c_str());
    else
        std::fprintf(stderr, "%s ended with status %d\n", args.back().c_str(), status);
    return measured;
}

std::size_t countFiles(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
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
        measured = spawn({"/bin/bash", "-c", shellPipeline, "shell"},
                         {"SRC=" + (run / "src").native(), "DST=" + (run / "dst").native(),
                          "COUNTER=" + (run / "prog" / "Quillet.ini").native()},
                         true);
    } else {
        std::vector<std::string> environment;
        if (variant == "window-x")
            environment = {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + options.display};
        measured =
            spawn({"/proc/self/exe", "--variant", variant, run.native(), options.permanent ? "1" : "0"},
                  environment, false);
    }
    // The undo ends where the tree began: every picture back, none in the destination; the flushes
    // alone move nothing.
    const std::size_t expected =
        variant == "undo" || variant == "flush" ? 0 : std::size_t(options.shape.pictures);
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

int runChildVariant(const std::string& variant, const fs::path& work, bool permanent) {
    if (variant == "window")
        return runWindowVariant(work, false, permanent);
    if (variant == "window-bare" || variant == "window-x") // no journal, deleted for good
        return runWindowVariant(work, false, true, false);
    if (variant == "undo")
        return runUndoVariant(work, permanent);
    if (variant == "flush")
        return runFlushVariant(work);
    if (variant == "window-inline")
        return runWindowVariant(work, true, permanent);
    if (variant == "core")
        return runCoreVariant(work, permanent);
    if (variant == "floor")
        return runFloorVariant(work);
    return 64;
}

void printLine(const char* label, const Measured& measured, int pictures) {
    if (measured.seconds < 0) {
        std::printf("  %-44s failed\n", label);
        return;
    }
    std::printf("  %-44s %8.3f s  %7.3f ms/picture\n", label, measured.seconds,
                1000 * measured.seconds / std::max(1, pictures));
}

double ratio(const Measured& a, const Measured& b) {
    return a.seconds > 0 && b.seconds > 0 ? a.seconds / b.seconds : 0;
}

enum Variant { Window, WindowBare, WindowX, WindowInline, Core, Shell, Floor, Undo, Flush, VariantCount };
using Results = std::array<Measured, VariantCount>;
const char* const kVariantNames[VariantCount] = {"window", "window-bare", "window-x", "window-inline", "core",
                                                 "shell",  "floor",       "undo",     "flush"};

// Taking turns spreads the load of anything else on the machine over all variants alike; each
// keeps its best round, and one failed round fails it. The real window is skipped without an X
// server.
std::array<Rounds, VariantCount> measureAll(const Options& options) {
    std::array<Rounds, VariantCount> rounds;
    for (int round = 0; round < options.repeat; ++round) {
        for (int v = 0; v < VariantCount; ++v) {
            if (v == WindowX && options.display.empty())
                continue;
            const Measured measured = runVariant(options, kVariantNames[v]);
            rounds[v].add(measured.seconds, measured.peakKilobytes);
        }
    }
    return rounds;
}

Results bestOf(const std::array<Rounds, VariantCount>& rounds) {
    Results best;
    for (int v = 0; v < VariantCount; ++v)
        best[v] = {rounds[v].best(), rounds[v].peakKilobytes()};
    return best;
}

void printReport(const Results& results, int pictures) {
    printLine("(a) main window, offscreen, preview beside", results[Window], pictures);
    printLine("(a0) the same, no journal, deleting for good", results[WindowBare], pictures);
    printLine("(ax) (a0) in a real X server (Xvfb, openbox)", results[WindowX], pictures);
    printLine("(a') main window, preview decoded in line", results[WindowInline], pictures);
    printLine("(b) core run, no window", results[Core], pictures);
    printLine("(c) shell pipeline (find, mv -n, rm)", results[Shell], pictures);
    printLine("(d) floor: rename + counter rewrite", results[Floor], pictures);
    printLine("(u) undo of the run of (a)", results[Undo], pictures);
    printLine("(j) the journal's flushes alone, per folder", results[Flush], pictures);
    std::printf("\n  a/d = %.2f   b/d = %.2f   a/c = %.3f   a'/a = %.2f\n",
                ratio(results[Window], results[Floor]), ratio(results[Core], results[Floor]),
                ratio(results[Window], results[Shell]), ratio(results[WindowInline], results[Window]));
    std::printf("  a/a0 = %.3f (target at most 1.10)   u/a = %.3f (target at most 1.00)   j/a0 = %.3f\n",
                ratio(results[Window], results[WindowBare]), ratio(results[Undo], results[Window]),
                ratio(results[Flush], results[WindowBare]));
    std::printf("  a0/d = %.2f (target at most 1.20)   ax/d = %.2f (target at most 1.30)\n",
                ratio(results[WindowBare], results[Floor]), ratio(results[WindowX], results[Floor]));
    std::printf("  peak memory of (a): %.1f MB\n", double(results[Window].peakKilobytes) / 1024);
}

// How far each variant's rounds lay apart: a wide spread says the machine was busy with more than
// the benchmark.
void printSpread(const std::array<Rounds, VariantCount>& rounds, int repeat) {
    if (repeat < 2)
        return;
    const char* const labels[VariantCount] = {"a", "a0", "ax", "a'", "b", "c", "d", "u", "j"};
    std::vector<std::pair<std::string, const Rounds*>> shown;
    for (int v = 0; v < VariantCount; ++v)
        shown.emplace_back(labels[v], &rounds[v]);
    std::printf("  spread of the %d rounds, slowest over fastest: %s\n", repeat,
                describeSpread(shown).c_str());
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
    if (options.work.empty()) {
        char pattern[] = "/var/tmp/corvalin-bench-XXXXXX";
        if (!::mkdtemp(pattern))
            return 1;
        options.work = pattern;
    }
    // The runs' trash lies in the work folder, on the tree's own file system, never in the user's.
    ::setenv("XDG_DATA_HOME", (options.work / "data").c_str(), 1);
    // The window's runs draw nowhere unless a variant names a real X server.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const TreeShape& shape = options.shape;
    std::printf("Tree: %d child folders, %d pictures (%d distinct, %.1f MP), %d other files, in %s\n",
                shape.folders, shape.pictures, shape.distinct, shape.megapixels, shape.others,
                options.work.c_str());
    std::printf("What is not a picture: %s\n", options.permanent ? "deleted for good" : "to the trash");
    const double averageBytes = makePicturePool(options.work / "pool", shape);
    makeSourceTree(options.work / "pool", options.work / "master", shape);
    std::printf("Average picture: %.0f KB\n\n", averageBytes / 1024);
    std::string noServer;
    std::optional<XServer> server = XServer::start(noServer);
    if (server)
        options.display = server->display();
    else
        std::printf("(ax) skipped: %s\n\n", noServer.c_str());
    const auto rounds = measureAll(options);
    const Results results = bestOf(rounds);
    printReport(results, shape.pictures);
    printSpread(rounds, options.repeat);
    if (!options.keep)
        fs::remove_all(options.work);
    bool allRan = true;
    for (int v = 0; v < VariantCount; ++v)
        allRan = allRan && (results[v].seconds > 0 || (v == WindowX && !server));
    return allRan ? 0 : 1;
}
