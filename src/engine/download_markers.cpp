#include "engine/download_markers.h"

#include "platform/file_ops.h"
#include "platform/name_text.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool endsWithNoCase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size())
        return false;
    const std::string_view tail = name.substr(name.size() - ending.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (lowerAscii(tail[i]) != lowerAscii(ending[i]))
            return false;
    }
    return true;
}

std::size_t markerLength(std::string_view name) {
    for (const std::string_view marker : kDownloadMarkers) {
        if (endsWithNoCase(name, marker))
            return marker.size();
    }
    return 0;
}

} // namespace

bool isDownloadMarker(std::string_view name) {
    return markerLength(name) > 0;
}

std::unordered_set<std::string> arrivingDownloads(const std::vector<std::string>& names) {
    std::unordered_set<std::string> arriving;
    const std::unordered_set<std::string_view> listed(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::size_t length = markerLength(name);
        if (length == 0)
            continue;
        arriving.insert(name);
        const std::string_view owner = std::string_view(name).substr(0, name.size() - length);
        if (listed.contains(owner))
            arriving.emplace(owner);
    }
    return arriving;
}

Result<bool> holdsDownloadMarker(const fs::path& folder) {
    const Result<FolderTree> tree = readFolderTree(folder);
    if (!tree)
        return tree.error();
    return anyName(tree.value(), isDownloadMarker);
}

std::string firstNamesBelow(const fs::path& sourceParent, const std::vector<fs::path>& paths) {
    constexpr std::size_t kNamesShown = 5;
    std::string text;
    for (std::size_t i = 0; i < paths.size() && i < kNamesShown; ++i) {
        // The path below the source parent folder, as the user knows it from the folder list.
        const fs::path relative = paths[i].lexically_relative(sourceParent);
        text += "\n  " +
                legibleName((relative.empty() || *relative.begin() == ".." ? paths[i] : relative).native());
    }
    if (paths.size() > kNamesShown)
        text += "\n  ほか" + std::to_string(paths.size() - kNamesShown) + "個";
    return text;
}

std::string describeDownloadsLeft(const fs::path& sourceParent, const std::vector<fs::path>& filesLeft,
                                  const std::vector<fs::path>& foldersKept) {
    if (filesLeft.empty() && foldersKept.empty())
        return {};
    std::string text;
    if (!filesLeft.empty()) {
        text += "ダウンロード中のファイルが" + std::to_string(filesLeft.size()) +
                "個あったため、移動も削除もせずに残しました。";
        text += firstNamesBelow(sourceParent, filesLeft);
    }
    if (!foldersKept.empty()) {
        text += std::string(text.empty() ? "" : "\n\n") +
                "ダウンロード中のファイルがあるため、削除しなかったフォルダ：" +
                std::to_string(foldersKept.size()) + "個";
        text += firstNamesBelow(sourceParent, foldersKept);
    }
    text += std::string("\n\n") + kDownloadsLeftAdvice;
    return text;
}

} // namespace corvalin
