#pragma once

#include "platform/result.h"
#include "platform/volumes.h"

#include <QListWidget>

#include <cstdint>
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

    // The folder last shown on the volume mounted at `mountPoint`, one of `volumes` (first the mount
    // point itself): choosing that volume in the drive list comes back to it. When that folder has
    // gone since, its nearest existing ancestor on the volume.
    std::filesystem::path folderOnVolume(const std::filesystem::path& mountPoint,
                                         const std::vector<Volume>& volumes) const;

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
    void showEntries(bool sameEntries);

    std::filesystem::path m_path;
    std::vector<std::string> m_subfolders;
    int m_currentRow = 0; // the row of the folder shown
    // Every folder shown, with when it was last shown; which volume holds one is asked only when a
    // volume is chosen, of the drive list's own volumes.
    std::map<std::filesystem::path, std::uint64_t> m_lastShown;
    std::uint64_t m_shownCount = 0;
};

} // namespace corvalin
