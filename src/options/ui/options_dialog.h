#pragma once

#include "app/ui/strip_mode_boxes.h"
#include "options/ui/options_dialog_ui.h"

#include <QDialog>
#include <QString>

#include <filesystem>

namespace corvalin {

class Form1;

// The options dialog: the child-folder maker and remover, and the option settings. OK and Update
// apply them in a fixed order; OK, Cancel, Esc and the close box then close (and destroy) it.
// The main window reads its strip-mode boxes to lay itself out.
class frmOptions : public QDialog, public StripModeBoxes {
    Q_OBJECT
public:
    explicit frmOptions(Form1& form);

    OptionsDialogUi ui;

    // The load sequence: centre the window, put the maker on its last folder and the boxes on the
    // stored options.
    void Form_Load();

    bool isCheck3Ticked() const override;
    bool isCheck4Ticked() const override;

public slots:
    // Ctrl+Tab: the next tab, after the last the first.
    void Form_KeyDown();
    void tbsOptions_Click();
    void Check2_Click();
    void Drive1_Change();
    void Dir1_Change();
    void Option1_Click(int index);
    void cmdOK_Click();
    void cmdApply_Click();
    void cmdCancel_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Return presses the focused button and nothing else.
    void keyPressEvent(QKeyEvent* event) override;
    // Only Ctrl+Tab switches the tab strip, also where the strip has the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Esc.
    void reject() override;

private:
    void connectControls();
    void showDesignedFolders();
    void centreOnScreen();
    bool applyOptions();
    void ApplyFolderAction();
    void ApplySerialNumber();
    void refreshMakerLists();
    void showMakerPath(const std::filesystem::path& folder);
    std::filesystem::path makerParent() const;
    void unload();

    Form1& m_form;
    // The folder last put into Text1 and how it was shown: while the text is unchanged, the
    // folder's own bytes are used, so a name that is not UTF-8 still reaches the right folder.
    std::filesystem::path m_shownMakerPath;
    QString m_shownMakerText;
    bool m_applying = false;
    bool m_extraTabShown = false; // the 「詳細」 tab was chosen since the dialog opened
};

} // namespace corvalin
