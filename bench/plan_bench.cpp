// Times the plan of a move run over a download tree beside the survey alone, in the same process
// and on the same tree: the plan reads what the run reads and records what it would do. Prints
// the plan's time after the survey (the target: within a second for 10,000 pictures) and its peak
// memory (the target: under 300 MB for 100,000 files).
#include "engine/folder_survey.h"
#include "picture_tree.h"
#include "plan/move_plan.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace corvalin;
using namespace corvalin::bench;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct SilentSurvey : SurveyObserver {
    void yield() override {}
    void surveyStarted() override {}
    bool stopRequested() override { return false; }
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The kernel's record of this process's peak resident memory, reset so that a phase can be
// measured on its own.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double peakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024;
    }
    return 0;
}

bool parse(int argc, char** argv, TreeShape& shape, fs::path& work, int& rounds) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const char* value = argv[i + 1];
        if (arg == "--folders")
            shape.folders = std::atoi(value);
        else if (arg == "--pictures")
            shape.pictures = std::atoi(value);
        else if (arg == "--others")
            shape.others = std::atoi(value);
        else if (arg == "--rounds")
            rounds = std::max(1, std::atoi(value));
        else if (arg == "--work")
            work = value;
        else
            return false;
    }
    return argc % 2 == 1 && shape.folders > 0 && shape.pictures >= 0;
}

} // namespace

int main(int argc, char** argv) {
    TreeShape shape;
    shape.distinct = 20;
    shape.megapixels = 0.02; // the plan never reads a picture's content
    fs::path work;
    int rounds = 3;
    if (!parse(argc, argv, shape, work, rounds)) {
        std::puts(
            "usage: corvalin_plan_bench [--folders N] [--pictures N] [--others N] [--rounds N] [--work DIR]\n"
            "Defaults: 500 folders, 10000 pictures, 500 other files, 3 rounds (best of each kept).");
        return 64;
    }
    if (work.empty()) {
        char pattern[] = "/var/tmp/corvalin-plan-bench-XXXXXX";
        if (!::mkdtemp(pattern))
            return 1;
        work = pattern;
    }
    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    makePicturePool(work / "pool", shape);
    makeSourceTree(work / "pool", work / "src", shape);
    fs::create_directories(work / "dst");
    fs::create_directories(work / "prog");
    const SettingsFiles files{work / "prog", work / "prog"};
    const PlanRequest request{work / "src", work / "dst", true, false, {}};

    double survey = 1e9;
    double plan = 1e9;
    double peak = 0;
    std::size_t rows = 0;
    for (int round = 0; round < rounds; ++round) {
        SilentSurvey observer;
        std::vector<fs::path> folders;
        auto start = Clock::now();
        if (!GetDir(request.source, folders, observer))
            return 3;
        survey = std::min(survey, secondsSince(start));
        resetPeakMemory();
        start = Clock::now();
        const MovePlan made = makeMovePlan(Module1{}, files, request);
        plan = std::min(plan, secondsSince(start));
        peak = std::max(peak, peakMegabytes());
        if (made.outcome != MoveOutcome::Completed || made.pictures.size() != std::size_t(shape.pictures))
            return 4;
        rows = made.pictures.size() + made.removals.size() + made.folders.size();
    }
    std::printf("Tree: %d child folders, %d pictures, %d other files, in %s\n", shape.folders, shape.pictures,
                shape.others, work.c_str());
    std::printf("  survey alone            %8.3f s\n", survey);
    std::printf("  plan (survey included)  %8.3f s   %zu rows\n", plan, rows);
    std::printf("  plan after the survey   %8.3f s (target: under 1 s for 10,000 pictures)\n", plan - survey);
    std::printf("  plan/survey = %.2f   peak memory while planning: %.1f MB (target: under 300 MB)\n",
                survey > 0 ? plan / survey : 0, peak);
    fs::remove_all(work);
    return 0;
}
