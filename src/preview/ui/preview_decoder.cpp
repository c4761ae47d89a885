#include "preview/ui/preview_decoder.h"

#include "platform/background_thread.h"

#include <unistd.h>

namespace corvalin {

namespace {
constexpr std::chrono::milliseconds kPictureInterval{80};
} // namespace

PreviewDecoder::PreviewDecoder(QObject* parent) : QObject(parent) {
    m_collect.setInterval(kPictureInterval);
    connect(&m_collect, &QTimer::timeout, this, &PreviewDecoder::deliverFinished);
}

PreviewDecoder::~PreviewDecoder() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    dropPending();
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void PreviewDecoder::request(int fd, QSize box, std::uint64_t generation) {
    int dropped = -1;
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_pending)
            dropped = m_pending->fd;
        m_pending = Request{fd, box, generation};
        // Resting between pictures, the thread takes the newest request when the rest ends; waking
        // it for every file would cost the run a switch to it and back per file.
        wake = m_waitingForRequest;
    }
    if (dropped >= 0)
        ::close(dropped);
    // Started on first use: a window that never runs needs no thread.
    if (!m_thread.joinable())
        m_thread = std::thread([this] { work(); });
    if (wake)
        m_wake.notify_one();
    if (!m_collect.isActive())
        m_collect.start();
}

void PreviewDecoder::dropPending() {
    std::optional<Request> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_pending);
    }
    if (dropped && dropped->fd >= 0)
        ::close(dropped->fd);
}

bool PreviewDecoder::wantsRequest() {
    if (!m_thread.joinable())
        return true;
    std::lock_guard lock(m_mutex);
    return m_waitingForRequest && !m_pending;
}

bool PreviewDecoder::takeRequest(Request& request, std::chrono::steady_clock::time_point notBefore) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock, notBefore, [this] { return m_stopping; });
    m_waitingForRequest = true;
    m_wake.wait(lock, [this] { return m_stopping || m_pending; });
    m_waitingForRequest = false;
    if (m_stopping)
        return false;
    request = *m_pending;
    m_pending.reset();
    m_decoding = true;
    return true;
}

void PreviewDecoder::work() {
    // Below the run on a busy machine: a preview may lag, the run should not.
    becomeBackgroundThread("PreviewDecoder");
    Request request;
    auto notBefore = std::chrono::steady_clock::now();
    while (takeRequest(request, notBefore)) {
        // The eye follows no more pictures than this; the time between is left to the run.
        notBefore = std::chrono::steady_clock::now() + kPictureInterval;
        // A file that cannot be opened or read as a picture gives an empty result: the box then
        // shows nothing rather than an older picture.
        PreparedPreview prepared = preparePreview(request.fd, request.box);
        if (request.fd >= 0)
            ::close(request.fd);
        std::lock_guard lock(m_mutex);
        m_finished = Finished{std::move(prepared), request.generation};
        m_decoding = false;
    }
}

// On the window's thread, by the timer: hands over the newest picture, and rests once nothing is
// left to wait for.
void PreviewDecoder::deliverFinished() {
    std::optional<Finished> finished;
    bool idle = false;
    {
        std::lock_guard lock(m_mutex);
        finished.swap(m_finished);
        idle = !m_pending && !m_decoding;
    }
    if (idle)
        m_collect.stop();
    if (finished)
        emit decoded(finished->prepared, finished->generation);
}

} // namespace corvalin
