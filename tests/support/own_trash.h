#pragma once

#include "platform/trash.h"

#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>

// What a run removes goes to the trash; a test gives it a home of its own, so the machine's real
// trash never sees a test's files, and reads back what arrived there.
namespace corvalin::test {

// Points HOME and XDG_DATA_HOME at `folder` while it lives (its trash is
// folder/.local/share/Trash), and puts the old values back afterwards.
class OwnHome {
public:
    explicit OwnHome(const std::filesystem::path& folder) : m_folder(folder) {
        std::filesystem::create_directories(folder);
        ::setenv("HOME", folder.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder / ".local/share").c_str(), 1);
    }
    ~OwnHome() {
        restore("HOME", m_home);
        restore("XDG_DATA_HOME", m_dataHome);
    }
    OwnHome(const OwnHome&) = delete;
    OwnHome& operator=(const OwnHome&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path trash() const { return m_folder / ".local/share/Trash"; }

private:
    static std::optional<std::string> saved(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }

    std::filesystem::path m_folder;
    std::optional<std::string> m_home = saved("HOME");
    std::optional<std::string> m_dataHome = saved("XDG_DATA_HOME");
};

// What a trash holds, by original path, read from its info files.
inline std::map<std::filesystem::path, TrashInfo> trashedItems(const std::filesystem::path& trash) {
    std::map<std::filesystem::path, TrashInfo> items;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(trash / "info", error)) {
        const Result<TrashInfo> info = readTrashInfo(entry.path());
        if (info)
            items.emplace(info.value().place.original, info.value());
    }
    return items;
}

// The trash of /dev/shm, which every program of this user shares.
inline std::filesystem::path sharedMemoryTrash() {
    return "/dev/shm/.Trash-" + std::to_string(::getuid());
}

// Takes out of a shared trash (such as /dev/shm's) what came from below `folder`, and only that.
inline void clearTrashedFrom(const std::filesystem::path& trash, const std::filesystem::path& folder) {
    for (const auto& [original, info] : trashedItems(trash)) {
        const std::string below = folder.native() + "/";
        if (!original.native().starts_with(below))
            continue;
        std::error_code ignored;
        std::filesystem::remove_all(info.place.trashedFile, ignored);
        std::filesystem::remove(info.place.infoFile, ignored);
    }
}

} // namespace corvalin::test
