// Times what the numbers a destination already holds cost a move run. A destination of 200,000
// numbered pictures is listed for its numbers (what a run does once, when it first meets it) beside
// the listing the window's file list makes of it (what the display already pays), and the core run
// moves 2,000 pictures into it beside the same run into an empty destination. Prints held/list
// (the target: at most 1.0) and what the full destination added to the run, over one listing.
#include "engine/move_run.h"
#include "naming/held_numbers.h"
#include "platform/file_ops.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace corvalin;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Shape {
    int held = 200000;   // numbered names in the full destination
    int pictures = 2000; // moved, in 100 child folders
    int folders = 100;
    int rounds = 5;
    fs::path work = "/var/tmp/corvalin-held-bench";
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool writeFile(const fs::path& file, const std::string& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    return fd >= 0 && ::close(fd) == 0 && written;
}

// Names only count: every numbered name is an empty file (a file has too few links for them all).
bool makeFullDestination(const Shape& shape, const fs::path& destination) {
    fs::create_directories(destination);
    for (int i = 0; i < shape.held; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%06d held.jpg", i);
        const int fd = ::open((destination / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 || ::close(fd) != 0)
            return false;
    }
    return true;
}

bool makeSource(const Shape& shape, const fs::path& source) {
    for (int i = 0; i < shape.pictures; ++i) {
        const fs::path folder = source / ("folder " + std::to_string(i % shape.folders));
        fs::create_directories(folder);
        if (!writeFile(folder / ("download " + std::to_string(i) + ".jpg"), std::string(1024, 'p')))
            return false;
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

// The core run from a fresh source into `destination`, in milliseconds; the pictures it moved are
// taken out again afterwards, so that every round meets the same destination. Negative on failure.
double timedRun(const Shape& shape, const fs::path& destination) {
    const fs::path source = shape.work / "src";
    fs::remove_all(source);
    if (!makeSource(shape, source))
        return -1;
    Module1 vars;
    SilentObserver observer;
    observer.dest = destination;
    MoveRun run(vars, {shape.work / "prog", shape.work / "prog"}, observer, Removal(true));
    std::vector<fs::path> folderList;
    const auto start = Clock::now();
    const MoveRunResult result = run.run(source, true, folderList);
    const double elapsed = millisecondsSince(start);
    for (const auto& entry : fs::directory_iterator(destination)) {
        if (entry.path().filename().native().find(" download ") != std::string::npos)
            fs::remove(entry.path());
    }
    return result.outcome == MoveOutcome::Completed ? elapsed : -1;
}

template <class Work> double bestOf(int rounds, Work work) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        if (!work())
            return -1;
        best = std::min(best, millisecondsSince(start));
    }
    return best;
}

bool parse(int argc, char** argv, Shape& shape) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--held")
            shape.held = std::atoi(value);
        else if (option == "--pictures")
            shape.pictures = std::atoi(value);
        else if (option == "--folders")
            shape.folders = std::atoi(value);
        else if (option == "--rounds")
            shape.rounds = std::atoi(value);
        else if (option == "--work")
            shape.work = value;
        else
            return false;
    }
    return (argc % 2) == 1 && shape.held > 0 && shape.pictures > 0 && shape.folders > 0 && shape.rounds > 0;
}

} // namespace

int main(int argc, char** argv) {
    Shape shape;
    if (!parse(argc, argv, shape)) {
        std::fprintf(stderr, "usage: corvalin_held_numbers_bench [--held N] [--pictures N] [--folders N] "
                             "[--rounds N] [--work DIR]\n");
        return 2;
    }
    fs::remove_all(shape.work);
    const fs::path full = shape.work / "full";
    const fs::path empty = shape.work / "empty";
    fs::create_directories(empty);
    fs::create_directories(shape.work / "prog");
    if (!makeFullDestination(shape, full)) {
        std::fprintf(stderr, "could not make the destination in %s\n", shape.work.c_str());
        return 1;
    }
    const double held = bestOf(shape.rounds, [&] { return heldNumbersIn(full).ok(); });
    const double listed = bestOf(shape.rounds, [&] { return listFiles(full).ok(); });
    // What a run's start already read there before it held numbers: leftovers of an interrupted move.
    const double recovered = bestOf(shape.rounds, [&] { return recoverInterruptedMoves(full).ok(); });
    double intoEmpty = 1e300;
    double intoFull = 1e300;
    for (int i = 0; i < shape.rounds; ++i) {
        const double a = timedRun(shape, empty);
        const double b = timedRun(shape, full);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        intoEmpty = std::min(intoEmpty, a);
        intoFull = std::min(intoFull, b);
    }
    std::printf("destination of %d numbered names, best of %d rounds\n", shape.held, shape.rounds);
    std::printf("  listed for the numbers it holds  %9.2f ms\n", held);
    std::printf("  listed as the file list shows it %9.2f ms\n", listed);
    std::printf("  read for interrupted moves       %9.2f ms (as every run's start did before)\n", recovered);
    std::printf("  held/list = %.2f (target: at most 1.0)\n", held / listed);
    std::printf("core run of %d pictures in %d folders\n", shape.pictures, shape.folders);
    std::printf("  into an empty destination        %9.2f ms\n", intoEmpty);
    std::printf("  into the full destination        %9.2f ms\n", intoFull);
    std::printf("  (full - empty)/list = %.2f\n", (intoFull - intoEmpty) / listed);
    fs::remove_all(shape.work);
    return 0;
}
