#pragma once

#include "app/module1.h"
#include "app/startup.h"
#include "engine/gather_summary.h"
#include "engine/move_run.h"
#include "other_file_system.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Trees of pictures for the move-run tests, and the census that proves no picture was lost.
namespace corvalin::test {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

// Content that tells every picture apart.
inline std::string pictureContent(const std::string& name) {
    return "picture:" + name + ":" + std::string(64, 'p');
}

inline bool writeContent(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ::close(fd);
    return written;
}

inline std::string contentOf(const fs::path& file) {
    std::string bytes;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, std::size_t(got));
    ::close(fd);
    return bytes;
}

// Every regular file below `root` (links not followed), by its content.
inline std::multimap<std::string, fs::path> census(const fs::path& root) {
    std::multimap<std::string, fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         it != end; it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error))
            found.emplace(contentOf(it->path()), it->path());
    }
    return found;
}

// Pictures whose content is not found exactly once below the roots, with what was found.
inline std::string lostOrDoubled(const std::vector<std::string>& pictures,
                                 const std::vector<fs::path>& roots) {
    std::multimap<std::string, fs::path> all;
    for (const fs::path& root : roots)
        all.merge(census(root));
    std::string report;
    for (const std::string& content : pictures) {
        const auto count = all.count(content);
        if (count != 1)
            report +=
                content.substr(0, content.find(':', 8)) + " found " + std::to_string(count) + " times\n";
    }
    return report;
}

// Names in a folder (hidden ones too), sorted by bytes.
inline Names namesIn(const fs::path& folder) {
    Names names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// Lets an unprivileged child work in the tree.
inline void openToEveryone(const fs::path& root) {
    ::chmod(root.c_str(), 0777);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_symlink())
            ::chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
    }
}

// An observer that records what the run showed, counts it as a terminal does, and lets a test act
// at every yield.
class ScriptedObserver : public MoveRunObserver {
public:
    fs::path dest;
    bool cancel = false;
    bool stop = false;
    bool surveyDone = false;
    std::function<void()> onYield;
    std::function<void(const fs::path&)> onPreview;
    std::function<void()> onReturned; // every folder emptied, before the child folders go
    std::function<void(const std::string&)> onNewName;
    std::vector<fs::path> previews;
    std::vector<std::string> newNames;
    std::vector<std::pair<fs::path, fs::path>> duplicates; // the picture and its twin
    std::vector<fs::path> foldersStarted;
    std::vector<fs::path> foldersFinished;
    GatherTally tally;

    void yield() override {
        if (onYield)
            onYield();
    }
    void surveyStarted() override {}
    bool stopRequested() override { return stop; }
    bool cancelRequested() override { return cancel; }
    fs::path destination() override { return dest; }
    void surveyFinished(const fs::path&) override { surveyDone = true; }
    void returnedToSourceParent(const fs::path&) override {
        if (onReturned)
            onReturned();
    }
    void folderStarted(const fs::path& folder) override { foldersStarted.push_back(folder); }
    void folderFinished(const fs::path& folder) override {
        foldersFinished.push_back(folder);
        tally.folderFinished();
    }
    void previewRequested(const fs::path& file) override {
        previews.push_back(file);
        tally.fileStarted(file);
        if (onPreview)
            onPreview(file);
    }
    void newNameChosen(const std::string& name) override {
        newNames.push_back(name);
        if (onNewName)
            onNewName(name);
        tally.nameChosen(name);
    }
    void duplicateFound(const fs::path& file, const fs::path& twin) override {
        duplicates.emplace_back(file, twin);
        tally.duplicateFound();
    }
    void fileLeft() override { tally.fileLeft(); }
};

} // namespace corvalin::test
