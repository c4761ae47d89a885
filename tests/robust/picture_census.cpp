#include "picture_census.h"

#include "app/settings_codec.h"
#include "move_fixture.h"
#include "platform/file_ops.h"

#include <set>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

const std::string kNotAPicture = "readme.txt";

// Distinct bytes of a length that varies with the index; the first line names the picture.
std::string pictureBytes(int index) {
    std::string bytes = "picture " + std::to_string(index) + "\n";
    const std::size_t size = 300 + std::size_t(index) * 7919 % 3700;
    std::uint32_t state = 2166136261u ^ std::uint32_t(index);
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes += char(state >> 24);
    }
    return bytes;
}

// The serial number of a numbered name "000042 name", or -1 when it is not `numbered + name`.
int serialOf(const std::string& numbered, const std::string& name) {
    if (numbered.size() != name.size() + 7 || numbered[6] != ' ' || !numbered.ends_with(name))
        return -1;
    int serial = 0;
    for (int i = 0; i < 6; ++i) {
        if (numbered[i] < '0' || numbered[i] > '9')
            return -1;
        serial = serial * 10 + (numbered[i] - '0');
    }
    return serial;
}

void countSource(const PictureSet& pictures, const fs::path& source, std::vector<int>& finals,
                 Census& census) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(source, error), end; it != end; it.increment(error)) {
        if (!it->is_regular_file() || it->is_symlink())
            continue;
        const fs::path& file = it->path();
        const int index = pictures.indexOf(contentOf(file));
        if (index >= 0 && file == pictures.originOf(index))
            ++finals[index];
        else if (file.filename() != kNotAPicture)
            census.problems += "strange file in the source: " + file.native() + "\n";
    }
    if (error)
        census.problems += "cannot walk the source: " + error.message() + "\n";
}

void countDestination(const PictureSet& pictures, const fs::path& destination, bool recovered,
                      std::vector<int>& finals, Census& census) {
    std::set<int> serials;
    for (const std::string& name : namesIn(destination)) {
        if (name.starts_with(".")) {
            ++census.temporaries;
            if (recovered)
                census.problems += "left over after the recovery: " + name + "\n";
            continue;
        }
        const int index = pictures.indexOf(contentOf(destination / name));
        const int serial = index < 0 ? -1 : serialOf(name, pictures.nameOf(index));
        if (serial < 0) {
            census.problems += "cut short or misnamed under a final name: " + name + "\n";
            continue;
        }
        if (!serials.insert(serial).second)
            census.problems += "serial number used twice: " + name + "\n";
        census.highestSerialNo = std::max(census.highestSerialNo, serial);
        ++census.picturesInDestination;
        ++finals[index];
    }
}

} // namespace

PictureSet::PictureSet(const fs::path& source, int count, int folders, bool write) {
    std::vector<fs::path> dirs;
    for (int f = 0; f < folders; ++f) {
        dirs.push_back(source / ("download_" + std::to_string(f)));
        if (f % 7 == 3)
            dirs.push_back(dirs.back() / "album");
    }
    for (const fs::path& dir : dirs) {
        if (write)
            writeContent(dir / kNotAPicture, "downloaded with the pictures\n");
    }
    for (int i = 0; i < count; ++i) {
        m_names.push_back("p" + std::to_string(i) + (i % 5 == 0 ? ".JPG" : ".jpg"));
        m_origins.push_back(dirs[std::size_t(i) % dirs.size()] / m_names.back());
        const std::string bytes = pictureBytes(i);
        if (write)
            writeContent(m_origins.back(), bytes);
        m_byBytes.emplace(bytes, i);
    }
}

int PictureSet::indexOf(const std::string& bytes) const {
    const auto found = m_byBytes.find(bytes);
    return found == m_byBytes.end() ? -1 : found->second;
}

Census takeCensus(const PictureSet& pictures, const fs::path& source, const fs::path& destination,
                  bool recovered) {
    Census census;
    std::vector<int> finals(std::size_t(pictures.size()), 0);
    countSource(pictures, source, finals, census);
    countDestination(pictures, destination, recovered, finals, census);
    for (int i = 0; i < pictures.size(); ++i) {
        if (finals[i] == 0)
            census.problems += "lost: " + pictures.nameOf(i) + "\n";
        else if (finals[i] > 1 && recovered)
            census.problems += "twice after the recovery: " + pictures.nameOf(i) + "\n";
        else if (finals[i] > 1)
            ++census.picturesTwice;
    }
    return census;
}

std::string checkSettingsFiles(const fs::path& settingsFile, const fs::path& counterFile,
                               int highestSerialNo) {
    std::string problems;
    const Result<std::string> settings = readWholeFile(settingsFile);
    const std::string bytes = settings ? settings.value() : std::string();
    FieldReader reader(bytes);
    std::string text;
    Module1 vars;
    if (!settings || reader.readText(text) != ReadError::None || reader.readText(text) != ReadError::None ||
        reader.readText(text) != ReadError::None || reader.readInt16(vars.RunFlag) != ReadError::None ||
        reader.readOption(vars.OptFlags[0]) != ReadError::None)
        problems += "the settings file does not read\n";
    const Result<std::string> counter = readWholeFile(counterFile);
    std::int32_t serialNo = -1;
    if (counter && FieldReader(counter.value()).readInt32(serialNo) != ReadError::None)
        problems += "the counter file does not read: " + counter.value() + "\n";
    if (!counter && counter.code() != ENOENT)
        problems += "the counter file cannot be read\n";
    if (serialNo < highestSerialNo)
        problems += "the counter file holds " + std::to_string(serialNo) + ", below the number " +
                    std::to_string(highestSerialNo) + " already used\n";
    return problems;
}

} // namespace corvalin::test
