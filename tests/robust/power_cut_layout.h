#pragma once

#include "app/startup.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a power-cut scenario keeps its files, as the harness and its agent inside the virtual
// machine both see them: the two disk images are mounted over folders of the harness's work
// folder, so a path means the same file on both sides.
namespace corvalin::test {

enum class Scenario {
    GatherOneDisk,  // source, destination, settings, journals and Trash on the first disk
    GatherTwoDisks, // the destination on the second disk: every move a copy
    Undo,           // a completed gather across the disks, then its undo
    Strip           // the serial numbers cut off the names of one folder
};

struct Layout {
    Scenario scenario = Scenario::GatherOneDisk;
    std::filesystem::path disk1, disk2; // mount points
    int pictures = 0;
    int folders = 0;
    int firstSerialNo = 0; // the counter file's number before the first run
    // Pictures that no run had handled for good when the power was cut (still in their place, or
    // only a hidden copy in the destination; after a cut within the undo of a completed run, all):
    // what runs started after the cut do with them, or what a completed run did, is all on the
    // disk in their journals, so undoing every run must bring each of them back to its place.
    std::vector<int> pending;

    bool strips() const { return scenario == Scenario::Strip; }
    std::filesystem::path home() const { return disk1 / "home"; }
    std::filesystem::path source() const { return disk1 / "downloads"; }
    std::filesystem::path destination() const {
        return (scenario == Scenario::GatherOneDisk ? disk1 : disk2) / "pictures";
    }
    // Where the pictures are made: the gather's source, or the parent of the folder a strip works in.
    std::filesystem::path pictureRoot() const { return strips() ? disk1 / "sorted" : source(); }
    std::filesystem::path stripFolder() const { return pictureRoot() / "download_0"; }
    SettingsFiles files() const;
};

std::string encodeLayout(const Layout& layout);
std::optional<Layout> decodeLayout(std::string_view text);

} // namespace corvalin::test
