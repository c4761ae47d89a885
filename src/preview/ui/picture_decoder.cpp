#include "preview/ui/picture_decoder.h"

#include <QFile>
#include <QImageReader>

#include <fcntl.h>
#include <unistd.h>

namespace corvalin {

int openPicture(const std::filesystem::path& file) {
    return ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
}

bool hasPictureReaderName(const std::filesystem::path& file) {
    static const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    const std::string extension = file.extension().native();
    if (extension.size() < 2)
        return false;
    return formats.contains(QByteArray::fromStdString(extension.substr(1)).toLower());
}

// A reader over the descriptor from its start; the descriptor stays open for the caller.
static bool openReader(int fd, QFile& device, QImageReader& reader) {
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0 ||
        !device.open(fd, QIODevice::ReadOnly, QFile::DontCloseHandle))
        return false;
    reader.setDevice(&device);
    return true;
}

QSize pictureSize(int fd) {
    QFile device;
    QImageReader reader;
    if (!openReader(fd, device, reader))
        return {};
    reader.setAutoTransform(false);
    return reader.size();
}

QImage decodePicture(int fd, QSize size) {
    QFile device;
    QImageReader reader;
    if (!openReader(fd, device, reader))
        return {};
    reader.setAutoTransform(false);
    if (size.isValid() && size != reader.size())
        reader.setScaledSize(size);
    return reader.read();
}

} // namespace corvalin
