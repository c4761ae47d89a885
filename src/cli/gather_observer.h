#pragma once

#include "cli/command.h"
#include "cli/run_pace.h"
#include "engine/gather_summary.h"
#include "engine/move_run.h"

#include <filesystem>
#include <string>

namespace corvalin {

// The move run's window stand-in on a terminal: counts what the run reports, draws the progress
// line, and stops the run after the file in hand once a stop signal came.
class GatherObserver : public MoveRunObserver {
public:
    GatherObserver(std::filesystem::path destination, CommandContext& context);

    void yield() override {}
    void surveyStarted() override;
    bool stopRequested() override { return m_context.stop.requested(); }
    bool cancelRequested() override { return false; }
    void surveyCountsShown(int foldersWithFiles, int folderCount, long totalFiles) override;
    void folderStarted(const std::filesystem::path& folder) override;
    void fileProgress(long remaining, long total) override;
    void previewRequested(const std::filesystem::path& file) override;
    void newNameChosen(const std::string& name) override;
    void duplicateFound(const std::filesystem::path& file, const std::filesystem::path& twin) override;
    void fileLeft() override;
    void folderFinished(const std::filesystem::path& folder) override;
    std::filesystem::path destination() override { return m_destination; }
    bool deleteUnchosenPictures(const std::map<std::string, std::size_t>& byEnding) override;

    // What the run takes for pictures, so that the pictures among the removed files are counted.
    void setPictureTypes(const PictureTypes& types) { m_tally.setPictureTypes(types); }
    // Pictures of a type not chosen are deleted for good only when the command says so; else the
    // run stops before anything is touched, and `refusedUnchosen` holds what it would have deleted.
    void allowDeletingUnchosen(bool allowed) { m_unchosenAllowed = allowed; }
    const std::map<std::string, std::size_t>& refusedUnchosen() const { return m_refusedUnchosen; }

    // The run has ended: the files still counted as they were.
    const GatherCounts& finish();

private:
    void drawProgress(long done, long total);

    std::filesystem::path m_destination;
    CommandContext& m_context;
    RunPace m_pace;
    GatherTally m_tally;
    long m_foldersFound = 0;
    int m_folderCount = 0;
    int m_folder = 0;
    bool m_moving = false;
    bool m_unchosenAllowed = false;
    std::map<std::string, std::size_t> m_refusedUnchosen;
};

} // namespace corvalin
