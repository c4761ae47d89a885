#pragma once

#include "engine/gather_summary.h"
#include "engine/move_run.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace corvalin {

class Form1;
class PreviewDecoder;
struct PreparedPreview;

// Runs the move-and-number run for the main window and shows its progress on the window's
// controls: the survey, the folder walked in the source pane, the counts, the new name and the
// preview of the file in hand, and the two endings.
class MoveController : public QObject, public MoveRunObserver {
    Q_OBJECT
public:
    // The window's controller, created on first use as a child of the window.
    static MoveController& of(Form1& form);

    // The click on "ファイル移動": the plan first when the option asks for it, then the run.
    void run();
    // The whole run, from the click to the idle window, without a plan.
    void runMove();

    // How often the run lets the window handle events where only the display has to keep up (between
    // files, in the survey display), at most; 0 at every one. The survey and every folder of the move
    // always let them through. Sets the display's pace too.
    void setYieldInterval(int milliseconds) {
        m_yieldIntervalMs = milliseconds;
        m_displayIntervalMs = milliseconds;
    }
    // How often the folder in hand, its heading and the counts are shown, at most; 0 at every change.
    // Between two showings a run passes many folders, and only the last one reaches the screen.
    void setDisplayInterval(int milliseconds) { m_displayIntervalMs = milliseconds; }
    // Decodes every preview in the run's own time instead of beside it (for comparison only).
    void setInlinePreview(bool inlinePreview) { m_inlinePreview = inlinePreview; }
    // Runs without a journal, as before there was one (for comparison only).
    void setJournalling(bool journalling) { m_journalling = journalling; }

    // MoveRunObserver
    void yield() override;
    void yieldForDisplay() override;
    void surveyStarted() override;
    bool stopRequested() override;
    void surveyFolderShown(const std::filesystem::path& folder) override;
    void surveyCountsShown(int foldersWithFiles, int folderCount, long totalFiles) override;
    void surveyFinished(const std::filesystem::path& sourceParent) override;
    bool cancelRequested() override;
    void folderStarted(const std::filesystem::path& folder) override;
    void fileProgress(long remaining, long total) override;
    void previewRequested(const std::filesystem::path& file) override;
    void newNameChosen(const std::string& name) override;
    void duplicateFound(const std::filesystem::path& file, const std::filesystem::path& twin) override;
    void fileLeft() override;
    std::filesystem::path destination() override;
    bool deleteUnchosenPictures(const std::map<std::string, std::size_t>& byEnding) override;
    void folderFinished(const std::filesystem::path& folder) override;
    void returnedToSourceParent(const std::filesystem::path& sourceParent) override;

private:
    explicit MoveController(Form1& form);
    bool startJournal(const std::filesystem::path& source, std::optional<RunJournal>& journal);
    void showRunLayout();
    void showIdleLayout();
    void showFolder(const std::filesystem::path& folder);
    void showFileLabels();
    void showWhenDue();
    void showPendingDisplay();
    void showPendingHeading();
    void refreshDestinationFiles(bool force);
    void completedEnding(int foldersWithFiles);
    void cancelEnding(const std::filesystem::path& sourceParent);
    void tellEnd(const MoveRunResult& result, const Removal& removal);
    void showDecoded(const PreparedPreview& prepared, std::uint64_t generation);
    void clearPreview();

    Form1& m_form;
    PreviewDecoder* m_decoder;
    std::uint64_t m_generation = 0;
    bool m_running = false;
    bool m_inlinePreview = false;
    bool m_journalling = true;
    int m_yieldIntervalMs = 15;
    int m_displayIntervalMs = 40;
    QElapsedTimer m_sinceYield;
    QElapsedTimer m_sinceDisplay;
    QElapsedTimer m_sinceDestinationListed;
    qint64 m_destinationListCostMs = 0;
    // What the next showing puts on the window: the folder in hand (read afresh into the source
    // pane, its name into the heading), the folder and file counts and the new name.
    std::optional<std::filesystem::path> m_pendingFolder;
    bool m_pendingHeading = false;
    std::optional<std::pair<int, int>> m_folderCounts;
    std::optional<std::pair<long, long>> m_fileCounts;
    std::string m_newName;
    bool m_fileLabelsPending = false;
    // What the run did, for its result line.
    GatherTally m_tally;
};

} // namespace corvalin
