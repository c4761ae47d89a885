#include "preview/ui/thumbnail_workers.h"

#include "platform/background_thread.h"
#include "preview/ui/thumbnail_maker.h"

#include <QMetaObject>

#include <algorithm>

namespace corvalin {

namespace {

// The window keeps a core of its own; a third thread on a machine of two only takes turns.
unsigned workerCount() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

} // namespace

ThumbnailWorkers::ThumbnailWorkers(const std::filesystem::path& cacheFolder, QObject* parent)
    : QObject(parent), m_cache(cacheFolder) {}

ThumbnailWorkers::~ThumbnailWorkers() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_waiting.clear();
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void ThumbnailWorkers::submit(std::uint64_t client, std::vector<Job> jobs) {
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_waiting, [client](const Job& job) { return job.client == client; });
        m_waiting.insert(m_waiting.begin(), std::make_move_iterator(jobs.begin()),
                         std::make_move_iterator(jobs.end()));
    }
    // Started on first use: a plan opened without pictures needs none.
    if (m_threads.empty() && !m_waiting.empty()) {
        for (unsigned i = 0; i < workerCount(); ++i)
            m_threads.emplace_back([this] { work(); });
    }
    m_wake.notify_all();
}

void ThumbnailWorkers::setPaused(bool paused) {
    {
        const std::lock_guard lock(m_mutex);
        m_paused = paused;
    }
    m_wake.notify_all();
}

bool ThumbnailWorkers::takeJob(Job& job) {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_stopping || (!m_paused && !m_waiting.empty()); });
    if (m_stopping)
        return false;
    job = std::move(m_waiting.front());
    m_waiting.pop_front();
    return true;
}

void ThumbnailWorkers::work() {
    becomeBackgroundThread("Thumbnails");
    Job job;
    while (takeJob(job)) {
        const MadeThumbnail thumbnail = makeThumbnail(m_cache, job.file, job.box, job.makeIn);
        // Shown first; written after, so the screen fills at the pace of decoding alone.
        finish(job, thumbnail.shown);
        storeThumbnail(m_cache, thumbnail, job.makeIn);
    }
}

void ThumbnailWorkers::finish(const Job& job, QImage image) {
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        first = m_done.empty();
        m_done.push_back({job.client, job.item, std::move(image)});
    }
    // One delivery for whatever finished meanwhile. Posted to this object, so it is dropped with it.
    if (first)
        QMetaObject::invokeMethod(this, &ThumbnailWorkers::deliver, Qt::QueuedConnection);
}

void ThumbnailWorkers::deliver() {
    std::vector<Done> done;
    {
        const std::lock_guard lock(m_mutex);
        done.swap(m_done);
    }
    for (const Done& each : done)
        emit made(each.client, each.item, each.image);
}

} // namespace corvalin
