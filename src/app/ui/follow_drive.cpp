#include "app/ui/follow_drive.h"

#include "app/error_text.h"
#include "app/message_box.h"
#include "app/ui/drive_list.h"
#include "app/ui/folder_list.h"

namespace corvalin {

void followDrive(DriveList* drive, FolderList* folders, MessageBox& messages) {
    for (;;) {
        const Status opened = folders->setPath(folders->folderOnVolume(drive->drive(), drive->volumes()));
        if (opened)
            return;
        const MessageAnswer answer = messages.show(describeUnreadyFolder(opened.error()),
                                                   MessageButtons::RetryCancel, MessageIcon::Information);
        if (answer != MessageAnswer::Retry) {
            drive->setDrive(folders->path());
            return;
        }
    }
}

} // namespace corvalin
