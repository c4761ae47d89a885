#pragma once

#include "naming/picture_types.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <array>

class QDialog;

namespace corvalin {

class DriveList;
class FolderList;
class FileList;

// The controls of the options dialog in their designed state, at their places in pixels. A
// control array keeps its designer name with the index appended: "Option1_0", "picOptions_0".
struct OptionsDialogUi {
    QTabWidget* tbsOptions;
    std::array<QWidget*, 2> picOptions; // the page of each tab, by tab position
    QGroupBox* Frame1;                  // the child-folder maker
    QGroupBox* Frame2;                  // the option settings
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    DriveList* Drive1;
    FolderList* Dir1;
    FileList* File1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    std::array<QRadioButton*, 2> Option1; // 0 creates, 1 deletes
    QCheckBox* Check1;
    QCheckBox* Check2;
    QCheckBox* Check3;
    QCheckBox* Check4;
    // The second tab, "詳細": options of Corvalin.conf, stacked from the top of its page.
    QCheckBox* chkPermanentDelete;
    QCheckBox* chkPlanBeforeMove;
    QCheckBox* chkNotifyLongRuns;
    QCheckBox* chkSkipDuplicates;
    // "画像として扱う形式": one box per optional type, by PictureType; AVIF and HEIF have a box
    // only where an installed image plugin reads them, else null.
    QGroupBox* fraPictureTypes;
    std::array<QCheckBox*, kOptionalPictureTypes.size()> chkPictureType;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdApply;

    // 7965 x 6105 twips: the client area, which scrolls where the screen is smaller.
    static constexpr int kClientWidth = 531;
    static constexpr int kClientHeight = 407;
    // Where a page of the tab strip lies when shown, and where a hidden one is put out of sight.
    static constexpr int kPageLeft = 14;
    static constexpr int kHiddenPageLeft = -1333;

    void setupUi(QDialog* dialog);

private:
    void createTabStrip(QWidget* client);
    void createMakerGroup(QWidget* client);
    void createOptionGroup(QWidget* page);
    void createDetailPage(QWidget* page);
    void createPictureTypes(QWidget* page);
    void createButtons(QWidget* client);
    void setTabOrder();
    void nameControls();
};

} // namespace corvalin
