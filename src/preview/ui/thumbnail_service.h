#pragma once

#include "preview/thumbnail_follow.h"

#include <QObject>

#include <filesystem>

namespace corvalin {

class Form1;
class ThumbnailWorkers;

// The main window's use of the shared thumbnail cache: the workers that make the plan's
// thumbnails, and the entries that follow the pictures after each run and undo. Both wait while a
// run goes, so that a run never shares the disk or the processor with them.
class ThumbnailService : public QObject {
    Q_OBJECT
public:
    // The window's service, created on first use as a child of the window.
    static ThumbnailService& of(Form1& form);

    ThumbnailWorkers& workers() { return *m_workers; }
    // After a run or an undo whose journal is `journal`: the cache entries follow in the background.
    void follow(const std::filesystem::path& journal, JournalPass pass);
    // Returns once the entries of every journal given have followed (tests).
    void waitForFollowing() { m_follower.waitUntilIdle(); }

private:
    explicit ThumbnailService(Form1& form);
    void runStateChanged(bool running);

    ThumbnailWorkers* m_workers;
    ThumbnailFollower m_follower;
};

} // namespace corvalin
