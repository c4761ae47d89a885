#pragma once

#include "info/registry.h"
#include "info/ui/etched_line.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include <memory>

namespace corvalin {

class MessageBox;

// The version-information window: title, version, what the program is for, the home-page link,
// a disclaimer, and a button that starts the desktop's system-information program.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(MessageBox& messages, std::unique_ptr<Registry> registry, QWidget* parent = nullptr);

    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* Label1;
    EtchedLine* Line1;
    QLabel* lblDisclaimer;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

    // Puts the title, the version and the link's look in place; runs each time it is loaded.
    void Form_Load();
    // Starts the system-information program, or says that there is none.
    void StartSysInfo();

public slots:
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Label1_Click();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupUi();
    void createLabels();
    void createButtons();
    void showLinkLook(const QColor& colour);
    bool linkKeyEvent(QEvent* event);

    MessageBox& m_messages;
    std::unique_ptr<Registry> m_registry;
};

} // namespace corvalin
