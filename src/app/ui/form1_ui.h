#pragma once

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

class QMainWindow;

namespace corvalin {

class DriveList;
class FolderList;
class FileList;

// The controls of the main window in their designed state, at their places in pixels.
struct Form1Ui {
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* Label11;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* Label14;
    QLabel* Label15;
    DriveList* Drive1;
    DriveList* Drive2;
    FolderList* Dir1;
    FolderList* Dir2;
    FileList* File1;
    FileList* File2;
    FileList* File3;
    QFrame* Picture1;
    QLabel* Image1; // the preview picture, a child of Picture1
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QMenu* mnuOpt0;
    QAction* mnuOpt1;
    QAction* mnuPlan;
    QAction* mnuHistory;
    QAction* mnuLi1;
    QAction* mnuEnd;
    QMenu* mnuVer1;
    QAction* mnuHelp;
    QAction* mnuLi2;
    QAction* mnuVer2;
    // Below the client area: the result line of the last move or strip run, until the next starts.
    QLabel* lblRunResult;

    static constexpr int kClientWidth = 364;
    static constexpr int kClientHeight = 415;

    void setupUi(QMainWindow* form);

private:
    void createLabels(QWidget* client);
    void createLists(QWidget* client);
    void createButtons(QWidget* client);
    void createPreview(QWidget* client);
    void createMenus(QMainWindow* form);
    void createStatusLine(QMainWindow* form);
    void setTabOrder();
    void nameControls();
};

} // namespace corvalin
