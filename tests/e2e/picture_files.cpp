#include "picture_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImage>

namespace corvalin::e2e {

namespace fs = std::filesystem;

bool writePicture(const fs::path& file, int seed) {
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor((seed * 37) % 256, (seed * 91) % 256, (seed * 13) % 256));
    // The seed's bits as a band of black and white across the top, so that no two seeds give the
    // same picture, even after JPEG compression.
    for (int bit = 0; bit < image.width(); ++bit) {
        for (int y = 0; y < 4; ++y)
            image.setPixelColor(bit, y, (seed >> bit) & 1 ? Qt::white : Qt::black);
    }
    const QString ext = QString::fromStdString(file.extension().native()).toLower();
    const char* format = ext == ".bmp" ? "BMP" : ext == ".png" ? "PNG" : "JPEG";
    return image.save(QString::fromStdString(file.native()), format, 100);
}

QByteArray digestOf(const fs::path& file) {
    QFile in(QString::fromStdString(file.native()));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(in.readAll(), QCryptographicHash::Sha256);
}

std::map<QByteArray, int> contentsBelow(const fs::path& root) {
    std::map<QByteArray, int> contents;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file())
            ++contents[digestOf(it->path())];
    }
    return contents;
}

QStringList namesIn(const fs::path& folder) {
    QStringList names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names << QString::fromStdString(it->path().filename().native()) + (it->is_directory() ? "/" : "");
    names.sort();
    return names;
}

} // namespace corvalin::e2e
