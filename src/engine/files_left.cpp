#include "engine/files_left.h"

#include "engine/download_markers.h"

#include <map>

namespace corvalin {

namespace fs = std::filesystem;

std::string longNameReasonText(std::size_t longestName) {
    return "通し番号（7文字）を付けた名前が、移動先のファイルシステムで使える長さ（" +
           std::to_string(longestName) + " バイト）を超えます。名前を短くしてから、もう一度実行して下さい。";
}

std::string describeLongNamesLeft(const fs::path& sourceParent, const std::vector<fs::path>& filesLeft,
                                  const std::vector<fs::path>& foldersKept, std::size_t longestName) {
    if (filesLeft.empty())
        return {};
    std::string text = "名前が長すぎる画像が" + std::to_string(filesLeft.size()) +
                       "個あったため、移動も削除もせずに残しました。" +
                       firstNamesBelow(sourceParent, filesLeft);
    if (!foldersKept.empty())
        text += std::string("\n\n") + kLongNameFolderKeptText + "：" + std::to_string(foldersKept.size()) +
                "個" + firstNamesBelow(sourceParent, foldersKept);
    return text + "\n\n" + longNameReasonText(longestName);
}

namespace {

// Pictures the destination's disk cannot hold, a paragraph for each reason.
std::string describeNamesRefused(const fs::path& sourceParent, const std::vector<NameLeft>& left) {
    std::map<std::string, std::vector<fs::path>> byReason;
    for (const NameLeft& name : left)
        byReason[name.reason].push_back(name.file);
    std::string text;
    for (const auto& [reason, files] : byReason)
        text += std::string(text.empty() ? "" : "\n\n") + "移動先のディスクに置けない画像が" +
                std::to_string(files.size()) + "個あったため、移動も削除もせずに残しました。" +
                firstNamesBelow(sourceParent, files) + "\n" + reason;
    return text;
}

} // namespace

std::string describeFilesLeft(const fs::path& sourceParent, const MoveRunResult& result) {
    std::string text =
        describeDownloadsLeft(sourceParent, result.downloadsLeft, result.foldersKeptForDownloads);
    const std::string tooLong = describeLongNamesLeft(sourceParent, result.namesTooLong,
                                                      result.foldersKeptForLongNames, result.longestName);
    if (!tooLong.empty())
        text += (text.empty() ? "" : "\n\n") + tooLong;
    if (!result.namesRefusedByDisk.empty()) {
        text += (text.empty() ? "" : "\n\n") + describeNamesRefused(sourceParent, result.namesRefusedByDisk);
        // The folders kept are told once, with the long names when there are any.
        if (tooLong.empty() && !result.foldersKeptForLongNames.empty())
            text += std::string("\n\n") + kLongNameFolderKeptText + "：" +
                    std::to_string(result.foldersKeptForLongNames.size()) + "個" +
                    firstNamesBelow(sourceParent, result.foldersKeptForLongNames);
    }
    if (!result.specialFiles.empty())
        text += std::string(text.empty() ? "" : "\n\n") + kSpecialFileLeftText + "：" +
                std::to_string(result.specialFiles.size()) + "個" +
                firstNamesBelow(sourceParent, result.specialFiles);
    const std::string changed = describeChangedFolders(sourceParent, result.changedFolders);
    if (!changed.empty())
        text += (text.empty() ? "" : "\n\n") + changed;
    return text;
}

} // namespace corvalin
