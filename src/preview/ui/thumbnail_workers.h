#pragma once

#include "preview/thumbnail_cache.h"

#include <QImage>
#include <QObject>
#include <QSize>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace corvalin {

// Makes thumbnails on worker threads of low priority, never on the window's: each is read from the
// shared cache, or decoded and written into it. Its clients (the views) ask only for what is on the
// screen and the next screen; a newer request goes before every older one, and a client's requests
// still waiting are replaced by its newer ones. Paused, after the pictures in hand, while a run goes.
class ThumbnailWorkers : public QObject {
    Q_OBJECT
public:
    struct Job {
        std::uint64_t client = 0;
        int item = 0;
        std::filesystem::path file;
        QSize box; // device pixels
        ThumbnailFolder makeIn = ThumbnailFolder::Normal;
    };

    explicit ThumbnailWorkers(const std::filesystem::path& cacheFolder, QObject* parent = nullptr);
    // Stops after the pictures in hand; what waits is dropped.
    ~ThumbnailWorkers() override;

    std::uint64_t newClient() { return m_nextClient++; }
    // Drops `client`'s waiting jobs and puts `jobs` before every other, the first first.
    void submit(std::uint64_t client, std::vector<Job> jobs);
    void setPaused(bool paused);

signals:
    // On the window's thread. A null image: the picture cannot be shown.
    void made(quint64 client, int item, const QImage& image);

private:
    struct Done {
        std::uint64_t client = 0;
        int item = 0;
        QImage image;
    };
    void work();
    bool takeJob(Job& job);
    void finish(const Job& job, QImage image);
    void deliver();

    ThumbnailCache m_cache;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_waiting;
    std::vector<Done> m_done;
    bool m_paused = false;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
    std::uint64_t m_nextClient = 1;
};

} // namespace corvalin
