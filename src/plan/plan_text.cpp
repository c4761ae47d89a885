#include "plan/plan_text.h"

#include "app/error_text.h"
#include "engine/destination_disk.h"
#include "naming/serial_name.h"
#include "platform/name_text.h"
#include "platform/utf8.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace corvalin {

namespace {

std::string count(std::size_t number) {
    return std::to_string(number) + " 個";
}

std::string extensionOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension;
}

std::string picturesLine(const MovePlan& plan) {
    if (plan.pictures.empty())
        return "移動する画像: ありません";
    std::string line = "移動する画像: " + count(plan.pictures.size()) + "（番号 " +
                       serialPrefix(plan.pictures.front().serialNo) + "から " +
                       serialPrefix(plan.pictures.back().serialNo) + "まで";
    if (plan.numbersSkipped > 0)
        line += "。移動先にすでにある番号 " + std::to_string(plan.numbersSkipped) + " 個は飛ばします";
    return line + "）";
}

// "63 個（26 × .png, 13 × .jfif）"
std::string unchosenCountText(const EndingCounts& byEnding) {
    std::size_t total = 0;
    for (const auto& [ending, number] : byEnding)
        total += number;
    return count(total) + "（" + extensionCountsText(byEnding) + "）";
}

// An ending that stays no picture whatever is chosen (".jpg_large").
bool anySiteEnding(const EndingCounts& byEnding) {
    PictureTypes every;
    for (PictureType type : kOptionalPictureTypes)
        every.set(type, true);
    return std::any_of(byEnding.begin(), byEnding.end(), [&every](const auto& counted) {
        return unchosenPictureEnding(counted.first, every).has_value();
    });
}

const char* const kWhereTypesAreChosen = "「オプション」の「詳細」タブの「画像として扱う形式」";

// The removals that are pictures by their names, on a line of their own with where their types
// are chosen: a new user does not look for them among the other files.
std::string unchosenPicturesLine(const EndingCounts& byEnding) {
    std::string line = "削除するファイルのうち画像: " + unchosenCountText(byEnding) + "。" +
                       kWhereTypesAreChosen + "で選ぶと、番号を付けて移動します";
    if (anySiteEnding(byEnding))
        line += "（.jpg_large などは選べないため、名前の終わりを .jpg などに直して下さい）";
    return line;
}

std::string removalsLine(const MovePlan& plan) {
    std::string line = "削除するファイル: " + count(plan.removals.size());
    if (!plan.removals.empty())
        line += std::string(plan.permanent ? "（完全に削除）" : "（ごみ箱へ）") + " " +
                extensionCountsText(removalsByExtension(plan));
    return line;
}

// A spreadsheet reads a cell that begins so as a formula; a downloaded file's name is anyone's text.
bool readAsFormula(std::string_view text) {
    return !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
}

std::size_t problemsOf(const MovePlan& plan, ProblemKind kind) {
    return static_cast<std::size_t>(std::count_if(plan.problems.begin(), plan.problems.end(),
                                                  [kind](const PlanProblem& p) { return p.kind == kind; }));
}

// The pictures the run leaves where they are, a line for each reason it has.
void picturesLeftLines(const MovePlan& plan, std::vector<std::string>& lines) {
    if (!plan.downloadsLeft.empty())
        lines.push_back("ダウンロード中のため残すファイル: " + count(plan.downloadsLeft.size()));
    if (!plan.namesTooLong.empty())
        lines.push_back("名前が長すぎるため残す画像: " + count(plan.namesTooLong.size()) +
                        "（名前を短くして下さい）");
    if (!plan.namesRefusedByDisk.empty())
        lines.push_back("移動先のディスクに置けないため残す画像: " + count(plan.namesRefusedByDisk.size()));
    if (const std::size_t hidden = problemsOf(plan, ProblemKind::HiddenPicture))
        lines.push_back("隠しファイルのため移動しない画像: " + count(hidden));
    if (const std::size_t loose = problemsOf(plan, ProblemKind::InSourceParent))
        lines.push_back("移動元親フォルダに直接あるため移動しない画像: " + count(loose));
}

// With the way the run will name its pictures, as the probe of the destination found it.
std::string fileSystemLine(const MovePlan& plan) {
    const bool across = *plan.acrossFileSystems;
    const NamingWay way =
        plan.destinationDisk ? runNamingWay(plan.destinationDisk->probe, across) : NamingWay::RenameNoReplace;
    if (way == NamingWay::HardLink)
        return across ? "移動先は別のファイルシステムです（コピーして、ハードリンクで名前を付けます）。"
                      : "移動先は同じファイルシステムです（ハードリンクで名前を付けて移動します）。";
    return across ? "移動先は別のファイルシステムです（コピーして移動します）。"
                  : "移動先は同じファイルシステムです（名前の変更で移動します）。";
}

// A run refused at its start does nothing at all; one that fails later has done what comes before.
std::string stopLine(const MovePlan& plan) {
    const bool nothingDone = plan.pictures.empty() && plan.removals.empty() && plan.folders.empty();
    return std::string(nothingDone ? "この移動は始められません: " : "この移動は途中で止まります: ") +
           describeErrorLine(*plan.error);
}

std::string csvField(std::string_view text) {
    std::string field = readAsFormula(text) ? "\"'" : "\"";
    for (char c : text)
        field += c == '"' ? std::string("\"\"") : std::string(1, c);
    return field + "\"";
}

void csvRow(std::string& csv, std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (std::string_view field : fields) {
        if (!first)
            csv += ',';
        csv += csvField(field);
        first = false;
    }
    csv += "\r\n";
}

} // namespace

