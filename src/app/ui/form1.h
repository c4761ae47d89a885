#pragma once

#include "app/extra_options.h"
#include "app/module1.h"
#include "app/startup.h"
#include "app/ui/form1_ui.h"
#include "app/ui/window_slot.h"
#include "platform/removal.h"

#include <QMainWindow>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace corvalin {

class MessageBox;
class DriveList;
class FileList;
class FolderList;

// The main window: two drive/folder/file panes, the progress labels, the preview box, one button
// slot and the menus. It holds the form-level state that the runs share.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    Form1(Module1& vars, SettingsFiles files, MessageBox& messages, QWidget* parent = nullptr);

    // The start-up sequence. False when the program is to end without showing a window.
    bool Form_Load();

    Form1Ui ui;

    // Form-level state shared by the runs.
    OptionValue BusyFlag;        // 1 while a move run is in progress
    std::int16_t CancelFlag = 0; // 1 once a cancel was asked for
    std::filesystem::path PreviewPath;
    std::vector<std::filesystem::path> FolderList;

    bool isBusy() const { return BusyFlag.isOn(); }

    Module1& vars() { return m_vars; }
    MessageBox& messages() { return m_messages; }
    const SettingsFiles& files() const { return m_files; }

    // The options of Corvalin.conf, read at start-up and again as each run starts; the runs take
    // them from here.
    const ExtraOptions& extraOptions() const { return m_extraOptions; }
    // Reads Corvalin.conf again for a run about to start. False, after saying why, while the file
    // cannot be read and the 「詳細」 tab has not been confirmed since: the run must not go by the
    // defaults in place of the user's choices. A missing file means the defaults.
    bool readExtraOptionsForRun();
    // Corvalin.conf could not be read, and the 「詳細」 tab has not been confirmed since.
    bool extraOptionsUnreadable() const { return m_extraOptionsUnreadable; }
    // Takes the options the 「詳細」 tab shows and, when they changed or the file could not be read,
    // writes them at once; a failed write is shown and the options still hold until the program
    // ends.
    void applyExtraOptions(const ExtraOptions& options);
    // How the runs remove what they remove, as the options say.
    Removal removal() const;

    // The secondary windows, each created on first use.
    WindowSlot frmOptions;
    WindowSlot Form4;
    WindowSlot frmAbout;
    WindowSlot frmHistory;
    WindowSlot frmPlan;
    void closeSecondaryWindows();

    // A move or strip run marks itself, so that no run starts inside another and a close request
    // waits until the run has stopped after the file in hand.
    bool runInProgress() const { return m_runInProgress; }
    bool beginRun();
    // A strip run leaves the options dialog at work; what it applies meanwhile that would change the
    // layout under the run waits for the run's end.
    bool beginStripRun();
    bool stripRunInProgress() const { return m_runInProgress && m_stripRun; }
    void endRun();
    bool closeRequested() const { return m_closeRequested; }

    // Shows an error in words that name the file and the reason.
    void showError(const Error& error);

    // Both panes read their folders again, after something besides the runs changed them (an undo).
    void refreshPanes();
    // The result line of the last run on the status line (UTF-8; empty clears it).
    void showRunResult(const std::string& line);
    // What the window still shows of a run that an undo has taken back: the new name in Label4, the
    // preview and the result line.
    void clearRunDisplay();

    // Shows PreviewPath in the preview box, fitted; leaves the box empty when it is no picture.
    void FitPreview();

    // The ticks of the options dialog's strip-mode boxes (Check3, Check4). Reading them loads the
    // dialog hidden when it is not open; without a dialog they are the stored modes.
    struct StripChoice {
        bool check3 = false;
        bool check4 = false;
    };
    StripChoice readStripChoice();

    // Lays the window out for the work mode that the strip-mode boxes choose.
    void ApplyWorkMode();
    // ApplyWorkMode, then the start button of the stored strip mode in the strip layout: what OK and
    // Update do after storing the options.
    void showChosenWorkMode();
    // Asks for showChosenWorkMode (and the indicator from the stored option) when the run in hand
    // ends.
    void deferWorkMode() { m_workModePending = true; }

signals:
    // A run (or a plan, which is made as a run is) began or ended: helpers beside the window wait
    // meanwhile.
    void runStateChanged(bool running);

public slots:
    void Drive1_Change();
    void Drive2_Change();
    void Dir1_Change();
    void Dir2_Change();
    void mnuOpt1_Click();
    void mnuPlan_Click();
    void mnuHistory_Click();
    void mnuEnd_Click();
    void mnuHelp_Click();
    void mnuVer2_Click();
    void File1_Click();
    void File2_Click();
    // The runs: move (Command1), cancel (Command2), strip in a folder (Command3), strip into a new
    // subfolder (Command4). Each subsystem defines its handlers beside its run.
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    // Runs the shutdown sequence once, whatever asked for it.
    void runShutdown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void connectControls();
    void showDesignedFolders();
    bool applyInitialState();
    bool showSavedFolder(corvalin::FolderList* folders, const std::filesystem::path& folder,
                         void (Form1::*onChange)());
    void showFileCount();
    void showClickedFile(corvalin::FolderList* folders, FileList* files);
    void showPicture(int fd);

    void loadExtraOptions();

    Module1& m_vars;
    SettingsFiles m_files;
    MessageBox& m_messages;
    ExtraOptions m_extraOptions;
    bool m_extraOptionsUnreadable = false;
    bool m_extraOptionsChosen = false; // on the 「詳細」 tab, since the file was last read
    bool m_runInProgress = false;
    bool m_stripRun = false;
    bool m_workModePending = false;
    bool m_closeRequested = false;
    bool m_shutdownDone = false;
};

} // namespace corvalin
