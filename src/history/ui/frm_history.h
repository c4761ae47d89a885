#pragma once

#include "history/run_history.h"
#include "history/undo.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <optional>
#include <vector>

namespace corvalin {

class ElidedLabel;
class Form1;

// The history window: the past runs, newest first, and "元に戻す" for the chosen one. An undo
// works on the user-interface thread like the runs: the main window is busy meanwhile, the
// progress and a Cancel show here, and closing the main window stops it after the item in hand.
class frmHistory : public QDialog, private UndoObserver {
    Q_OBJECT
public:
    explicit frmHistory(Form1& form, QWidget* parent = nullptr);

    QTreeWidget* lvwRuns;
    QLabel* lblNote;
    QLabel* lblJournalEnd; // shown when the chosen run's journal does not read to its end
    ElidedLabel* lblProgress;
    QProgressBar* prgUndo;
    QPushButton* cmdUndo;
    QPushButton* cmdCancel;
    QPushButton* cmdClose;

    // Reads the history folder into the list and chooses the newest run.
    void Form_Load();
    bool isUndoing() const { return m_undoing; }

public slots:
    void cmdUndo_Click();
    void cmdCancel_Click();
    void cmdClose_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void setupUi();
    void fillRuns(const std::vector<RunSummary>& runs);
    void reloadKeeping(const std::string& id);
    const RunSummary* chosenRun() const;
    void showChosenRun();
    bool confirmUndo(const RunSummary& run);
    void showUndoing(bool undoing);
    void tellOutcome(const UndoOutcome& outcome);

    // UndoObserver
    void yield() override;
    bool cancelRequested() override;
    bool stopRequested() override;
    void itemStarted(const std::filesystem::path& item) override;
    void progress(int done, int total) override;

    Form1& m_form;
    std::vector<RunSummary> m_runs;
    bool m_undoing = false;
    bool m_cancel = false;
    QElapsedTimer m_sinceYield;
};

// Creates the history window, filled and hidden (the caller shows it).
QWidget* createHistoryWindow(Form1& form);

} // namespace corvalin
