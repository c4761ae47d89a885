#pragma once

#include "history/run_journal.h"
#include "strip/strip_runs.h"

#include <filesystem>
#include <optional>
#include <string>

class QPushButton;

namespace corvalin {

class Form1;
class FileList;

// One strip run as the main window shows it: the cancel button in place of the start button, the
// counter, the new name and the preview of the file in hand, and the end steps that put the idle
// layout back whatever stopped the run. Lives for one run.
class StripRunWindow : public StripObserver {
public:
    enum class Kind { InFolder, IntoSubfolder };
    StripRunWindow(Form1& form, Kind kind);

    void run();

private:
    void yield() override;
    bool cancelRequested() override;
    bool stopRequested() override;
    void newName(const std::string& name) override;
    void previewRequested(const std::filesystem::path& file) override;
    void progress(int remaining, int total) override;

    bool startJournal(const std::filesystem::path& folder);
    void showRunning();
    StripOutcome runInFolder(const std::filesystem::path& folder);
    void runIntoSubfolder(const std::filesystem::path& folder);
    void finish(const StripOutcome& outcome);
    void reportFailure(const Error& error);
    void restoreHeading();
    void refreshLists();
    void restoreIdleLayout();
    RunJournal* journal() { return m_journal ? &*m_journal : nullptr; }

    Form1& m_form;
    Kind m_kind;
    std::optional<RunJournal> m_journal;
    QPushButton* m_ownButton;
    FileList* m_ownList;
    bool m_failureShown = false;
    std::filesystem::path m_subfolder; // made by a strip into a new subfolder
};

} // namespace corvalin
