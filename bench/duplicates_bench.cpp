// Times the move run with duplicates left out against the same run without, into a destination that
// already holds 100,000 pictures: (b) the core run and (a) the main window on the offscreen
// platform, each in a process of its own on a fresh copy of the same trees. One round has no
// duplicates; in the other a fifth of the moved pictures equal pictures already there. Prints the
// time to list and stat the destination and the time to read each duplicate and its twin once,
// which bound what leaving duplicates out may cost, and the peak memory of the core runs.
#include "engine/move_run.h"
#include "picture_tree.h"
#include "platform/removal.h"
#include "platform/same_content.h"
#include "variants.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvalin;
using namespace corvalin::bench;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Shape {
    int held = 100000;    // pictures already in the destination
    int pictures = 10000; // moved, in 500 child folders
    int folders = 500;
    int repeat = 1;
    std::string only; // "b-fifth-on" and the like: that variant alone, for a profiler
    fs::path work = "/var/tmp/corvalin-duplicates-bench";
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A picture's head with a comment of its own, a hole, and the end marker: distinct pictures of
// `size` bytes that take a block or two of disk each.
bool writePicture(const fs::path& file, const std::string& comment, std::uint64_t size) {
    std::string head = "\xff\xd8\xff\xfe";
    const std::size_t length = comment.size() + 2;
    head += char(length >> 8);
    head += char(length & 0xff);
    head += comment;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool written = ::write(fd, head.data(), head.size()) == ssize_t(head.size()) &&
                   ::pwrite(fd, "\xff\xd9", 2, off_t(size - 2)) == 2;
    return ::close(fd) == 0 && written;
}

std::uint64_t sizeFor(std::mt19937_64& random) {
    return 100000 + random() % 200001;
}

struct Trees {
    fs::path source;
    fs::path plainDestination; // no picture equals a moved one
    fs::path twinDestination;  // a fifth of the moved pictures have a twin here
    std::vector<std::pair<fs::path, fs::path>> twins;
};

bool makeTrees(const Shape& shape, Trees& trees) {
    trees.source = shape.work / "base/src";
    trees.plainDestination = shape.work / "base/dst-plain";
    trees.twinDestination = shape.work / "base/dst-twins";
    for (const fs::path& folder : {trees.plainDestination, trees.twinDestination})
        fs::create_directories(folder);
    std::mt19937_64 random(20240601);
    for (int i = 0; i < shape.held; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "%06d held %d.jpg", i, i);
        if (!writePicture(trees.plainDestination / name, "held " + std::to_string(i), sizeFor(random)))
            return false;
    }
    // The twins replace as many held pictures, so that both destinations hold as many.
    int replaced = 0;
    for (const auto& entry : fs::directory_iterator(trees.plainDestination)) {
        if (replaced++ >= shape.pictures / 5)
            fs::create_hard_link(entry.path(), trees.twinDestination / entry.path().filename());
    }
    for (int i = 0; i < shape.pictures; ++i) {
        const fs::path folder = trees.source / ("folder " + std::to_string(i % shape.folders));
        fs::create_directories(folder);
        const fs::path picture = folder / ("download " + std::to_string(i) + ".jpg");
        const std::uint64_t size = sizeFor(random);
        const std::string comment = "source " + std::to_string(i);
        if (!writePicture(picture, comment, size))
            return false;
        if (i % 5 == 0) {
            const fs::path twin = trees.twinDestination / ("saved " + std::to_string(i) + ".jpg");
            if (!writePicture(twin, comment, size))
                return false;
            trees.twins.emplace_back(picture, twin);
        }
    }
    return true;
}

struct SilentObserver : MoveRunObserver {
    fs::path dest;
    void yield() override {}
    void surveyStarted() override {}
    bool stopRequested() override { return false; }
    bool cancelRequested() override { return false; }
    fs::path destination() override { return dest; }
};

double peakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024;
    }
    return 0;
}

// The core run, printed as the window variant prints: "seconds flushes cpu", then the peak memory.
int coreRun(const fs::path& run, bool skip) {
    Module1 vars;
    SilentObserver observer;
    observer.dest = run / "dst";
    std::vector<fs::path> folderList;
    MoveRun moveRun(vars, {run / "prog", run / "prog"}, observer, Removal(false));
    moveRun.setSkipDuplicates(skip);
    const auto start = Clock::now();
    const MoveRunResult result = moveRun.run(run / "src", true, folderList);
    std::printf("%.6f 0 0\n%.1f\n", secondsSince(start), peakMegabytes());
    return result.outcome == MoveOutcome::Completed ? 0 : 3;
}

