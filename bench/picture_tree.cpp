#include "picture_tree.h"

#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace corvalin::bench {

namespace fs = std::filesystem;

namespace {

QImage cameraLikeImage(QSize size, QRandomGenerator& random) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv(random.bounded(360), 60 + random.bounded(120), 200));
    sky.setColorAt(1, QColor::fromHsv(random.bounded(360), 80 + random.bounded(120), 90));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), random.bounded(256), random.bounded(256),
                                         80 + random.bounded(170)));
        const int w = 20 + random.bounded(size.width() / 3);
        const int h = 20 + random.bounded(size.height() / 3);
        painter.drawEllipse(random.bounded(size.width()), random.bounded(size.height()), w, h);
    }
    painter.end();
    // Sensor noise: what makes a real photograph compress to its size.
    const int amplitude = 2 + random.bounded(4);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(random.bounded(2 * amplitude + 1)) - amplitude;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    return image;
}

QSize pictureSize(double megapixels, QRandomGenerator& random) {
    const double pixels = megapixels * 1e6 * (0.7 + random.generateDouble() * 0.6);
    const bool portrait = random.bounded(4) == 0;
    const int wide = int(std::sqrt(pixels * 4 / 3));
    const int narrow = int(wide * 3 / 4);
    return portrait ? QSize(narrow, wide) : QSize(wide, narrow);
}

void writeSmallFile(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + file.native());
}

std::string pictureName(int index, QRandomGenerator& random) {
    char name[64];
    switch (random.bounded(4)) {
    case 0:
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", index);
        break;
    case 1:
        std::snprintf(name, sizeof name, "DSC%05d.jpg", index);
        break;
    case 2:
        std::snprintf(name, sizeof name, "photo (%d).jpeg", index);
        break;
    default:
        std::snprintf(name, sizeof name, "%06d image%d.jpg", random.bounded(999999), index);
    }
    return name;
}

} // namespace

double makePicturePool(const fs::path& pool, const TreeShape& shape) {
    fs::create_directories(pool);
    QRandomGenerator random(shape.seed);
    double total = 0;
    for (int i = 0; i < shape.distinct; ++i) {
        const fs::path file = pool / (std::to_string(i) + ".jpg");
        const QImage image = cameraLikeImage(pictureSize(shape.megapixels, random), random);
        QImageWriter writer(QString::fromStdString(file.native()), "jpg");
        writer.setQuality(78 + random.bounded(10));
        if (!writer.write(image))
            throw std::runtime_error("cannot write " + file.native());
        total += double(fs::file_size(file));
    }
    return total / shape.distinct;
}

std::vector<fs::path> makeSourceTree(const fs::path& pool, const fs::path& source, const TreeShape& shape) {
    QRandomGenerator random(shape.seed + 1);
    std::vector<fs::path> folders;
    for (int i = 0; i < shape.folders; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "download_%03d", i + 1);
        folders.push_back(source / name);
        // Now and then an album inside a download.
        if (random.bounded(10) == 0)
            folders.back() /= "album";
        fs::create_directories(folders.back());
    }
    std::vector<fs::path> made;
    for (int i = 0; i < shape.pictures; ++i) {
        // Uneven: some folders get many pictures, some few.
        const auto folder = std::size_t(std::pow(random.generateDouble(), 1.5) * double(folders.size()));
        const fs::path file = folders[std::min(folder, folders.size() - 1)] / pictureName(i, random);
        // With as many distinct pictures as pictures, each is its own file: no copy reads another's
        // bytes from the cache.
        const int drawn = int(random.bounded(shape.distinct));
        const int pick = shape.distinct >= shape.pictures ? i : drawn;
        fs::create_hard_link(pool / (std::to_string(pick) + ".jpg"), file);
        made.push_back(file);
    }
    static const char* const kinds[] = {"readme.txt", "index.html", "Thumbs.db", "link.url", "desc.nfo"};
    for (int i = 0; i < shape.others; ++i) {
        const fs::path file = folders[random.bounded(int(folders.size()))] /
                              (std::to_string(i) + "_" + kinds[random.bounded(5)]);
        writeSmallFile(file, "downloaded with the pictures\n");
        made.push_back(file);
    }
    return made;
}

void linkCopy(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::create_hard_links);
}

} // namespace corvalin::bench
