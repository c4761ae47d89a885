#pragma once

// A drive list choosing a volume that is not ready, as the main window's panes and the options
// dialog's maker both meet it.
#include "app/ui/drive_list.h"
#include "platform/volumes.h"
#include "scripted_message_box.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace corvalin::test {

// Offers "/", `stick` (whose folder is missing) and the volume `root` lies on when that is another
// (a tmpfs, which the folder list remembers the folders below it on), with `shown` chosen; then
// chooses `stick` and answers Retry, inserting the medium first, or Cancel. Returns the volume of
// `root`.
inline std::filesystem::path chooseUnreadyVolume(DriveList* drive, const std::filesystem::path& shown,
                                                 const std::filesystem::path& stick,
                                                 const std::filesystem::path& root,
                                                 ScriptedMessageBox& messages, bool retry) {
    const std::filesystem::path home = volumeOf(root, listVolumes());
    std::vector<Volume> volumes = {{"/", "ext4"}, {stick, "vfat"}};
    if (home != "/")
        volumes.push_back({home, "tmpfs"});
    drive->setVolumes(volumes);
    drive->setDrive(shown);
    messages.answers = {retry ? MessageAnswer::Retry : MessageAnswer::Cancel};
    messages.onShow = [stick, retry](const ScriptedMessageBox::Shown&) {
        if (retry)
            std::filesystem::create_directories(stick);
    };
    drive->setDrive(stick);
    return home;
}

// The one question asked: the folder the volume would open, then the system's reason, and
// nothing else, with Retry and Cancel.
inline void checkUnreadyQuestion(const ScriptedMessageBox& messages, const std::filesystem::path& stick) {
    QCOMPARE(messages.shown.size(), std::size_t(1));
    QCOMPARE(messages.shown[0].buttons, MessageButtons::RetryCancel);
    QCOMPARE(messages.shown[0].text, stick.native() + "\n" + std::strerror(ENOENT));
    QCOMPARE(messages.shown[0].icon, MessageIcon::Information);
}

} // namespace corvalin::test