struct Measured {
    double seconds = -1;
    double megabytes = 0;
};

// One variant in a child process on a fresh copy of the trees; a run that leaves the destination
// holding other than `expected` files counts as failed.
Measured runVariant(const Shape& shape, const fs::path& source, const fs::path& destination, char kind,
                    bool skip, std::size_t expected) {
    const fs::path run = shape.work / "run";
    fs::remove_all(run);
    fs::create_directories(run / "prog");
    linkCopy(source, run / "src");
    linkCopy(destination, run / "dst");
    if (skip)
        std::ofstream(run / "prog" / "Corvalin.conf") << "skip_duplicates=true\n";
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        const int status = kind == 'b' ? coreRun(run, skip) : runWindowVariant(run, false, false, true);
        std::fflush(stdout);
        ::_exit(status);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Measured measured;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return measured;
    const auto held = std::distance(fs::directory_iterator(run / "dst"), fs::directory_iterator());
    if (std::size_t(held) != expected) {
        std::fprintf(stderr, "the destination holds %zu files, not %zu\n", std::size_t(held), expected);
        return measured;
    }
    std::sscanf(out.c_str(), "%lf", &measured.seconds);
    if (const std::size_t line = out.find('\n'); line != std::string::npos)
        measured.megabytes = std::atof(out.c_str() + line + 1);
    return measured;
}

// What leaving duplicates out must pay at least: the destination listed and every picture's size
// asked once.
double statSeconds(const fs::path& destination) {
    const auto start = Clock::now();
    std::vector<std::string> names;
    const Result<HeldFolder> held = HeldFolder::open(destination);
    if (!held)
        return secondsSince(start);
    (void)forEachFileName(
        held.value(), [](std::string_view) { return true; },
        [&names](std::string_view name) { names.emplace_back(name); });
    (void)sizesIn(
        held.value(), names.size(), 1, [&names](std::size_t i) { return names[i].c_str(); },
        [](std::size_t, std::optional<std::uint64_t>) {});
    return secondsSince(start);
}

double readTwinsSeconds(const Trees& trees) {
    const auto start = Clock::now();
    for (const auto& [picture, twin] : trees.twins) {
        const Result<HeldFolder> one = HeldFolder::open(picture.parent_path());
        const Result<HeldFolder> two = HeldFolder::open(twin.parent_path());
        if (one && two)
            (void)compareContents({one.value(), picture.filename().native()},
                                  {two.value(), twin.filename().native()}, fs::file_size(picture));
    }
    return secondsSince(start);
}

std::string variantName(int kind, int round, int skip) {
    return std::string(kind == 0 ? "a" : "b") + (round == 0 ? "-none-" : "-fifth-") + (skip ? "on" : "off");
}

// What removing the duplicates costs beyond reading them: each one (a link to it, so that the
// trees stay whole) put into the Trash as the run puts it, with its information file.
double trashSeconds(const Shape& shape, const Trees& trees) {
    const fs::path scratch = shape.work / "to-trash";
    fs::create_directories(scratch);
    std::vector<fs::path> links;
    for (const auto& [picture, twin] : trees.twins) {
        links.push_back(scratch / ("trashed " + std::to_string(links.size()) + ".jpg"));
        fs::create_hard_link(picture, links.back());
    }
    const Removal removal(false);
    const auto start = Clock::now();
    for (const fs::path& link : links)
        (void)removal.removeFile(link);
    const double seconds = secondsSince(start);
    fs::remove_all(scratch);
    fs::remove_all(shape.work / "data");
    return seconds;
}

bool parse(int argc, char** argv, Shape& shape) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (arg == "--held")
            shape.held = value;
        else if (arg == "--pictures")
            shape.pictures = value;
        else if (arg == "--folders")
            shape.folders = std::max(1, value);
        else if (arg == "--repeat")
            shape.repeat = std::max(1, value);
        else if (arg == "--work")
            shape.work = argv[i + 1];
        else if (arg == "--only")
            shape.only = argv[i + 1];
        else
            return false;
    }
    return argc % 2 == 1 && shape.held >= 0 && shape.pictures >= 5;
}

} // namespace

