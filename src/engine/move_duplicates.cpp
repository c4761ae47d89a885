#include "engine/move_run.h"

#include "platform/paths.h"

#include <system_error>

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
Result<bool> MoveRun::leaveOutDuplicate(const HeldFolder& folder, const std::string& name,
                                        const HeldEntry& picture, const fs::path& destination) {
    if (!m_duplicates)
        return false;
    const fs::path source = folder.pathOf(name);
    std::optional<DuplicateLookahead::Verdict> verdict = lookedAhead(source, destination);
    if (m_lookahead && !verdict) {
        if (Status adopted = endLookahead(); !adopted)
            return adopted.error();
    }
    if (Status listed = m_duplicates->useDestination(*m_destination, m_pictureTypes); !listed)
        return listed.error();
    std::optional<fs::path> twinPath = verdict ? heldTwinOf(*verdict, folder, name) : std::nullopt;
    std::pair<FileStamp, FileStamp> compared;
    // A copy just named has another inode than the bytes compared, and a plan's own pictures are
    // read where they still lie: such a twin is the run's own doing, and only the picture is checked.
    bool twinToo = true;
    if (twinPath) {
        compared = {verdict->pictureStamp, verdict->twinStamp};
    } else {
        const std::optional<DuplicateFinder::Twin> twin =
            verdict ? m_duplicates->twinOf(verdict->picture, folder) : m_duplicates->twinOf(folder, name);
        if (!twin)
            return false;
        compared = m_duplicates->matchStamps();
        twinToo = !(twin->added && m_layer != &m_disk);
        if (m_duplicates->pending(*twin)) {
            twinToo = false;
            if (Status committed = commitCopies({}); !committed)
                return committed.error();
        }
        twinPath = m_duplicates->pathOf(*twin);
    }
    if (!comparedHeldFiles(picture, compared, *twinPath, twinToo))
        return false;
    m_observer.duplicateFound(source, *twinPath);
    if (Status gone = removed(m_layer->removeDuplicate(folder, name, *twinPath)); !gone)
        return gone.error();
    return true;
}

namespace {

bool sameFile(const FileStamp& stamp, const FileIdentity& identity) {
    return stamp.device == identity.device && stamp.inode == identity.inode &&
           stamp.size == static_cast<std::int64_t>(identity.size) &&
           stamp.modified == identity.mtimeSeconds * 1'000'000'000 + identity.mtimeNanoseconds;
}

} // namespace

// The bytes are read by their names in the held folders; they count only when they were still the
// very files the run looked up, the picture in its folder and the twin in the destination (another
// file may have taken either name since). Anything else is moved as usual.
bool MoveRun::comparedHeldFiles(const HeldEntry& picture, const std::pair<FileStamp, FileStamp>& compared,
                                const fs::path& twin, bool twinToo) const {
    if (!sameFile(compared.first, picture.identity))
        return false;
    if (!twinToo)
        return true;
    const Result<HeldEntry> held = m_destination->lookup(ownName(twin));
    return held && held.value().kind == HeldEntry::Kind::File &&
           sameFile(compared.second, held.value().identity);
}

// The destination's own pictures are compared on a thread of their own, beside the run.
void MoveRun::startLookahead() {
    try {
        m_lookahead = std::make_unique<DuplicateLookahead>(*m_destination, m_pictureTypes);
    } catch (const std::system_error&) {
        return; // no thread to be had: the run compares every picture itself
    }
    if (!m_duplicates->expectListing(*m_destination))
        m_lookahead.reset();
}

std::optional<DuplicateLookahead::Verdict> MoveRun::lookedAhead(const fs::path& source,
                                                                const fs::path& destination) {
    if (!m_lookahead || m_lookahead->destination().native() != destination.native())
        return std::nullopt;
    return m_lookahead->verdictFor(source, m_folderIndex);
}

// From here on the run compares its pictures itself, with the destination as the lookahead read it.
Status MoveRun::endLookahead() {
    DuplicateFinder listed = m_lookahead->finish();
    m_lookahead.reset();
    return m_duplicates->adoptListing(std::move(listed), m_pictureTypes);
}

// The held picture found equal ahead of the run, if neither file has changed since; a picture that
// has is compared afresh with what the run put there only, and else moved as usual.
std::optional<fs::path> MoveRun::heldTwinOf(DuplicateLookahead::Verdict& verdict, const HeldFolder& folder,
                                            const std::string& name) const {
    if (!verdict.twin)
        return std::nullopt;
    if (currentStampOf(folder, name) == verdict.pictureStamp &&
        currentStampOf(*m_destination, ownName(*verdict.twin)) == verdict.twinStamp)
        return verdict.twin;
    verdict.picture = {verdict.picture.path, false, 0, {}};
    return std::nullopt;
}

// What a later picture of the run is compared with: the moved picture where it now lies (a plan
// moves nothing, so its bytes are still read at the source), or a copy waiting for its name.
void MoveRun::noteMoved(const fs::path& source, const FileIdentity& picture, const fs::path& target,
                        bool pending) {
    if (!m_duplicates)
        return;
    const bool moved = m_layer == &m_disk;
    m_duplicates->add(source, picture, moved && !pending ? target : source, target, pending);
}

} // namespace corvalin
