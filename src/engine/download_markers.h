#pragma once

#include "platform/result.h"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Browsers and download tools write a file under a temporary name and rename it once it is
// complete ("photo.jpg.part", often beside an empty "photo.jpg"), or keep a control file beside
// the growing file ("photo.jpg.aria2"). Moved or removed while it arrives, such a download breaks
// and leaves a cut-off picture under a final name, so the move run leaves it where it is.
namespace corvalin {

// The name endings that mark a download still arriving, compared without regard to letter case.
// The one list of them: extend it here.
inline constexpr std::array<std::string_view, 6> kDownloadMarkers = {".part", ".crdownload", ".download",
                                                                     ".!qB",  ".aria2",      ".partial"};

// The name ends in a download marker.
bool isDownloadMarker(std::string_view name);

// Of one folder's file names, those of downloads still arriving: every marker file, and the file
// each one belongs to (the same name without the marker) when it is among `names`.
std::unordered_set<std::string> arrivingDownloads(const std::vector<std::string>& names);

// A file anywhere below `folder`, hidden or not, still marks a download: the folder must stay. Read
// as a folder's removal reads it (file_ops.h: readFolderTree), for a plan to say what the run does.
Result<bool> holdsDownloadMarker(const std::filesystem::path& folder);

// What the user reads after a move run that left downloads (files below `sourceParent`) and kept
// child folders for them: how many, the first names, and what to do. Empty when it left none. UTF-8,
// names as the lists show them.
std::string describeDownloadsLeft(const std::filesystem::path& sourceParent,
                                  const std::vector<std::filesystem::path>& filesLeft,
                                  const std::vector<std::filesystem::path>& foldersKept);

// The first few of `paths` (files or folders below `sourceParent`), a line each as the folder list
// shows them, and how many more: what an end message lists of what a run left.
std::string firstNamesBelow(const std::filesystem::path& sourceParent,
                            const std::vector<std::filesystem::path>& paths);

// The headings of what was left, for a list that names every file or folder, and what to do.
inline constexpr const char* kDownloadFileLeftText = "ダウンロード中のため、移動も削除もせずに残したファイル";
inline constexpr const char* kDownloadFolderKeptText =
    "ダウンロード中のファイルがあるため、削除しなかったフォルダ";
inline constexpr const char* kDownloadsLeftAdvice =
    "ダウンロードが終わってから、もう一度実行して下さい。止まったダウンロードの残りなら、"
    "そのファイルを削除して下さい。";

} // namespace corvalin
