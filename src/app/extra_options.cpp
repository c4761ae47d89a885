#include "app/extra_options.h"

#include "platform/file_ops.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <optional>

namespace corvalin {

namespace {

const char* const kPermanentDeletionKey = "permanent_deletion";
const char* const kPictureTypesKey = "picture_types";
const char* const kPlanBeforeMoveKey = "plan_before_move";
const char* const kNotifyLongRunsKey = "notify_long_runs";
const char* const kSkipDuplicatesKey = "skip_duplicates";
const char* const kPlanThumbnailsKey = "plan_thumbnails";
const std::array<std::string_view, 6> kKnownKeys = {kPermanentDeletionKey, kPictureTypesKey,
                                                    kPlanBeforeMoveKey,    kNotifyLongRunsKey,
                                                    kSkipDuplicatesKey,    kPlanThumbnailsKey};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The key of a "key=value" line, or nothing for a comment, a blank line or a line without "=".
std::optional<std::string_view> keyOf(std::string_view line) {
    const std::string_view text = trimmed(line);
    const std::size_t equals = text.find('=');
    if (text.empty() || text.front() == '#' || equals == std::string_view::npos)
        return std::nullopt;
    return trimmed(text.substr(0, equals));
}

std::optional<bool> yesOrNo(std::string_view value) {
    std::string lower(trimmed(value));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (lower == "true" || lower == "yes" || lower == "on" || lower == "1")
        return true;
    if (lower == "false" || lower == "no" || lower == "off" || lower == "0")
        return false;
    return std::nullopt;
}

std::string_view yesNoText(bool on) {
    return on ? "true" : "false";
}

// The option a yes-or-no key holds.
bool ExtraOptions::*switchOf(std::string_view key) {
    if (key == kPermanentDeletionKey)
        return &ExtraOptions::permanentDeletion;
    if (key == kSkipDuplicatesKey)
        return &ExtraOptions::skipDuplicates;
    if (key == kPlanThumbnailsKey)
        return &ExtraOptions::planThumbnails;
    return key == kPlanBeforeMoveKey ? &ExtraOptions::planBeforeMove : &ExtraOptions::notifyLongRuns;
}

std::string lineOf(std::string_view key, const ExtraOptions& options) {
    std::string line(key);
    line += '=';
    if (key == kPictureTypesKey)
        line += encodePictureTypes(options.pictureTypes);
    else
        line += yesNoText(options.*switchOf(key));
    return line;
}

// A known key's value goes into the options; a yes-or-no value that is neither keeps the default.
void takeValue(std::string_view key, std::string_view value, ExtraOptions& options) {
    if (key == kPictureTypesKey) {
        options.pictureTypes = decodePictureTypes(value);
        return;
    }
    if (const std::optional<bool> on = yesOrNo(value))
        options.*switchOf(key) = *on;
}

std::optional<std::string_view> knownKeyOf(std::string_view line) {
    const std::optional<std::string_view> key = keyOf(line);
    for (std::string_view known : kKnownKeys) {
        if (key == known)
            return known;
    }
    return std::nullopt;
}

} // namespace

ExtraOptions decodeExtraOptions(std::string_view text) {
    ExtraOptions options;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        options.lines.emplace_back(line);
        if (const std::optional<std::string_view> key = knownKeyOf(line))
            takeValue(*key, line.substr(line.find('=') + 1), options);
    }
    return options;
}

std::string encodeExtraOptions(const ExtraOptions& options) {
    std::string text;
    std::array<bool, kKnownKeys.size()> written = {};
    for (const std::string& line : options.lines) {
        const std::optional<std::string_view> key = knownKeyOf(line);
        if (!key) {
            text += line + "\n";
            continue;
        }
        const auto index = static_cast<std::size_t>(std::find(kKnownKeys.begin(), kKnownKeys.end(), *key) -
                                                    kKnownKeys.begin());
        if (!written[index])
            text += lineOf(*key, options) + "\n";
        written[index] = true;
    }
    // The newer keys join the file only once they differ from their defaults.
    const ExtraOptions defaults;
    const std::array<bool, kKnownKeys.size()> wanted = {true,
                                                        options.pictureTypes != defaults.pictureTypes,
                                                        options.planBeforeMove != defaults.planBeforeMove,
                                                        options.notifyLongRuns != defaults.notifyLongRuns,
                                                        options.skipDuplicates != defaults.skipDuplicates,
                                                        options.planThumbnails != defaults.planThumbnails};
    for (std::size_t i = 0; i < kKnownKeys.size(); ++i) {
        if (!written[i] && wanted[i])
            text += lineOf(kKnownKeys[i], options) + "\n";
    }
    return text;
}

Result<ExtraOptions> loadExtraOptions(const std::filesystem::path& file) {
    (void)removeLeftoverWrites(file);
    if (lookupEntry(file) == EntryKind::None)
        return ExtraOptions{};
    const Result<std::string> text = readWholeFile(file, 1 << 20);
    if (!text) {
        Error error = text.error();
        error.advice = kExtraOptionsUnreadableText;
        return error;
    }
    return decodeExtraOptions(text.value());
}

Status saveExtraOptions(const std::filesystem::path& file, const ExtraOptions& options) {
    return writeFileAtomically(file, encodeExtraOptions(options), Durability::PowerLoss);
}

} // namespace corvalin