std::string byteText(std::uint64_t bytes) {
    const char* const units[] = {"バイト", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[64];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(bytes), units[0]);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::vector<std::pair<std::string, std::size_t>> removalsByExtension(const MovePlan& plan) {
    std::map<std::string, std::size_t> counts;
    for (const PlanRemoval& removal : plan.removals)
        ++counts[extensionOf(removal.path)];
    return mostFirst(counts);
}

std::string extensionCountsText(const std::vector<std::pair<std::string, std::size_t>>& counts) {
    std::string text;
    for (const auto& [extension, number] : counts) {
        if (!text.empty())
            text += ", ";
        text +=
            std::to_string(number) + " × " + (extension.empty() ? "（拡張子なし）" : legibleName(extension));
    }
    return text;
}

EndingCounts mostFirst(const std::map<std::string, std::size_t>& counts) {
    EndingCounts sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return sorted;
}

EndingCounts unchosenPicturesOf(const MovePlan& plan) {
    std::map<std::string, std::size_t> counts;
    for (const PlanRemoval& removal : plan.removals) {
        const std::string_view path = removal.path;
        if (const auto ending = unchosenPictureEnding(path.substr(path.rfind('/') + 1), plan.pictureTypes))
            ++counts[std::string(*ending)];
    }
    return mostFirst(counts);
}

std::string unchosenPicturesQuestion(const EndingCounts& byEnding) {
    return "移動すると、「画像として扱う形式」に選んでいない画像 " + unchosenCountText(byEnding) +
           "を、ごみ箱に入れずに完全に削除します。元に戻せません。\n\nこれらを移動するには、「いいえ」を押し"
           "て" +
           kWhereTypesAreChosen + "で選んで下さい。\n\nこのまま移動して、これらの画像を削除しますか？";
}

std::string unchosenPicturesRefusal(const EndingCounts& byEnding, bool planned) {
    return "「画像として扱う形式」に選んでいない画像 " + unchosenCountText(byEnding) +
           "を完全に削除することになるため、" +
           (planned ? std::string(kDeleteUnchosenPicturesOption) + " を付けないと移動しません。"
                    : "何もせずに終わりました。削除してよいときは " +
                          std::string(kDeleteUnchosenPicturesOption) + " を付けて下さい。");
}

std::vector<std::string> planSummary(const MovePlan& plan) {
    std::vector<std::string> lines;
    if (plan.outcome == MoveOutcome::Cancelled)
        return {"予定の作成を取り消しました。何も変更していません。"};
    lines.push_back("移動元親フォルダ: " + legibleName(plan.source.native()));
    lines.push_back("移動先フォルダ: " + legibleName(plan.destination.native()));
    lines.push_back("子フォルダ: " + count(plan.childFolders));
    lines.push_back(picturesLine(plan));
    lines.push_back(removalsLine(plan));
    if (const EndingCounts unchosen = unchosenPicturesOf(plan); !unchosen.empty())
        lines.push_back(unchosenPicturesLine(unchosen));
    if (plan.skipDuplicates)
        lines.push_back("移動先と同じ内容のため取り除く画像: " + count(plan.duplicates.size()) +
                        (plan.duplicates.empty() ? ""
                         : plan.permanent        ? "（完全に削除）"
                                                 : "（ごみ箱へ）"));
    if (plan.deleteFolders)
        lines.push_back("削除する子フォルダ: " + count(plan.folders.size()) +
                        (plan.permanent ? "（完全に削除）" : "（ごみ箱へ）"));
    picturesLeftLines(plan, lines);
    lines.push_back("容量: 移動する画像 " + byteText(plan.pictureBytes) + "、削除するもの " +
                    byteText(plan.removalBytes + plan.duplicateBytes));
    // A destination refused before its probe names no way: the line of its stop says why.
    if (plan.acrossFileSystems && (plan.destinationDisk || !plan.error))
        lines.push_back(fileSystemLine(plan));
    if (plan.error)
        lines.push_back(stopLine(plan));
    return lines;
}

std::string csvPathText(std::string_view path) {
    if (isValidUtf8(path))
        return std::string(path);
    std::string text;
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t length = path[at] == '%' ? 0 : utf8SequenceLength(path, at);
        if (length > 0) {
            text.append(path.substr(at, length));
            at += length;
            continue;
        }
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(path[at]));
        text += escaped;
        ++at;
    }
    return text;
}

std::string planCsv(const MovePlan& plan) {
    std::string csv;
    csvRow(csv, {"動作", "パス", "新しい名前", "番号", "バイト数"});
    for (const PlanPicture& picture : plan.pictures)
        csvRow(csv, {"移動", csvPathText(picture.from), csvPathText(picture.newName),
                     std::to_string(picture.serialNo), std::to_string(picture.bytes)});
    for (const PlanRemoval& removal : plan.removals)
        csvRow(csv, {"削除", csvPathText(removal.path), "", "", std::to_string(removal.bytes)});
    for (const PlanDuplicate& duplicate : plan.duplicates)
        csvRow(csv, {"同じ内容の画像の削除", csvPathText(duplicate.path), csvPathText(duplicate.twin), "",
                     std::to_string(duplicate.bytes)});
    for (const PlanFolder& folder : plan.folders)
        csvRow(csv, {"フォルダの削除", csvPathText(folder.path), "", "", std::to_string(folder.hiddenBytes)});
    for (const PlanProblem& problem : plan.problems)
        csvRow(csv, {"問題", csvPathText(problem.path), problem.text, "", ""});
    return csv;
}

} // namespace corvalin
