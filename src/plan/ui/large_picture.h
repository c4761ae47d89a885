#pragma once

#include <QFrame>

#include <cstdint>
#include <filesystem>

class QLabel;

namespace corvalin {

class PreviewDecoder;
struct PreparedPreview;

// The picture chosen in the grid, larger, with its names under it. Decoded beside the window's
// thread, the newest choice only, so that going through the grid with the arrow keys never waits.
class LargePicture : public QFrame {
    Q_OBJECT
public:
    explicit LargePicture(QWidget* parent = nullptr);

    // Shows `file` with `caption`; an empty path clears the view.
    void showPicture(const std::filesystem::path& file, const QString& caption);
    const std::filesystem::path& picture() const { return m_file; }
    // True once the picture asked for last is on the screen (or is none that can be shown).
    bool isShown() const { return m_shown; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void request();
    void decoded(const PreparedPreview& prepared, std::uint64_t generation);

    QFrame* m_box;
    QLabel* m_image;
    QLabel* m_caption;
    PreviewDecoder* m_decoder;
    std::filesystem::path m_file;
    std::uint64_t m_generation = 0;
    bool m_shown = true;
};

} // namespace corvalin
