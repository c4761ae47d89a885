#include "engine/files_left.h"

#include "engine/download_markers.h"

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

std::string describeFilesLeft(const fs::path& sourceParent, const MoveRunResult& result) {
    std::string text =
        describeDownloadsLeft(sourceParent, result.downloadsLeft, result.foldersKeptForDownloads);
    const std::string tooLong = describeLongNamesLeft(sourceParent, result.namesTooLong,
                                                      result.foldersKeptForLongNames, result.longestName);
    if (!tooLong.empty())
        text += (text.empty() ? "" : "\n\n") + tooLong;
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
