#pragma once

#include "platform/result.h"

#include <QListWidget>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace corvalin {

// A classic folder list: the folder shown with its ancestors above it, then its direct subfolders,
// indented. Double-click or Enter opens an entry. The subfolder entries are a snapshot, kept until
// the path is set again or refresh() is called.
class FolderList : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget* parent = nullptr);

    const std::filesystem::path& path() const { return m_path; }
    // Shows `folder`; fails (and keeps the former folder) when it cannot be opened. Emits
    // folderChanged() when the folder differs from the one shown before.
    Status setPath(const std::filesystem::path& folder);
    Status refresh();

    // The folder last shown on the volume mounted at `mountPoint` (first the mount point itself):
    // choosing that volume in the drive list comes back to it.
    std::filesystem::path folderOnVolume(const std::filesystem::path& mountPoint) const;

    int subfolderCount() const { return static_cast<int>(m_subfolders.size()); }
    std::filesystem::path subfolder(int index) const;

signals:
    void folderChanged();
    // Opening an entry failed; the window tells the user.
    void openFailed(const corvalin::Error& error);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openEntry(QListWidgetItem* item);
    void showEntries();

    std::filesystem::path m_path;
    std::vector<std::string> m_subfolders;
    std::map<std::filesystem::path, std::filesystem::path> m_folderOnVolume;
};

} // namespace corvalin
