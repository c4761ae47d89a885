#include "engine/disk_names.h"

#include "engine/files_left.h"
#include "platform/name_text.h"
#include "platform/utf8.h"

#include <optional>

namespace corvalin {

namespace {

constexpr std::size_t kLongestUtf16Name = 255;
constexpr std::string_view kWindowsForbidden = "\"*/:<>?\\|";

std::size_t utf16Length(std::string_view name) {
    std::size_t units = 0;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = utf8SequenceLength(name, at);
        at += length == 0 ? 1 : length;
        units += length == 4 ? 2 : 1; // beyond the basic plane: a surrogate pair
    }
    return units;
}

// The first character Windows keeps out of names, or nothing.
std::optional<char> forbiddenCharacterIn(std::string_view name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || kWindowsForbidden.find(c) != std::string_view::npos)
            return c;
    }
    return std::nullopt;
}

bool hasNonAscii(std::string_view name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

DiskFit windowsFit(std::string_view name) {
    if (const std::optional<char> c = forbiddenCharacterIn(name))
        return {DiskRefusal::ForbiddenCharacter, legibleName(std::string(1, *c))};
    if (!name.empty() && (name.back() == '.' || name.back() == ' '))
        return {DiskRefusal::TrailingDotOrBlank, {}};
    return {};
}

} // namespace

DiskFit diskFitOf(std::string_view name, std::uint64_t size, const DiskNameRules& rules,
                  std::size_t longestName) {
    // Where names are stored in UTF-16 the driver's limit counts UTF-16 units, not bytes (ntfs3
    // says 255): the UTF-16 check below is the one that holds there.
    if (!rules.utf16Names && name.size() > longestName)
        return {DiskRefusal::NameTooLong, {}};
    if (rules.utf16Names && !isValidUtf8(name))
        return {DiskRefusal::NotUtf8, {}};
    if (rules.utf16Names && utf16Length(name) > kLongestUtf16Name)
        return {DiskRefusal::NameTooLongUtf16, {}};
    if (rules.windowsNames) {
        if (DiskFit fit = windowsFit(name); fit.refusal != DiskRefusal::None)
            return fit;
    }
    if (rules.asciiNames && hasNonAscii(name))
        return {DiskRefusal::NotAscii, {}};
    if (rules.largestFile != 0 && size > rules.largestFile)
        return {DiskRefusal::FileTooLarge, {}};
    return {};
}

std::string diskRefusalText(const DiskFit& fit, const DiskNameRules& rules, std::size_t longestName) {
    const std::string disk = "移動先のファイルシステム（" + rules.kindName + "）";
    const std::string rename = "名前を変えてから、もう一度実行して下さい。";
    switch (fit.refusal) {
    case DiskRefusal::None:
        return {};
    case DiskRefusal::NameTooLong:
        return longNameReasonText(longestName);
    case DiskRefusal::NameTooLongUtf16:
        return "通し番号（7文字）を付けた名前が、" + disk +
               "で使える長さ（255 文字。絵文字などは 2 "
               "文字に数えます）を超えます。名前を短くしてから、もう一度実行して下さい。";
    case DiskRefusal::ForbiddenCharacter:
        return "名前に、" + disk + "では使えない文字「" + fit.character + "」があります。" + rename;
    case DiskRefusal::TrailingDotOrBlank:
        return "名前の最後が「.」か空白で、" + disk + "では使えません。" + rename;
    case DiskRefusal::NotUtf8:
        return "名前が UTF-8 でなく（Shift-JIS などの古い文字コード）、" + disk + "では使えません。" + rename;
    case DiskRefusal::NotAscii:
        return "名前に英数字と記号以外の文字があり、" + disk + "では使えません。" + rename;
    case DiskRefusal::FileTooLarge:
        return "ファイルが 4 GB 以上あり、" + disk +
               "には入りません（1 つのファイルは 4 GB 未満まで）。別の形式のディスクに移動して下さい。";
    }
    return {};
}

} // namespace corvalin
