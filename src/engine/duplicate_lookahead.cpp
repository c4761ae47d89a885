#include "engine/duplicate_lookahead.h"

#include "engine/download_markers.h"

#include <system_error>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Enough to keep the run's thread from waiting, little enough to hold in memory for any run.
constexpr std::size_t kMostAhead = 4096;
// A run that caught up with the thread is woken for this many verdicts at once (or at the end of
// the folder), not for each: one wake-up a picture would cost both threads more than the waiting.
constexpr std::size_t kWakeBatch = 32;

} // namespace

HeldFolder DuplicateLookahead::held(const HeldFolder& folder) {
    Result<HeldFolder> own = folder.duplicate();
    if (!own)
        throw std::system_error(own.code(), std::generic_category());
    return std::move(own.value());
}

DuplicateLookahead::DuplicateLookahead(const HeldFolder& destination, PictureTypes types)
    : m_heldDestination(held(destination)), m_destination(destination.path()), m_types(std::move(types)),
      m_thread([this] { work(); }) {}

DuplicateLookahead::~DuplicateLookahead() {
    stop();
}

void DuplicateLookahead::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void DuplicateLookahead::follow(const HeldFolder& sourceParent, std::vector<fs::path> folders,
                                std::vector<SurveyedFolder> places) {
    Result<HeldFolder> own = sourceParent.duplicate();
    {
        const std::lock_guard lock(m_mutex);
        // Without a descriptor of its own the thread decides nothing: the run compares itself.
        if (own)
            m_sourceParent = std::move(own.value());
        m_places = std::move(places);
        m_folders = own ? std::move(folders) : std::vector<fs::path>{};
    }
    m_changed.notify_all();
}

std::optional<DuplicateLookahead::Verdict> DuplicateLookahead::verdictFor(const fs::path& source,
                                                                          std::size_t folderIndex) {
    std::unique_lock lock(m_mutex);
    if (folderIndex > m_folderAsked) {
        // Pictures the run no longer met (gone since the thread listed their folder).
        std::erase_if(m_verdicts,
                      [folderIndex](const auto& entry) { return entry.second.folder < folderIndex; });
        m_folderAsked = folderIndex;
    }
    const auto found = [&] {
        return m_verdicts.find(source.native());
    };
    if (found() == m_verdicts.end() && m_foldersDone <= folderIndex && !m_ended) {
        m_runWaiting = true;
        m_wakeAt = m_decided + kWakeBatch;
        m_changed.notify_all(); // a thread waiting for room goes on
        m_changed.wait(lock, [&] {
            return m_foldersDone > folderIndex || m_ended ||
                   (m_decided >= m_wakeAt && found() != m_verdicts.end());
        });
        m_runWaiting = false;
    }
    const auto it = found();
    if (it == m_verdicts.end())
        return std::nullopt;
    Verdict verdict = std::move(it->second);
    m_verdicts.erase(it);
    lock.unlock();
    m_changed.notify_all(); // room for the thread again
    return verdict;
}

DuplicateFinder DuplicateLookahead::finish() {
    stop();
    return std::move(m_finder);
}

// Whatever the thread leaves undecided, by a failure or an exception, the run decides itself.
void DuplicateLookahead::work() {
    try {
        if (m_finder.useDestination(m_heldDestination, m_types)) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_folders || m_stopping; });
            lock.unlock();
            // The folders are not changed once given; the thread opens them with its own descriptors.
            std::optional<SurveyedFolders> folders;
            if (m_folders && m_sourceParent)
                folders.emplace(*m_sourceParent, *m_folders, m_places);
            for (std::size_t i = 0; !m_stopping && folders && i < m_folders->size(); ++i) {
                if (!decideFolder(i, *folders))
                    break;
                const std::lock_guard done(m_mutex);
                m_foldersDone = i + 1;
                m_changed.notify_all();
            }
        }
    } catch (...) {
    }
    const std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

// The pictures of the folder as the run will meet them: downloads still arriving are left to it.
bool DuplicateLookahead::decideFolder(std::size_t index, SurveyedFolders& folders) {
    const Result<const HeldFolder*> opened = folders.open(index);
    if (!opened || !opened.value())
        return true; // the run meets the failure, or the changed folder, itself
    const HeldFolder& folder = *opened.value();
    const auto names = folder.files();
    if (!names)
        return true;
    const auto arriving = arrivingDownloads(names.value());
    for (const std::string& name : names.value()) {
        if (arriving.contains(name) || !isPicture(name, m_types))
            continue;
        if (!waitForRoom())
            return false;
        Verdict verdict;
        verdict.folder = index;
        const fs::path source = folder.pathOf(name);
        if (const std::optional<DuplicateFinder::Twin> twin = m_finder.twinOf(folder, name)) {
            verdict.twin = m_finder.pathOf(*twin);
            std::tie(verdict.pictureStamp, verdict.twinStamp) = m_finder.matchStamps();
        }
        verdict.picture = m_finder.candidate();
        const std::lock_guard lock(m_mutex);
        m_verdicts.insert_or_assign(source.native(), std::move(verdict));
        if (++m_decided >= m_wakeAt && m_runWaiting)
            m_changed.notify_all();
    }
    return true;
}

bool DuplicateLookahead::waitForRoom() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_verdicts.size() < kMostAhead || m_runWaiting || m_stopping; });
    return !m_stopping;
}

} // namespace corvalin
