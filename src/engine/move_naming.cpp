// The move run's choice of numbers, and the files it counts as pictures of a type not chosen.
#include "engine/move_run.h"

#include "engine/download_markers.h"
#include "naming/serial_name.h"

namespace corvalin {

namespace fs = std::filesystem;

// The number the file in hand takes if it is a picture: each copy still waiting in a batch takes
// one first, and no number the destination holds is taken.
std::int32_t MoveRun::numberInHand() const {
    if (m_crossDeviceMoves.pending() > 0)
        return m_numberAfterBatch;
    return m_checkedDestination ? m_numbering.freeFrom(*m_checkedDestination, m_vars.SerialNo)
                                : m_vars.SerialNo;
}

// The number after the one the copy just added to the batch is to take when it is named.
void MoveRun::planBatchNumber(const fs::path& destination) {
    const std::size_t waiting = m_crossDeviceMoves.pending();
    if (waiting == 0)
        return;
    const std::int32_t planned =
        waiting == 1 ? m_numbering.freeFrom(destination, wrapSerialNo(m_vars.SerialNo)) : m_numberAfterBatch;
    m_numberAfterBatch = m_numbering.freeAfter(destination, planned);
}

// SerialNo moves on past the numbers the destination holds; the counter file follows at once, so
// that it is never behind a number given.
Status MoveRun::skipHeldNumbers(const fs::path& destination) {
    const std::int32_t free = m_numbering.freeFrom(destination, m_vars.SerialNo);
    if (free == m_vars.SerialNo)
        return {};
    m_numbering.skipped(m_vars.SerialNo, free);
    m_vars.SerialNo = free;
    return m_layer->writeCounter(free);
}

// Counted only where the run deletes for good: those are asked about before the run touches them.
void MoveRun::countUnchosenPictures(const std::vector<std::string>& names) {
    std::optional<std::unordered_set<std::string>> arriving;
    for (const std::string& name : names) {
        const std::optional<std::string_view> ending = unchosenPictureEnding(name, m_pictureTypes);
        if (!ending)
            continue;
        if (!arriving)
            arriving = arrivingDownloads(names);
        if (!arriving->contains(name))
            ++m_unchosenPictures[std::string(*ending)];
    }
}

} // namespace corvalin
