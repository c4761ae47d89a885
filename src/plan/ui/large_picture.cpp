#include "plan/ui/large_picture.h"

#include "preview/ui/preview_box.h"
#include "preview/ui/preview_decoder.h"
#include "preview/ui/thumbnail_maker.h"

#include <QLabel>
#include <QVBoxLayout>

namespace corvalin {

LargePicture::LargePicture(QWidget* parent)
    : QFrame(parent), m_box(new QFrame(this)), m_image(new QLabel(m_box)), m_caption(new QLabel(this)),
      m_decoder(new PreviewDecoder(this)) {
    setObjectName(QStringLiteral("picLarger"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_box->setMinimumSize(160, 120);
    layout->addWidget(m_box, 1);
    m_caption->setObjectName(QStringLiteral("lblLarger"));
    m_caption->setWordWrap(true);
    m_caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_caption->setTextFormat(Qt::PlainText);
    layout->addWidget(m_caption);
    m_image->hide();
    connect(m_decoder, &PreviewDecoder::decoded, this, &LargePicture::decoded);
}

void LargePicture::showPicture(const std::filesystem::path& file, const QString& caption) {
    m_file = file;
    m_caption->setText(file.empty() ? QStringLiteral("画像を選ぶと、ここに大きく表示します。") : caption);
    request();
}

void LargePicture::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    if (!m_file.empty())
        request();
}

void LargePicture::request() {
    ++m_generation;
    m_image->hide();
    if (m_file.empty()) {
        m_shown = true;
        return;
    }
    m_shown = false;
    m_decoder->request(openPictureToRead(m_file), m_box->contentsRect().size(), m_generation);
}

void LargePicture::decoded(const PreparedPreview& prepared, std::uint64_t generation) {
    if (generation != m_generation)
        return;
    m_shown = true;
    if (!prepared.image.isNull())
        showPreview(m_image, m_box->contentsRect(), prepared);
}

} // namespace corvalin
