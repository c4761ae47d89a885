// The survey of a move run: the folders found, then each walked once to count its files for the
// display, before anything moves.
#include "engine/move_run.h"

#include "naming/serial_name.h"

#include <algorithm>

namespace corvalin {

namespace fs = std::filesystem;

Status MoveRun::survey(std::vector<fs::path>& folderList) {
    m_places.clear();
    const Status surveyed = GetDir(*m_source, folderList, m_places, m_observer);
    // Also what a failed survey found, for a plan to read.
    m_folders.emplace(*m_source, folderList, m_places);
    return surveyed;
}

// Walks the surveyed folders once to count them and their files. A folder that is no longer the
// one surveyed is neither entered nor counted.
Status MoveRun::surveyDisplay(const std::vector<fs::path>& folderList) {
    const std::size_t count = folderList.size();
    for (std::size_t i = 0; i < count; ++i) {
        m_observer.yieldForDisplay();
        if (m_observer.stopRequested()) {
            m_stopped = true;
            return {};
        }
        const fs::path& folder = folderList[i];
        const Result<const HeldFolder*> held = m_folders->open(i);
        if (!held)
            return held.error();
        const auto names = held.value() ? held.value()->files() : std::vector<std::string>();
        if (!names)
            return names.error();
        if (held.value()) {
            if (Status entered = m_layer->enterFolder(*held.value()); !entered)
                return entered;
        }
        m_observer.surveyFolderShown(folder);
        m_observer.yieldForDisplay();
        if (!names.value().empty())
            ++m_foldersWithFiles;
        m_totalFiles += static_cast<long>(names.value().size());
        m_picturesFound +=
            std::count_if(names.value().begin(), names.value().end(),
                          [this](const std::string& name) { return isPicture(name, m_pictureTypes); });
        if (m_disk.removal().permanent())
            countUnchosenPictures(names.value());
        m_observer.surveyCountsShown(m_foldersWithFiles, static_cast<int>(count), m_totalFiles);
    }
    if (Status back = m_layer->enterFolder(*m_source); !back)
        return back;
    m_observer.surveyFinished(m_sourceParent);
    return {};
}

} // namespace corvalin
