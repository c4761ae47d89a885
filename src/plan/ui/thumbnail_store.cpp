#include "plan/ui/thumbnail_store.h"

#include "preview/ui/thumbnail_workers.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvalin {

namespace {

// Some thousand thumbnails of 128 pixels; a screen holds a few dozen.
constexpr std::size_t kKeptBytes = 64u << 20;

std::size_t bytesOf(const QPixmap& pixmap) {
    return static_cast<std::size_t>(pixmap.width()) * static_cast<std::size_t>(pixmap.height()) * 4;
}

} // namespace

ThumbnailStore::ThumbnailStore(ThumbnailWorkers& workers, QObject* parent)
    : QObject(parent), m_workers(&workers), m_client(workers.newClient()) {
    connect(&workers, &ThumbnailWorkers::made, this, &ThumbnailStore::made);
    makePlaceholders();
}

ThumbnailStore::~ThumbnailStore() {
    if (m_workers)
        m_workers->submit(m_client, {});
}

void ThumbnailStore::reset(int count, FileOf fileOf) {
    if (m_workers)
        m_workers->submit(m_client, {});
    // Whatever the workers still deliver for the former pictures is not taken for the new ones.
    if (m_workers)
        m_client = m_workers->newClient();
    m_fileOf = std::move(fileOf);
    m_states.assign(static_cast<std::size_t>(std::max(count, 0)), State::None);
    m_asked.clear();
    m_kept.clear();
    m_recent.clear();
    m_keptBytes = 0;
    m_first = m_ahead = -1;
}

void ThumbnailStore::setBox(QSize box, qreal pixelRatio) {
    if (box == m_box && qFuzzyCompare(pixelRatio, m_ratio))
        return;
    m_box = box;
    m_ratio = pixelRatio;
    makePlaceholders();
    reset(static_cast<int>(m_states.size()), m_fileOf);
}

void ThumbnailStore::want(int first, int ahead) {
    const int count = static_cast<int>(m_states.size());
    first = std::clamp(first, 0, count);
    ahead = std::clamp(ahead, first - 1, count - 1);
    if (first == m_first && ahead == m_ahead)
        return;
    m_first = first;
    m_ahead = ahead;
    for (int item : m_asked) {
        if (m_states[std::size_t(item)] == State::Asked)
            m_states[std::size_t(item)] = State::None;
    }
    m_asked.clear();
    const QSize box(int(std::lround(m_box.width() * m_ratio)), int(std::lround(m_box.height() * m_ratio)));
    // What comes out of the cache at 256 pixels looks sharp on a screen of two pixels a point.
    const ThumbnailFolder makeIn =
        std::max(box.width(), box.height()) > longestSideIn(ThumbnailFolder::Normal)
            ? ThumbnailFolder::Large
            : ThumbnailFolder::Normal;
    std::vector<ThumbnailWorkers::Job> jobs;
    for (int item = ahead; item >= first; --item) {
        State& state = m_states[std::size_t(item)];
        if (state == State::Made)
            touch(item);
        if (state == State::Made || state == State::Failed)
            continue;
        state = State::Asked;
        m_asked.push_back(item);
        jobs.push_back({m_client, item, m_fileOf(item), box, makeIn});
    }
    // The screen's first picture first, then the rest of the screen, then the next screen.
    std::reverse(jobs.begin(), jobs.end());
    if (m_workers)
        m_workers->submit(m_client, std::move(jobs));
}

QPixmap ThumbnailStore::pixmap(int item) const {
    const auto kept = m_kept.find(item);
    if (kept != m_kept.end())
        return kept->second.pixmap;
    return isFailed(item) ? m_failed : m_waiting;
}

bool ThumbnailStore::isMade(int item) const {
    return m_kept.contains(item);
}

bool ThumbnailStore::isFailed(int item) const {
    return item >= 0 && std::size_t(item) < m_states.size() && m_states[std::size_t(item)] == State::Failed;
}

void ThumbnailStore::made(quint64 client, int item, const QImage& image) {
    if (client != m_client || item < 0 || std::size_t(item) >= m_states.size())
        return;
    if (image.isNull()) {
        m_states[std::size_t(item)] = State::Failed;
    } else {
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(m_ratio);
        keep(item, std::move(pixmap));
    }
    emit changed(item);
}

// A picture asked for again while a worker had it in hand comes twice: the second replaces the first.
void ThumbnailStore::keep(int item, QPixmap pixmap) {
    m_states[std::size_t(item)] = State::Made;
    m_keptBytes += bytesOf(pixmap);
    const auto [kept, added] = m_kept.try_emplace(item);
    if (added) {
        m_recent.push_front(item);
        kept->second.place = m_recent.begin();
    } else {
        m_keptBytes -= bytesOf(kept->second.pixmap);
        touch(item);
    }
    kept->second.pixmap = std::move(pixmap);
    while (m_keptBytes > kKeptBytes && m_recent.size() > 1) {
        const int oldest = m_recent.back();
        const auto evicted = m_kept.find(oldest);
        m_keptBytes -= bytesOf(evicted->second.pixmap);
        m_kept.erase(evicted);
        m_recent.pop_back();
        m_states[std::size_t(oldest)] = State::None;
    }
}

void ThumbnailStore::touch(int item) {
    const auto kept = m_kept.find(item);
    if (kept != m_kept.end())
        m_recent.splice(m_recent.begin(), m_recent, kept->second.place);
}

// A light frame while a thumbnail is made; a crossed one for a picture that cannot be shown.
void ThumbnailStore::makePlaceholders() {
    const QSize pixels(int(std::lround(m_box.width() * m_ratio)), int(std::lround(m_box.height() * m_ratio)));
    QPixmap waiting(pixels);
    waiting.fill(Qt::transparent);
    QPixmap failed = waiting;
    const QRectF frame = QRectF(QPointF(0, 0), QSizeF(pixels)).adjusted(8, 8, -8, -8);
    {
        QPainter painter(&waiting);
        painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
        painter.drawRect(frame);
    }
    {
        QPainter painter(&failed);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0, 0, 0, 110), 2));
        painter.drawRect(frame);
        const QRectF cross =
            frame.adjusted(frame.width() / 3, frame.height() / 3, -frame.width() / 3, -frame.height() / 3);
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.topRight(), cross.bottomLeft());
    }
    waiting.setDevicePixelRatio(m_ratio);
    failed.setDevicePixelRatio(m_ratio);
    m_waiting = waiting;
    m_failed = failed;
}

} // namespace corvalin
