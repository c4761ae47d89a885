#pragma once

#include "preview/ui/preview_box.h"

#include <QObject>
#include <QSize>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace corvalin {

// Decodes preview pictures on one thread of its own, so that a run never waits for a picture:
// decoding a camera picture costs far more than moving it. Only the newest request counts; one
// still waiting when a newer one comes is dropped unread. Some 12 pictures a second at most are
// decoded and shown: a run passes thousands a second, so the eye sees no difference, and the
// processor stays with the run.
class PreviewDecoder : public QObject {
    Q_OBJECT
public:
    explicit PreviewDecoder(QObject* parent = nullptr);
    // Stops the thread after the picture in hand; waiting requests are dropped.
    ~PreviewDecoder() override;

    // Takes over `fd`, a file opened before the run moves it (an open file stays readable wherever
    // it goes); -1 for a file that could not be opened. `generation` comes back with the result, so
    // the caller can tell stale ones apart.
    void request(int fd, QSize box, std::uint64_t generation);
    // Drops the waiting request, if any.
    void dropPending();
    // True when a request made now would be decoded next: the thread waits for one (or has not
    // started). Any other request would only replace the waiting one, or be replaced itself.
    bool wantsRequest();

signals:
    // On the thread this object lives on, in the order of the requests. A file that is no picture
    // gives a null image: the box shows nothing for it.
    void decoded(const corvalin::PreparedPreview& prepared, std::uint64_t generation);

private:
    struct Request {
        int fd = -1;
        QSize box;
        std::uint64_t generation = 0;
    };
    struct Finished {
        PreparedPreview prepared;
        std::uint64_t generation = 0;
    };
    void work();
    bool takeRequest(Request& request, std::chrono::steady_clock::time_point notBefore);
    void deliverFinished();

    // Everything the two threads share lies behind this one lock; the window's thread collects
    // finished pictures by a timer of its own, so no Qt object crosses between the threads.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_pending;
    std::optional<Finished> m_finished; // the newest picture not yet delivered
    bool m_decoding = false;
    bool m_stopping = false;
    bool m_waitingForRequest = false; // rested, and waiting for the next request

    QTimer m_collect;
    // A plain thread: it runs no event loop, and joining it is visible to the thread checker.
    std::thread m_thread;
};

} // namespace corvalin
