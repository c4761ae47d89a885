#pragma once

#include "cli/command.h"
#include "cli/run_pace.h"
#include "engine/move_run.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvalin {

// What a gather did, file by file, as the run reported it.
struct GatherCounts {
    long pictures = 0; // moved into the destination
    long others = 0;   // deleted as files that are not pictures
    std::optional<std::int32_t> firstNumber;
    std::optional<std::int32_t> lastNumber;
};

// What the run was asked to remove, and how.
struct RemovalChoices {
    bool childFolders = false; // after a completed run
    bool permanent = false;    // for good rather than to the Trash
};

// The result line: how the run ended, the pictures moved with their numbers, the files removed.
std::string gatherSummary(MoveOutcome outcome, const GatherCounts& counts, RemovalChoices removed);

// The move run's window stand-in on a terminal: counts what the run reports, draws the progress
// line, and stops the run after the file in hand once a stop signal came.
class GatherObserver : public MoveRunObserver {
public:
    GatherObserver(const Module1& vars, std::filesystem::path destination, CommandContext& context);

    void yield() override {}
    void surveyStarted() override;
    bool stopRequested() override { return m_context.stop.requested(); }
    bool cancelRequested() override { return false; }
    void surveyCountsShown(int foldersWithFiles, int folderCount, long totalFiles) override;
    void folderStarted(const std::filesystem::path& folder) override;
    void fileProgress(long remaining, long total) override;
    void previewRequested(const std::filesystem::path& file) override;
    void newNameChosen(const std::string& name) override;
    std::filesystem::path destination() override { return m_destination; }

    // The run has ended: the file in hand is counted as the others were.
    const GatherCounts& finish();

private:
    void countFileInHand();
    void drawProgress(long done, long total);

    const Module1& m_vars;
    std::filesystem::path m_destination;
    CommandContext& m_context;
    RunPace m_pace;
    GatherCounts m_counts;
    long m_foldersFound = 0;
    int m_folderCount = 0;
    int m_folder = 0;
    bool m_moving = false;
    std::filesystem::path m_inHand;
    std::optional<std::int32_t> m_inHandNumber; // set when the file in hand is a picture
};

} // namespace corvalin
