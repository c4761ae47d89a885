#include "preview/thumbnail_follow.h"

#include "platform/background_thread.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

bool isMove(RecordType type) {
    return type == RecordType::Move || type == RecordType::Rename;
}

} // namespace

std::vector<MovedFile> filesMoved(const JournalContents& contents, JournalPass pass) {
    std::vector<MovedFile> moved;
    const std::vector<JournalRecord>& records = contents.records;
    for (const JournalRecord& record : records) {
        if (pass == JournalPass::Run && isMove(record.type))
            moved.push_back({record.from, record.to});
        if (pass != JournalPass::Undo || record.type != RecordType::UndoStep || record.number < 1 ||
            static_cast<std::size_t>(record.number) > records.size())
            continue;
        const JournalRecord& undone = records[static_cast<std::size_t>(record.number) - 1];
        if (isMove(undone.type))
            moved.push_back({undone.to, undone.from});
    }
    return moved;
}

int followThumbnails(ThumbnailCache& cache, const fs::path& journal, JournalPass pass,
                     const std::function<bool()>& stop) {
    const Result<JournalContents> contents = readJournal(journal);
    if (!contents)
        return 0;
    cache.forgetMissingFolders();
    int followed = 0;
    for (const MovedFile& file : filesMoved(contents.value(), pass)) {
        if (stop() || !cache.writable())
            break;
        followed += cache.follow(file.from, file.to);
    }
    return followed;
}

ThumbnailFollower::ThumbnailFollower(fs::path cacheFolder) : m_cache(std::move(cacheFolder)) {}

ThumbnailFollower::~ThumbnailFollower() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ThumbnailFollower::add(const fs::path& journal, JournalPass pass) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({journal, pass});
    }
    // Started on first use: most sessions move no picture.
    if (!m_thread.joinable())
        m_thread = std::thread([this] { work(); });
    m_wake.notify_all();
}

void ThumbnailFollower::setPaused(bool paused) {
    {
        const std::lock_guard lock(m_mutex);
        m_paused = paused;
    }
    m_wake.notify_all();
    m_idle.notify_all();
}

void ThumbnailFollower::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_paused || (m_jobs.empty() && !m_busy); });
}

// Waits while paused; false once the follower is stopping.
bool ThumbnailFollower::mayGoOn() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_stopping || !m_paused; });
    return !m_stopping;
}

void ThumbnailFollower::work() {
    becomeBackgroundThread("ThumbnailFollow");
    while (true) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_busy = false;
            m_idle.notify_all();
            m_wake.wait(lock, [this] { return m_stopping || (!m_paused && !m_jobs.empty()); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
        }
        followThumbnails(m_cache, job.journal, job.pass, [this] { return !mayGoOn(); });
    }
}

} // namespace corvalin
