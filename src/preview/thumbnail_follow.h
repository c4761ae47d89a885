#pragma once

#include "history/journal_reader.h"
#include "preview/thumbnail_cache.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// After a run the thumbnail cache's entries follow the pictures it moved or renamed to their new
// names, so that the file manager need not make thousands of thumbnails again; undo takes them
// back the same way. Entries of the files a run removed stay as they are.
namespace corvalin {

// Which part of a journal tells the moves: the run's own, or what its undo passes put back.
enum class JournalPass { Run, Undo };

struct MovedFile {
    std::filesystem::path from;
    std::filesystem::path to;
};

// The pictures moved and the files renamed by the run (its Move and Rename records), or put back by
// its undo (each undo step of such a record, from the new place to the old), in the order done.
std::vector<MovedFile> filesMoved(const JournalContents& contents, JournalPass pass);

// Lets the cache entries follow what the journal says was moved; what did not take place is left
// (the cache checks the disk). Asks `stop` before each file. The number of entries moved.
int followThumbnails(
    ThumbnailCache& cache, const std::filesystem::path& journal, JournalPass pass,
    const std::function<bool()>& stop = [] { return false; });

// The same on a thread of its own at low priority, a journal after the other, so that neither the
// end of a run nor the next one waits for it; paused (after the file in hand) while a run goes.
class ThumbnailFollower {
public:
    explicit ThumbnailFollower(std::filesystem::path cacheFolder);
    // Stops after the file in hand: the entries not yet moved stay under their old names.
    ~ThumbnailFollower();
    ThumbnailFollower(const ThumbnailFollower&) = delete;
    ThumbnailFollower& operator=(const ThumbnailFollower&) = delete;

    void add(const std::filesystem::path& journal, JournalPass pass);
    void setPaused(bool paused);
    // Returns once every journal added is done (or the follower is paused with work left).
    void waitUntilIdle();

private:
    struct Job {
        std::filesystem::path journal;
        JournalPass pass;
    };
    void work();
    bool mayGoOn();

    ThumbnailCache m_cache;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_paused = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace corvalin
