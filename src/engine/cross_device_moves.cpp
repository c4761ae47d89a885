#include "engine/cross_device_moves.h"

namespace corvalin {

namespace fs = std::filesystem;

CrossDeviceMoves::CrossDeviceMoves(CopyNaming& naming, BatchSettings settings)
    : m_naming(naming), m_settings(settings) {}

CrossDeviceMoves::~CrossDeviceMoves() {
    discard();
}

bool CrossDeviceMoves::crosses(const HeldFolder& folder, const HeldFolder& destination) {
    return CrossDeviceBatch::crosses(folder, destination);
}

std::size_t CrossDeviceMoves::pending() const {
    return m_batch ? m_batch->size() : 0;
}

fs::path CrossDeviceMoves::destination() const {
    return m_batch ? m_batch->destination() : fs::path();
}

Status CrossDeviceMoves::add(const HeldFolder& folder, const std::string& name,
                             const HeldFolder& destination) {
    if (m_batch && !m_batch->destinationId().sameAs(destination.id())) {
        if (Status committed = commit(); !committed)
            return committed;
    }
    if (!m_batch) {
        m_batch = std::make_unique<CrossDeviceBatch>(destination, m_settings);
        m_batchStarted = std::chrono::steady_clock::now();
    }
    if (Status added = m_batch->add(folder, name); !added) {
        // The run stops on this failure; what was copied whole before it still arrives.
        (void)commit();
        return added;
    }
    return m_batch->full() ? commit() : Status{};
}

bool CrossDeviceMoves::dueAtFolderEnd() const {
    return m_batch && std::chrono::steady_clock::now() - m_batchStarted >= m_settings.folderCarry;
}

Status CrossDeviceMoves::commit() {
    if (!m_batch)
        return {};
    const Status committed = m_batch->commit(m_naming);
    m_batch.reset();
    return committed;
}

void CrossDeviceMoves::discard() {
    m_batch.reset();
}

} // namespace corvalin
