#pragma once

#include "naming/picture_types.h"
#include "platform/result.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvalin {

// The options that Corvalin.ini has no field for, kept in "Corvalin.conf" beside it: one
// "key=value" a line. Lines this version does not know (keys of a later version, comments) are
// kept in their order when the file is written again.
struct ExtraOptions {
    // "ごみ箱を使わずに完全に削除する": what a run removes is deleted for good instead of trashed.
    bool permanentDeletion = false;
    // "画像として扱う形式": the formats moved and numbered beside JPEG and BMP.
    PictureTypes pictureTypes = {};
    // "移動の前に予定を表示する": every move run first shows its plan and runs only when told.
    bool planBeforeMove = false;
    // "時間のかかった実行が終わったら通知する": a long move or strip run that ends while the user looks
    // elsewhere is told by a desktop notification.
    bool notifyLongRuns = true;
    // "移動先に同じ内容の画像があれば、移動せずに取り除く": a picture whose bytes the destination
    // already holds is removed instead of moved.
    bool skipDuplicates = false;
    // The plan window's "画像で表示": its pictures shown as thumbnails rather than as a table.
    bool planThumbnails = true;
    // Every line as read, the known keys included; a rewrite puts the current values in place.
    std::vector<std::string> lines = {};

    bool sameValues(const ExtraOptions& other) const {
        return permanentDeletion == other.permanentDeletion && pictureTypes == other.pictureTypes &&
               planBeforeMove == other.planBeforeMove && notifyLongRuns == other.notifyLongRuns &&
               skipDuplicates == other.skipDuplicates && planThumbnails == other.planThumbnails;
    }
};

// Reads the text of the file. A known key with a value that is no yes or no keeps its default.
ExtraOptions decodeExtraOptions(std::string_view text);

// The text to write: the lines as read with the known keys' values replaced (a repeated key only
// once), then the known keys that were missing: permanent_deletion always, the others when they
// differ from their defaults.
std::string encodeExtraOptions(const ExtraOptions& options);

// A missing file gives the defaults; temporary files of a killed rewrite are removed first. A file
// that is there and cannot be read (too large, a link to a device, no permission, a folder) is an
// error whose advice says that no run changes files until the options are chosen again: the
// defaults would remove pictures of a type the user chose, or trash what was to go for good.
Result<ExtraOptions> loadExtraOptions(const std::filesystem::path& file);

inline constexpr const char* kExtraOptionsUnreadableText =
    "この設定ファイルが読めないうちは、ファイルを変更する実行はしません。「オプション」の「詳細」タブで"
    "設定を確かめて OK を押すと、設定ファイルが書き直されます。";

// Replaces the file at once, so that a crash leaves the old or the new options, never a mix.
Status saveExtraOptions(const std::filesystem::path& file, const ExtraOptions& options);

} // namespace corvalin
