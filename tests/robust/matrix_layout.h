#pragma once

#include "app/startup.h"

#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The file-system matrix as the harness and its agent inside the virtual machine both see it: an
// ext4 disk holding HOME, the settings, the journals and the sources of the gathers across disks,
// and one disk of each kind, every one mounted over a folder of the harness's work folder, so that
// a path means the same file on both sides.
namespace corvalin::test {

inline constexpr const char* kMatrixGuestFlag = "--matrix-guest";

// What is tried on each disk, in this order: a gather from the ext4 disk onto it, a strip of that
// destination, the undo of both; a gather with source and destination on it (its Trash there), the
// Trash on it, and that gather's undo.
inline const QStringList kMatrixScenarios = {"gather across", "strip",       "undo across",
                                             "gather within", "trash on it", "undo within"};

struct MatrixDisk {
    std::string kind; // as guest_disks.h names it
    std::filesystem::path mountPoint;
};

struct MatrixLayout {
    std::filesystem::path home; // the ext4 disk's mount point
    std::vector<MatrixDisk> disks;

    std::filesystem::path homeFolder() const { return home / "home"; }
    SettingsFiles files() const;
};

std::string encodeMatrixLayout(const MatrixLayout& layout);
std::optional<MatrixLayout> decodeMatrixLayout(std::string_view text);

// The guest's side: every scenario on every disk, one "PC-ROW kind|scenario|ok" line a row, or one
// "PC-ROW kind|scenario|problem" line for each thing that does not hold.
int runMatrixAgent(int argc, char* argv[]);

} // namespace corvalin::test
