#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <filesystem>

namespace corvalin {

// The help window: the read-me in an editable box and a button back to the program. It reads the
// file each time it is loaded; edits in the box are never saved.
class Form4 : public QWidget {
    Q_OBJECT
public:
    explicit Form4(std::filesystem::path programFolder, QWidget* parent = nullptr);

    QPlainTextEdit* Text1;
    QPushButton* Command1;

    // Fills Text1 with the read-me, or with an explanation when it cannot be read.
    void Form_Load();

public slots:
    void Command1_Click();

private:
    void setupUi();
    void placeOnScreen();

    std::filesystem::path m_programFolder;
};

} // namespace corvalin
