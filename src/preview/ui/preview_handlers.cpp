// The preview box of the main window: a click in a file list shows that file, and the runs show
// the file in hand. Form1's preview members live here, beside the decoding they use.
#include "app/ui/file_list.h"
#include "app/ui/folder_list.h"
#include "app/ui/form1.h"
#include "platform/paths.h"
#include "preview/ui/picture_decoder.h"
#include "preview/ui/preview_box.h"

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
    showPicture(fd);
    ::close(fd);
}

// Any fault leaves the box empty, without a message.
void Form1::showPicture(int fd) {
    const QRect box = ui.Picture1->contentsRect();
    const PreparedPreview prepared = preparePreview(fd, box.size());
    if (!prepared.image.isNull())
        showPreview(ui.Image1, box, prepared);
}

} // namespace corvalin
