// The preview box of the main window: a click in a file list shows that file, and the runs show
// the file in hand. Form1's preview members live here, beside the decoding they use.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "platform/paths.h"
#include "preview/fit.h"
#include "preview/ui/picture_decoder.h"

#include <QPixmap>

#include <cmath>
#include <unistd.h>

namespace corvalin {

void Form1::File1_Click() {
    showClickedFile(ui.Dir1, ui.File1);
}

void Form1::File2_Click() {
    showClickedFile(ui.Dir2, ui.File2);
}

void Form1::showClickedFile(corvalin::FolderList* folders, FileList* files) {
    if (isBusy())
        return;
    PreviewPath = joinPath(folders->path(), files->fileName());
    ui.Picture1->setFrameStyle(QFrame::Box | QFrame::Plain);
    ui.Picture1->setLineWidth(1);
    ui.Label12->show();
    FitPreview();
}

void Form1::FitPreview() {
    ui.Image1->hide();
    ui.Image1->setScaledContents(false);
    const int fd = openPicture(PreviewPath);
    if (fd < 0)
        return;
    const QSize natural = pictureSize(fd);
    if (natural.isValid())
        showPicture(fd, natural);
    ::close(fd);
}

// Any fault leaves the box empty, without a message.
void Form1::showPicture(int fd, QSize natural) {
    const QRect box = ui.Picture1->contentsRect();
    const PreviewPlacement placed =
        fitPreview(float(box.width()), float(box.height()), float(natural.width()), float(natural.height()));
    const QSize shown(std::max(1, int(std::lround(placed.width))),
                      std::max(1, int(std::lround(placed.height))));
    const QImage picture = decodePicture(fd, shown);
    if (picture.isNull())
        return;
    ui.Image1->setScaledContents(placed.stretch);
    ui.Image1->setPixmap(QPixmap::fromImage(picture));
    ui.Image1->setGeometry(box.left() + int(placed.left), box.top() + int(placed.top), shown.width(),
                           shown.height());
    ui.Image1->show();
}

} // namespace corvalin
