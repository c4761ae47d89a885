#include "matrix_checks.h"

#include "move_fixture.h"
#include "naming/serial_name.h"
#include "platform/trash.h"

#include <QString>

#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin::test {

namespace fs = std::filesystem;

namespace {

const std::string kCp932Test = "\x83\x65\x83\x58\x83\x67"; // テスト in CP932

std::string trialBytes(std::size_t index, const std::string& name, std::size_t size) {
    std::string bytes = "trial " + std::to_string(index) + " " + name + "\n";
    for (std::uint32_t state = std::uint32_t(index) * 2654435761u; bytes.size() < size;) {
        state = state * 1664525u + 1013904223u;
        bytes += char(state >> 24);
    }
    return bytes;
}

std::vector<TrialFile> makeTrialFiles() {
    std::string longName;
    for (int i = 0; i < 84; ++i)
        longName += "\xe3\x81\x82"; // あ: 256 bytes with ".jpg", 88 UTF-16 units
    const std::vector<std::pair<std::string, std::vector<std::string>>> pictures = {
        {"d1", {"cat.jpg", "Sunset beach.JPG", "Case.jpg"}},
        {"d2", {"case.jpg", "\xe5\x86\x99\xe7\x9c\x9f.jpg", kCp932Test + ".jpg", "\xf0\x9f\x98\x80.jpg"}},
        {"d3", {"q?.jpg", "x:y.jpg", "a\"b<c>d|e*f.jpg", "back\\slash.jpg"}},
        {"d4", {"tab\there.jpg", longName + ".jpg"}},
        {"d5 " + kCp932Test, {"dog.jpg"}},
        {"d6", {"big.jpg", "p1.jpg", "p2.jpg", "p3.jpg"}},
    };
    std::vector<TrialFile> files;
    for (const auto& [folder, names] : pictures) {
        for (const std::string& name : names) {
            const std::size_t size = name == "big.jpg" ? 2u << 20 : 1000 + files.size() * 997 % 20000;
            files.push_back({folder, name, true, trialBytes(files.size(), name, size)});
        }
        files.push_back({folder, "readme.txt", false, trialBytes(files.size(), folder + "/readme.txt", 200)});
    }
    return files;
}

// Creates `name` in `folder` with `bytes`, never over another file; and the disk lists it under
// exactly that name (FAT, for one, drops a trailing dot).
bool createListed(const fs::path& folder, const std::string& name, const std::string& bytes) {
    const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ::close(fd);
    const Names names = namesIn(folder);
    return written && std::find(names.begin(), names.end(), name) != names.end();
}

std::map<std::string, std::size_t> indexByBytes() {
    std::map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < trialFiles().size(); ++i)
        index.emplace(trialFiles()[i].bytes, i);
    return index;
}

std::optional<std::size_t> trialOf(const fs::path& file) {
    static const std::map<std::string, std::size_t> index = indexByBytes();
    const auto found = index.find(contentOf(file));
    return found == index.end() ? std::nullopt : std::optional<std::size_t>(found->second);
}

