#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

// A set of pictures with distinct bytes spread over the child folders of a source parent folder,
// and the census that tells, after a run was cut off, where each of them is and in what state.
namespace corvalin::test {

class PictureSet {
public:
    // Writes `count` pictures of a few hundred bytes to a few kilobytes into `folders` child
    // folders of `source` (every seventh with an album inside), and a file that is no picture into
    // each folder. With `write` false only describes the set already written there (by another
    // process, or before a reboot).
    PictureSet(const std::filesystem::path& source, int count, int folders, bool write = true);

    int size() const { return int(m_names.size()); }
    // The picture these bytes belong to, or -1.
    int indexOf(const std::string& bytes) const;
    const std::string& nameOf(int index) const { return m_names[index]; }
    const std::filesystem::path& originOf(int index) const { return m_origins[index]; }

private:
    std::vector<std::string> m_names;
    std::vector<std::filesystem::path> m_origins;
    std::unordered_map<std::string, int> m_byBytes;
};

struct Census {
    std::string problems;     // one line each; empty when all is well
    int highestSerialNo = -1; // of the numbered names in the destination
    int temporaries = 0;      // hidden files in the destination (an interrupted copy)
    int picturesTwice = 0;    // under two final names (the source not yet removed)
    int picturesInDestination = 0;
};

// Looks at every file below `source` and in `destination`. Hidden names are not final names: a
// picture must exist at least once under a final name, in its own folder or numbered in the
// destination, with its bytes unchanged, and nothing else may sit under a final name. After the
// recovery (`recovered`) each picture must exist exactly once and nothing hidden may be left.
Census takeCensus(const PictureSet& pictures, const std::filesystem::path& source,
                  const std::filesystem::path& destination, bool recovered);

// The settings file reads as five fields and the counter file as a number no lower than
// `highestSerialNo` (the next start goes on from there); a counter file may be missing only
// before the first picture.
std::string checkSettingsFiles(const std::filesystem::path& settingsFile,
                               const std::filesystem::path& counterFile, int highestSerialNo);

} // namespace corvalin::test