int main(int argc, char** argv) {
    Shape shape;
    if (!parse(argc, argv, shape)) {
        std::puts("usage: corvalin_duplicates_bench [--held N] [--pictures N] [--folders N] [--repeat N] "
                  "[--work DIR] [--only a|b-none|fifth-off|on]\n"
                  "Defaults: 100000 held, 10000 pictures in 500 folders, 1 round.");
        return 2;
    }
    fs::remove_all(shape.work);
    ::setenv("XDG_DATA_HOME", (shape.work / "data").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Trees trees;
    if (!makeTrees(shape, trees)) {
        std::fprintf(stderr, "cannot make the trees in %s\n", shape.work.c_str());
        return 1;
    }
    double stat = 1e9;
    double reads = 1e9;
    double trash = 1e9;
    // [round][kind][option]: the best of the repeats.
    Measured best[2][2][2];
    for (int repeat = 0; repeat < shape.repeat; ++repeat) {
        stat = std::min(stat, statSeconds(trees.plainDestination));
        reads = std::min(reads, readTwinsSeconds(trees));
        trash = std::min(trash, trashSeconds(shape, trees));
        for (int round = 0; round < 2; ++round) {
            const fs::path& destination = round == 0 ? trees.plainDestination : trees.twinDestination;
            for (int kind = 0; kind < 2; ++kind) {
                for (int skip = 0; skip < 2; ++skip) {
                    if (!shape.only.empty() && shape.only != variantName(kind, round, skip))
                        continue;
                    const std::size_t left = skip == 1 && round == 1 ? trees.twins.size() : 0;
                    const Measured m = runVariant(shape, trees.source, destination, kind == 0 ? 'a' : 'b',
                                                  skip == 1, std::size_t(shape.held + shape.pictures) - left);
                    if (!shape.only.empty())
                        std::printf("%s: %.3f s\n", shape.only.c_str(), m.seconds);
                    Measured& kept = best[round][kind][skip];
                    if (m.seconds < 0)
                        std::fprintf(stderr, "a variant failed\n");
                    if (kept.seconds < 0 || (m.seconds >= 0 && m.seconds < kept.seconds))
                        kept = m;
                }
            }
        }
    }
    std::printf("destination: %d pictures; moved: %d pictures in %d folders; %zu twins\n", shape.held,
                shape.pictures, shape.folders, trees.twins.size());
    std::printf("time to list and stat the destination: %.3f s\n", stat);
    std::printf("time to read each duplicate and its twin once: %.3f s\n", reads);
    std::printf("time to put each duplicate in the Trash: %.3f s\n", trash);
    const char* kinds[] = {"a (window)", "b (core)"};
    for (int kind = 0; kind < 2; ++kind) {
        const Measured* none = best[0][kind];
        const Measured* fifth = best[1][kind];
        const double limitNone = 1.1 * none[0].seconds + stat;
        const double limitFifth = fifth[0].seconds + reads;
        std::printf("%s, no duplicates: off %.3f s, on %.3f s (target at most %.3f s: %s)\n", kinds[kind],
                    none[0].seconds, none[1].seconds, limitNone,
                    none[1].seconds <= limitNone ? "met" : "missed");
        std::printf("%s, a fifth duplicates: off %.3f s, on %.3f s (target at most %.3f s: %s)\n",
                    kinds[kind], fifth[0].seconds, fifth[1].seconds, limitFifth,
                    fifth[1].seconds <= limitFifth ? "met" : "missed");
        // The same round against all it must pay: the listing and the Trash as well as the reads.
        const double limitAll = fifth[0].seconds + reads + stat + trash;
        std::printf("%s, a fifth duplicates, the listing and the Trash counted too: at most %.3f s: %s\n",
                    kinds[kind], limitAll, fifth[1].seconds <= limitAll ? "met" : "missed");
    }
    std::printf("peak memory of the core run, no duplicates: off %.1f MB, on %.1f MB (%+.1f MB)\n",
                best[0][1][0].megabytes, best[0][1][1].megabytes,
                best[0][1][1].megabytes - best[0][1][0].megabytes);
    fs::remove_all(shape.work);
    return 0;
}
