#include "app/extra_options.h"

#include "platform/file_ops.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>

namespace corvalin {

namespace {

const char* const kPermanentDeletionKey = "permanent_deletion";

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

std::string permanentDeletionLine(const ExtraOptions& options) {
    return std::string(kPermanentDeletionKey) + "=" + (options.permanentDeletion ? "true" : "false");
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
        if (keyOf(line) == kPermanentDeletionKey) {
            if (const std::optional<bool> on = yesOrNo(line.substr(line.find('=') + 1)))
                options.permanentDeletion = *on;
        }
    }
    return options;
}

std::string encodeExtraOptions(const ExtraOptions& options) {
    std::string text;
    bool written = false;
    for (const std::string& line : options.lines) {
        if (keyOf(line) == kPermanentDeletionKey) {
            if (!written)
                text += permanentDeletionLine(options) + "\n";
            written = true;
            continue;
        }
        text += line + "\n";
    }
    if (!written)
        text += permanentDeletionLine(options) + "\n";
    return text;
}

Result<ExtraOptions> loadExtraOptions(const std::filesystem::path& file) {
    (void)removeLeftoverWrites(file);
    if (lookupEntry(file) == EntryKind::None)
        return ExtraOptions{};
    const Result<std::string> text = readWholeFile(file, 1 << 20);
    if (!text)
        return text.error();
    return decodeExtraOptions(text.value());
}

Status saveExtraOptions(const std::filesystem::path& file, const ExtraOptions& options) {
    return writeFileAtomically(file, encodeExtraOptions(options), Durability::PowerLoss);
}

} // namespace corvalin