bool isThere(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Printable UTF-8 without control characters: as the program names it on its output.
bool shownAsIs(const std::string& name) {
    return QString::fromUtf8(name).toUtf8() == QByteArray::fromStdString(name) &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string statusProblem(const char* run, int status, int expected) {
    if (status == expected)
        return {};
    return std::string(run) + " ended with status " + std::to_string(status) + ", not " +
           std::to_string(expected) + "\n";
}

// The pictures found in the destination by their index, and what is wrong there.
std::map<std::size_t, int> destinationCounts(const fs::path& destination, std::string& problems) {
    std::map<std::size_t, int> counts;
    std::set<std::string> serials;
    for (const std::string& name : namesIn(destination)) {
        const auto index = trialOf(destination / name);
        const auto end = serialPrefixEnd(name);
        if (name.starts_with(".") || !index || !end || name.substr(*end) != trialFiles()[*index].name) {
            problems += "strange, hidden or misnamed in the destination: " + name + "\n";
            continue;
        }
        if (!serials.insert(name.substr(0, 6)).second)
            problems += "serial number given twice: " + name + "\n";
        ++counts[*index];
    }
    return counts;
}

} // namespace

const std::vector<TrialFile>& trialFiles() {
    static const std::vector<TrialFile> files = makeTrialFiles();
    return files;
}

std::vector<bool> stageTrialFiles(const fs::path& source) {
    std::vector<bool> placed;
    ::mkdir(source.c_str(), 0755);
    for (const TrialFile& file : trialFiles()) {
        ::mkdir((source / file.folder).c_str(), 0755);
        placed.push_back(createListed(source / file.folder, file.name, file.bytes));
    }
    return placed;
}

bool diskHolds(const fs::path& folder, const std::string& name) {
    const bool holds = createListed(folder, name, "probe");
    ::unlink((folder / name).c_str());
    return holds;
}

bool foldsCase(const fs::path& folder) {
    const bool made = createListed(folder, "FoldTest.jpg", "probe");
    const bool folds = made && isThere(folder / "foldtest.JPG");
    ::unlink((folder / "FoldTest.jpg").c_str());
    return folds;
}

TreeImage imageOf(const std::vector<fs::path>& roots) {
    TreeImage image;
    for (const fs::path& root : roots) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error)) {
            const std::string name = it->path().filename().native();
            if (name == ".Trash" || name.starts_with(".Trash-")) {
                it.disable_recursion_pending();
                continue;
            }
            image[it->path().native()] = it->is_symlink()     ? "link"
                                         : it->is_directory() ? "folder"
                                                              : "file " + contentOf(it->path());
        }
        if (error)
            image[root.native()] = "unreadable: " + error.message();
    }
    return image;
}

std::string compareTrees(const TreeImage& before, const TreeImage& after) {
    std::string problems;
    for (const auto& [path, entry] : before) {
        const auto now = after.find(path);
        if (now == after.end())
            problems += "missing: " + path + "\n";
        else if (now->second != entry)
            problems += "not as it was: " + path + "\n";
    }
    for (const auto& [path, entry] : after)
        if (!before.contains(path))
            problems += "not there before: " + path + "\n";
    return problems;
}

std::string checkGather(const GatherCheck& check) {
    std::string problems;
    std::map<std::size_t, int> counts = destinationCounts(check.destination, problems);
    const std::multimap<std::string, fs::path> trashed = census(check.trash);
    std::set<std::string> keptFolders, folders;
    bool anyLeft = false;
    for (std::size_t i = 0; i < trialFiles().size(); ++i) {
        const TrialFile& file = trialFiles()[i];
        if (!check.placed[i])
            continue;
        const fs::path origin = check.source / file.folder / file.name;
        const bool atOrigin = isThere(origin) && contentOf(origin) == file.bytes;
        folders.insert(file.folder);
        if (!file.picture) {
            if (!atOrigin && !trashed.contains(file.bytes))
                problems += "neither in its place nor in the Trash: " + origin.native() + "\n";
        } else if (check.fits[i] && (counts[i] != 1 || atOrigin)) {
            problems += origin.native() + ": " + std::to_string(counts[i]) + " times in the destination" +
                        (atOrigin ? ", and still in its place" : "") + "\n";
        } else if (!check.fits[i]) {
            anyLeft = true;
            keptFolders.insert(file.folder);
            if (counts[i] != 0 || !atOrigin)
                problems +=
                    "a name the destination cannot hold, not left in its place: " + origin.native() + "\n";
            else if (shownAsIs(file.name) && check.output.find(file.name) == std::string::npos)
                problems += "left in its place without a word: " + origin.native() + "\n";
        }
    }
    for (const std::string& folder : folders)
        if (isThere(check.source / folder) != keptFolders.contains(folder))
            problems += (keptFolders.contains(folder) ? "removed, though a picture was left in it: "
                                                      : "left, though all it held went: ") +
                        (check.source / folder).native() + "\n";
    return problems + statusProblem("the gather", check.status, anyLeft ? 4 : 0);
}

