#include "engine/move_run.h"

namespace corvalin {

namespace fs = std::filesystem;

void MoveRun::setSkipDuplicates(bool skip) {
    if (skip)
        m_duplicates.emplace();
    else
        m_duplicates.reset();
}

// True when the picture was a duplicate and is removed. A twin still waiting in a batch for its
// name is named first, so that the record of the duplicate names it where it stands.
Result<bool> MoveRun::leaveOutDuplicate(const fs::path& source, const fs::path& destination) {
    if (!m_duplicates)
        return false;
    if (Status listed = m_duplicates->useDestination(destination, m_pictureTypes); !listed)
        return listed.error();
    const std::optional<DuplicateFinder::Twin> twin = m_duplicates->twinOf(source);
    if (!twin)
        return false;
    if (m_duplicates->pending(*twin)) {
        if (Status committed = commitCopies({}); !committed)
            return committed.error();
    }
    const fs::path twinPath = m_duplicates->pathOf(*twin);
    m_observer.duplicateFound(source, twinPath);
    if (Status removed = m_layer->removeDuplicate(source, twinPath); !removed)
        return removed.error();
    return true;
}

// What a later picture of the run is compared with: the moved picture where it now lies (a plan
// moves nothing, so its bytes are still read at the source), or a copy waiting for its name.
void MoveRun::noteMoved(const fs::path& source, const fs::path& target, bool pending) {
    if (!m_duplicates)
        return;
    const bool moved = m_layer == &m_disk;
    m_duplicates->add(source, moved && !pending ? target : source, target, pending);
}

} // namespace corvalin
