#include "across.h"

#include "picture_tree.h"
#include "processes.h"
#include "rounds.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvalin::bench {

namespace fs = std::filesystem;

namespace {

enum Variant { Batched, CoreBatched, CoreEachFile, PerPicture, ShellMove, CopyFloor, VariantCount };
const char* const kVariantNames[VariantCount] = {"window",           "core",  "core-fdatasync",
                                                 "core-per-picture", "shell", "cp"};
const char* const kLabels[VariantCount] = {
    "(a) main window, a flush per batch",         "(b) core run, a flush per batch",
    "(b') core run, a batch, fdatasync per file", "(p) core run, a flush per picture",
    "(m) mv -n in a shell loop, then sync",       "(f) floor: cp -r, then sync"};

// True when the page cache could be dropped, so that every run reads its pictures from the disk.
bool dropCaches(bool asked) {
    ::sync();
    if (!asked)
        return false;
    std::ofstream control("/proc/sys/vm/drop_caches");
    control << "3\n";
    control.flush();
    return bool(control);
}

std::size_t countFilesBelow(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

// The variant's own copy of the tree, its destination on the other file system, and the run timed.
Measured runAcross(const AcrossOptions& options, int variant, bool& cachesDropped) {
    const std::string name = kVariantNames[variant];
    const fs::path run = options.work / ("across-" + name);
    const fs::path destination = options.destinations / ("corvalin-bench-" + name);
    fs::remove_all(run);
    fs::remove_all(destination);
    fs::create_directories(run / "prog");
    fs::create_directories(destination);
    linkCopy(options.work / "master", run / "src");
    // Every run finds its destination at run/dst, as on one file system.
    fs::create_directory_symlink(destination, run / "dst");
    cachesDropped = dropCaches(options.dropCaches);
    const std::vector<std::string> environment{"SRC=" + (run / "src").native(), "DST=" + destination.native(),
                                               "COUNTER=" + (run / "prog" / "Quillet.ini").native()};
    Measured measured;
    if (variant == ShellMove)
        measured = spawn({"/bin/bash", "-c", std::string(kShellPipeline) + "sync\n", "shell"}, environment,
                         true, options.model);
    else if (variant == CopyFloor)
        measured = spawn({"/bin/bash", "-c", R"(cp -r -- "$SRC"/. "$DST"/ && sync)", "cp"}, environment, true,
                         options.model);
    else
        measured = spawn({"/proc/self/exe", "--variant", name, run.native(), options.permanent ? "1" : "0"},
                         {}, false, options.model);
    // The floor copies the whole tree; the others gather the pictures.
    const std::size_t arrived = variant == CopyFloor ? countFilesBelow(destination) : countFiles(destination);
    const auto expected = std::size_t(options.pictures + (variant == CopyFloor ? options.others : 0));
    if (arrived != expected) {
        std::fprintf(stderr, "%s: %zu of %zu files arrived\n", name.c_str(), arrived, expected);
        measured.seconds = -1;
    }
    if (!options.keep) {
        fs::remove_all(run);
        fs::remove_all(destination);
        fs::remove_all(options.work / "data" / "Trash");
    }
    return measured;
}

void printRounds(const char* label, const Rounds& rounds, int pictures) {
    printLine(label, rounds.best(), pictures);
    if (rounds.seconds().size() > 1 && !rounds.failed())
        std::printf("  %-44s rounds from %.3f to %.3f s\n", "",
                    *std::min_element(rounds.seconds().begin(), rounds.seconds().end()),
                    *std::max_element(rounds.seconds().begin(), rounds.seconds().end()));
}

} // namespace

int timeAcrossFileSystems(const AcrossOptions& options) {
    struct stat work {};
    struct stat destinations {};
    fs::create_directories(options.destinations);
    if (::stat(options.work.c_str(), &work) != 0 || ::stat(options.destinations.c_str(), &destinations) != 0)
        return 1;
    std::printf("Across file systems: from %s to %s\n", options.work.c_str(), options.destinations.c_str());
    if (work.st_dev == destinations.st_dev)
        std::printf("Warning: both lie on one file system, so the moves are renames, not copies.\n");
    // Taking turns spreads the load of anything else on the machine over all variants alike.
    std::array<Rounds, VariantCount> rounds;
    bool cachesDropped = true;
    for (int round = 0; round < options.repeat; ++round) {
        for (int v = 0; v < VariantCount; ++v) {
            bool dropped = false;
            const Measured measured = runAcross(options, v, dropped);
            cachesDropped = cachesDropped && dropped;
            rounds[v].add(measured);
        }
    }
    const char* const cache = cachesDropped ? "dropped before each run"
                              : !options.dropCaches
                                  ? "left alone (--cached): reads may come from memory"
                                  : "NOT dropped (/proc/sys/vm/drop_caches is not "
                                    "writable here; run as root): reads may come from memory";
    std::printf("Page cache: %s\n\n", cache);
    for (int v = 0; v < VariantCount; ++v)
        printRounds(kLabels[v], rounds[v], options.pictures);
    const auto best = [&](Variant v) {
        return rounds[v].best();
    };
    std::printf(
        "\n  a/f = %.2f (target at most 1.5)   m/a = %.2f (target at least 4)   p/b = %.2f   b'/b = %.2f\n",
        ratio(best(Batched), best(CopyFloor)), ratio(best(ShellMove), best(Batched)),
        ratio(best(PerPicture), best(CoreBatched)), ratio(best(CoreEachFile), best(CoreBatched)));
    const bool allRan =
        std::none_of(rounds.begin(), rounds.end(), [](const Rounds& r) { return r.failed(); });
    return allRan ? 0 : 1;
}

} // namespace corvalin::bench
