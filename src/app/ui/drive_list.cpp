#include "app/ui/drive_list.h"

#include "app/ui/ui_text.h"

#include <QStyle>

namespace corvalin {

namespace fs = std::filesystem;

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    setVolumes(listVolumes());
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::onIndexChanged);
}

fs::path DriveList::drive() const {
    return m_drive;
}

void DriveList::setDrive(const fs::path& path) {
    const fs::path mountPoint = volumeOf(path, m_volumes);
    for (std::size_t i = 0; i < m_volumes.size(); ++i) {
        if (m_volumes[i].mountPoint == mountPoint) {
            setCurrentIndex(static_cast<int>(i));
            return;
        }
    }
}

void DriveList::showPopup() {
    setVolumes(listVolumes());
    QComboBox::showPopup();
}

void DriveList::setVolumes(std::vector<Volume> volumes) {
    m_loading = true;
    const fs::path before = m_drive;
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    m_volumes = std::move(volumes);
    if (m_volumes.empty())
        m_volumes.push_back(Volume{"/", {}});
    clear();
    // Stay on the chosen volume; when it is gone (unplugged), the first is chosen, and its change
    // event takes the folder list off the vanished folder.
    int chosen = 0;
    for (std::size_t i = 0; i < m_volumes.size(); ++i) {
        addItem(icon, displayName(m_volumes[i].mountPoint));
        if (m_volumes[i].mountPoint == m_drive)
            chosen = static_cast<int>(i);
    }
    setCurrentIndex(chosen);
    m_drive = m_volumes[static_cast<std::size_t>(chosen)].mountPoint;
    m_loading = false;
    if (!before.empty() && m_drive != before)
        emit driveChanged();
}

void DriveList::onIndexChanged(int index) {
    if (m_loading || index < 0 || index >= static_cast<int>(m_volumes.size()))
        return;
    const fs::path chosen = m_volumes[static_cast<std::size_t>(index)].mountPoint;
    if (chosen == m_drive)
        return;
    m_drive = chosen;
    emit driveChanged();
}

} // namespace corvalin