std::vector<int> picturesIn(const fs::path& folder) {
    std::vector<int> pictures;
    for (const std::string& name : namesIn(folder))
        if (const auto index = trialOf(folder / name); index && !name.starts_with("."))
            pictures.push_back(int(*index));
    return pictures;
}

std::string checkStrip(const fs::path& folder, const std::vector<int>& pictures, bool foldsCase, int status) {
    std::string problems;
    std::map<std::size_t, int> counts;
    int numbered = 0;
    for (const std::string& name : namesIn(folder)) {
        const auto index = trialOf(folder / name);
        const auto end = serialPrefixEnd(name);
        if (!index ||
            (name != trialFiles()[*index].name && (!end || name.substr(*end) != trialFiles()[*index].name)))
            problems += "strange, hidden or misnamed after the strip: " + name + "\n";
        else
            ++counts[*index], numbered += name != trialFiles()[*index].name;
    }
    std::map<std::string, int> folded; // names as a disk that folds case compares them
    for (const int index : pictures) {
        if (counts[std::size_t(index)] != 1)
            problems += trialFiles()[std::size_t(index)].name + ": " +
                        std::to_string(counts[std::size_t(index)]) + " times after the strip\n";
        std::string name = trialFiles()[std::size_t(index)].name;
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return char(std::tolower(c)); });
        ++folded[foldsCase ? name : trialFiles()[std::size_t(index)].name];
    }
    int mustKeep = 0;
    for (const auto& [name, count] : folded)
        mustKeep += count - 1;
    if (numbered != mustKeep)
        problems +=
            std::to_string(numbered) + " names kept their numbers, not " + std::to_string(mustKeep) + "\n";
    return problems + statusProblem("the strip", status, mustKeep > 0 ? 4 : 0);
}

fs::path diskTrash(const fs::path& diskTop) {
    const std::string uid = std::to_string(::getuid());
    for (const fs::path& trash : {diskTop / ".Trash" / uid, diskTop / (".Trash-" + uid)}) {
        struct stat st {};
        if (::lstat(trash.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return trash;
    }
    return {};
}

std::string checkTrashOnDisk(const fs::path& diskTop, const fs::path& source, const std::vector<bool>& placed,
                             const fs::path& homeTrash) {
    const fs::path trash = diskTrash(diskTop);
    if (trash.empty())
        return "no trash at the disk's top folder " + diskTop.native() + "\n";
    std::string problems;
    for (const std::string& name : namesIn(trash / "files")) {
        const auto info = readTrashInfo(trash / "info" / (name + ".trashinfo"));
        if (!info)
            problems += "in the disk's trash without a readable info file: " + name + ": " +
                        info.error().reason() + "\n";
        else if (!info.value().place.original.native().starts_with(source.native() + "/"))
            problems += "the info file of " + name + " names " + info.value().place.original.native() + "\n";
    }
    const std::multimap<std::string, fs::path> trashed = census(trash / "files");
    for (std::size_t i = 0; i < trialFiles().size(); ++i)
        if (placed[i] && !trialFiles()[i].picture && !trashed.contains(trialFiles()[i].bytes))
            problems += "not in the disk's trash: " +
                        (source / trialFiles()[i].folder / trialFiles()[i].name).native() + "\n";
    for (const std::string& name : namesIn(homeTrash / "info")) {
        const auto info = readTrashInfo(homeTrash / "info" / name);
        if (info && info.value().place.original.native().starts_with(diskTop.native() + "/"))
            problems += "copied into the home trash: " + info.value().place.original.native() + "\n";
    }
    return problems;
}

} // namespace corvalin::test
