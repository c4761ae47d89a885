#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// The files the file-system matrix gathers, and what must hold after each run (matrix_layout.h).
// Each check returns its problems, one line each; nothing when all holds.
namespace corvalin::test {

struct TrialFile {
    std::string folder; // the child folder of the source parent folder
    std::string name;
    bool picture = true;
    std::string bytes; // distinct for every file
};

// Pictures with names of every kind a download brings (CP932, Windows' reserved characters, a
// control character, letter case alone telling two apart, longer than 255 bytes but not 255
// UTF-16 units), and a file that is no picture in every child folder.
const std::vector<TrialFile>& trialFiles();

// Writes every trial file below `source` that its disk can hold; which were written.
std::vector<bool> stageTrialFiles(const std::filesystem::path& source);

// Whether the disk of `folder` takes a file named `name`: tried, and removed again.
bool diskHolds(const std::filesystem::path& folder, const std::string& name);
// Whether it folds letter case: a name found under its capitals.
bool foldsCase(const std::filesystem::path& folder);

// Every entry below the roots, by its path, with a file's bytes; trash folders left out.
using TreeImage = std::map<std::string, std::string>;
TreeImage imageOf(const std::vector<std::filesystem::path>& roots);
std::string compareTrees(const TreeImage& before, const TreeImage& after);

// A gather from `source` to `destination` ended with `status`, saying `output`: each picture
// `fits` marks is in the destination once under a serial number with its bytes; each other one
// is in its folder with that folder, named in the output; nothing is left hidden; a file that is
// no picture is in its place or in `trash` ("files" of the trash it belongs in).
struct GatherCheck {
    std::filesystem::path source, destination, trash;
    std::vector<bool> placed, fits;
    int status = 0;
    std::string output;
};
std::string checkGather(const GatherCheck& check);

// A strip of `folder` ended with `status`: each picture there before is there once with its
// bytes, stripped, except that where names fold together (`foldsCase`) one of each such group
// keeps its number.
std::string checkStrip(const std::filesystem::path& folder, const std::vector<int>& pictures, bool foldsCase,
                       int status);

// The trial pictures in `folder` now, by their index.
std::vector<int> picturesIn(const std::filesystem::path& folder);

// The Trash of a gather within one disk: a trash at the disk's top folder holds every file of
// `source` that is no picture, each item there with a readable info file that names its place in
// `source`; the home trash holds nothing from that disk.
std::string checkTrashOnDisk(const std::filesystem::path& diskTop, const std::filesystem::path& source,
                             const std::vector<bool>& placed, const std::filesystem::path& homeTrash);

// The trash folder of the disk at `diskTop` ("$top/.Trash/$uid" or "$top/.Trash-$uid"); empty
// when there is none.
std::filesystem::path diskTrash(const std::filesystem::path& diskTop);

} // namespace corvalin::test
