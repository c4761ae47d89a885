#pragma once

#include "engine/move_run.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// What a move run left where it was, told at its end. A picture whose serial-numbered name would be
// longer than the destination's file system takes cannot be moved under it; the run leaves it, and
// its child folder, where they are.
namespace corvalin {

// Everything the run left, downloads still arriving, names too long, special files named like
// pictures and folders no longer the ones surveyed, in one text for the end of the run; empty when
// it left nothing.
std::string describeFilesLeft(const std::filesystem::path& sourceParent, const MoveRunResult& result);

// What the user reads after a run that left such pictures (files below `sourceParent`) and kept
// their child folders: how many, the first names, why and what to do. Empty when it left none.
std::string describeLongNamesLeft(const std::filesystem::path& sourceParent,
                                  const std::vector<std::filesystem::path>& filesLeft,
                                  const std::vector<std::filesystem::path>& foldersKept,
                                  std::size_t longestName);

// The reason, with the limit in bytes, and what to do: for a list that names every file.
std::string longNameReasonText(std::size_t longestName);

inline constexpr const char* kLongNameFileLeftText = "名前が長すぎるため、移動も削除もせずに残した画像";
// FIFOs, sockets and devices are never moved, whatever their names say.
inline constexpr const char* kSpecialFileLeftText =
    "画像の名前ですが、普通のファイルではない（名前付きパイプ、ソケット、デバイス）ため、移動しなかったもの";
inline constexpr const char* kLongNameFolderKeptText =
    "移動先に置けない画像があるため、削除しなかったフォルダ";
inline constexpr const char* kDiskRefusedFileLeftText =
    "移動先のディスクに置けないため、移動も削除もせずに残した画像";

} // namespace corvalin
