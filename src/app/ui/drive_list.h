#pragma once

#include "platform/volumes.h"

#include <QComboBox>

#include <filesystem>
#include <vector>

namespace corvalin {

// The mounted volumes, by mount point; a desktop with drive letters shows its drives here.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);

    // The mount point of the volume chosen.
    std::filesystem::path drive() const;
    // Chooses the volume that holds `path`; emits driveChanged() when that is another volume.
    void setDrive(const std::filesystem::path& path);
    const std::vector<Volume>& volumes() const { return m_volumes; }
    // Replaces the volumes offered (read from the system on construction and on every opening).
    // When the chosen volume is no longer among them, the first is chosen and driveChanged() comes.
    void setVolumes(std::vector<Volume> volumes);

signals:
    // The chosen volume changed, by the user or by setDrive().
    void driveChanged();

protected:
    // Volumes come and go (a stick plugged in), so the list is read again each time it opens.
    void showPopup() override;

private:
    void onIndexChanged(int index);

    std::vector<Volume> m_volumes;
    std::filesystem::path m_drive;
    bool m_loading = false;
};

} // namespace corvalin
