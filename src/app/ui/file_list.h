#pragma once

#include "platform/result.h"

#include <QListView>

#include <filesystem>
#include <string>
#include <vector>

namespace corvalin {

class FileNamesModel;

// The files of one folder (no hidden files, no links or devices), sorted by name. The entries are
// a snapshot: they stay as read until the path is set again or refresh() is called, even while the
// files themselves are moved away.
class FileList : public QListView {
    Q_OBJECT
public:
    enum class Selection { Single, Extended };
    explicit FileList(Selection selection, QWidget* parent = nullptr);

    const std::filesystem::path& path() const { return m_path; }
    // Reads the folder; on failure the list keeps its former folder and entries.
    Status setPath(const std::filesystem::path& folder);
    Status refresh();

    int entryCount() const { return static_cast<int>(m_names.size()); }
    const std::string& entry(int index) const { return m_names[static_cast<std::size_t>(index)]; }
    // The name of the entry the user chose last; empty when none.
    std::string fileName() const;
    bool isSelected(int index) const;

signals:
    // The user clicked an entry or moved to one with the keyboard.
    void fileClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showNames(std::vector<std::string> names);

    std::filesystem::path m_path;
    std::vector<std::string> m_names;
    FileNamesModel* m_model;
};

} // namespace corvalin
