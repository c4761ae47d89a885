#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSize>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <unordered_map>
#include <vector>

namespace corvalin {

class ThumbnailWorkers;

// The thumbnails of one view of the plan. Only those on the screen and the next screen are asked
// of the workers; those made are kept, the most recently seen first, within a memory budget, and
// the others are made again (from the cache, by then) when the view comes back to them. So ten
// thousand pictures cost no more memory than a few screens of them.
class ThumbnailStore : public QObject {
    Q_OBJECT
public:
    using FileOf = std::function<std::filesystem::path(int item)>;

    ThumbnailStore(ThumbnailWorkers& workers, QObject* parent = nullptr);
    // What it asked for and is still waiting is dropped.
    ~ThumbnailStore() override;

    // `count` pictures, item i being the file `fileOf(i)`; the thumbnails of the former ones go.
    void reset(int count, FileOf fileOf);
    // The box (in the view's pixels) a thumbnail is fitted into, and the screen's pixels for one.
    void setBox(QSize box, qreal pixelRatio);
    QSize box() const { return m_box; }
    // Items `first` to `ahead` are on the screen or come next. What is not made yet is asked for,
    // the first first; what was asked for before and lies elsewhere is no longer wanted.
    void want(int first, int ahead);

    // The thumbnail of `item`, or a placeholder while it is made or when it cannot be shown.
    QPixmap pixmap(int item) const;
    bool isMade(int item) const;
    bool isFailed(int item) const;

signals:
    void changed(int item);

private:
    enum class State : std::uint8_t { None, Asked, Made, Failed };
    struct Kept {
        QPixmap pixmap;
        std::list<int>::iterator place; // in m_recent
    };
    void made(quint64 client, int item, const QImage& image);
    void keep(int item, QPixmap pixmap);
    void touch(int item);
    void makePlaceholders();

    // The window's, which may go first when the whole program ends.
    QPointer<ThumbnailWorkers> m_workers;
    std::uint64_t m_client = 0;
    FileOf m_fileOf;
    std::vector<State> m_states;
    std::vector<int> m_asked;
    std::unordered_map<int, Kept> m_kept;
    std::list<int> m_recent; // most recently seen first
    std::size_t m_keptBytes = 0;
    int m_first = -1;
    int m_ahead = -1;
    QSize m_box{128, 128};
    qreal m_ratio = 1;
    QPixmap m_waiting;
    QPixmap m_failed;
};

} // namespace corvalin
