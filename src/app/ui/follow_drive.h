#pragma once

namespace corvalin {

class DriveList;
class FolderList;
class MessageBox;

// Moves a folder list onto the volume chosen in its drive list. A volume that cannot be opened
// offers Retry; Cancel puts the drive list back on the volume of the folder still shown.
void followDrive(DriveList* drive, FolderList* folders, MessageBox& messages);

} // namespace corvalin
