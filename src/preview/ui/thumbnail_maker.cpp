#include "preview/ui/thumbnail_maker.h"

#include "platform/posix_io.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace {

QImage fitted(const QImage& image, QSize box) {
    if (image.width() <= box.width() && image.height() <= box.height())
        return image;
    return image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// Decoded at no more pixels than a thumbnail of `side` needs, which lets the JPEG decoder skip most
// of its work, then turned upright. Within Qt's allocation limit, or a null image.
QImage decodeScaled(int fd, int side, QSize& original) {
    QFile device;
    if (!device.open(fd, QIODevice::ReadOnly, QFile::DontCloseHandle))
        return {};
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    const QSize natural = reader.size();
    if (natural.isValid() && (natural.width() > side || natural.height() > side))
        reader.setScaledSize(natural.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    original =
        reader.transformation() & QImageIOHandler::TransformationRotate90 ? natural.transposed() : natural;
    // A picture whose size was not known beforehand is scaled now.
    return fitted(image, QSize(side, side)).convertToFormat(QImage::Format_ARGB32);
}

QImage decodedPng(const std::string& png) {
    return QImage::fromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()), "PNG");
}

} // namespace

int openPictureToRead(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

MadeThumbnail makeThumbnail(ThumbnailCache& cache, const std::filesystem::path& file, QSize box,
                            ThumbnailFolder makeIn) {
    MadeThumbnail thumbnail;
    // A picture that cannot be read is not looked up either: its thumbnail is no one's to see.
    const UniqueFd picture(openPictureToRead(file));
    struct stat info {};
    if (!picture.valid() || ::fstat(picture.get(), &info) != 0)
        return thumbnail;
    thumbnail.stamp = stampOf(file, info);
    for (const ThumbnailFolder folder : {ThumbnailFolder::Large, ThumbnailFolder::Normal}) {
        // A damaged entry decodes to nothing and is made again.
        const std::optional<std::string> png = cache.find(folder, thumbnail.stamp);
        const QImage found = png ? decodedPng(*png) : QImage();
        if (!found.isNull()) {
            thumbnail.shown = fitted(found, box);
            return thumbnail;
        }
    }
    if (cache.find(ThumbnailFolder::Failures, thumbnail.stamp))
        return thumbnail;
    thumbnail.made = decodeScaled(picture.get(), longestSideIn(makeIn), thumbnail.original);
    thumbnail.undecodable = thumbnail.made.isNull();
    thumbnail.shown = fitted(thumbnail.made, box);
    return thumbnail;
}

void storeThumbnail(ThumbnailCache& cache, const MadeThumbnail& thumbnail, ThumbnailFolder makeIn) {
    if (thumbnail.undecodable) {
        (void)cache.storeFailure(thumbnail.stamp);
        return;
    }
    if (thumbnail.made.isNull() || !cache.writable())
        return;
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    QImageWriter writer(&png, "png");
    if (!writer.write(thumbnail.made))
        return;
    (void)cache.store(makeIn, thumbnail.stamp, png.data().toStdString(),
                      {{"Thumb::Image::Width", std::to_string(thumbnail.original.width())},
                       {"Thumb::Image::Height", std::to_string(thumbnail.original.height())}});
}

} // namespace corvalin
