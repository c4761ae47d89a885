#pragma once

#include "plan/move_plan.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include <filesystem>
#include <memory>

namespace corvalin {

class Form1;
class PlanTableModel;
class PlanThumbnails;
class WrappingText;

// "移動の予定": what a click on "ファイル移動" would do now, for the folders in the two panes and
// the options as they stand. The plan is made on the user-interface thread like the runs, letting
// events through, so it can be cancelled; the main window starts no run meanwhile. "実行" runs the
// move afresh, with its own survey.
class frmPlan : public QDialog {
    Q_OBJECT
public:
    // Opened from the menu the window runs the move itself on "実行"; shown before a move it only
    // answers (accepted on "実行") and its caller runs the move.
    enum class Use { FromMenu, BeforeMove };

    frmPlan(Form1& form, Use use, QWidget* parent = nullptr);

    WrappingText* lblSummary;
    QLabel* lblRemovalTypes;
    QTabWidget* tabTables;
    QTableView* tblPictures;
    QTableView* tblRemovals;
    QTableView* tblDuplicates;
    QTableView* tblFolders;
    QTableView* tblProblems;
    QPushButton* cmdRun;
    QPushButton* cmdSave;
    QPushButton* cmdCancel;
    QPushButton* cmdClose;
    // The pictures as thumbnails beside the tables, and the switch between them.
    PlanThumbnails* thumbnails;

    // Makes the plan, letting events through; returns when it is made or cancelled.
    void makePlan();
    bool isPlanning() const { return m_planning; }
    const MovePlan* plan() const { return m_plan.get(); }
    // Writes the plan as CSV; a failure is shown and false.
    bool savePlan(const std::filesystem::path& file);

public slots:
    void cmdRun_Click();
    void cmdSave_Click();
    void cmdCancel_Click();
    void cmdClose_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void setupUi();
    QTableView* addTable(const QString& caption, const char* name, PlanTableModel* model,
                         int firstColumnWidth);
    void showPlanning(bool planning);
    void showPlan();

    Form1& m_form;
    Use m_use;
    std::shared_ptr<const MovePlan> m_plan;
    PlanTableModel* m_pictures;
    PlanTableModel* m_removals;
    PlanTableModel* m_duplicates;
    PlanTableModel* m_folders;
    PlanTableModel* m_problems;
    bool m_planning = false;
    bool m_cancel = false;
    bool m_closeAfterPlan = false;
};

// The window of the menu entry, its plan started once it is on the screen.
QWidget* createPlanWindow(Form1& form);

// Before a move when the option asks for it: the plan shown modal; true on "実行".
bool confirmMoveByPlan(Form1& form);

} // namespace corvalin
