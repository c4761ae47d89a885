#include "info/readme_text.h"

#include "platform/file_ops.h"
#include "platform/paths.h"

#include <cerrno>
#include <system_error>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Large enough for any read-me, small enough that a wrong file cannot stall the window.
constexpr std::size_t kReadmeLimit = 4 << 20;

const char* const kReadOperation = "ファイルの読み取り";

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at the start of `bytes`, or 0 when there is none.
std::size_t sequenceLength(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong
        if (lead == 0xF4)
            high = 0x8F; // past U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    const auto second = static_cast<unsigned char>(bytes[1]);
    if (second < low || second > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(bytes[i])))
            return 0;
    }
    return length;
}

} // namespace

std::vector<fs::path> readmeCandidates(const fs::path& programFolder) {
    const fs::path dataFolder = joinPath(programFolder.parent_path(), "share/corvalin");
    return {joinPath(programFolder, kReadmeFileName), joinPath(dataFolder, kReadmeFileName)};
}

Result<std::string> readReadme(const std::vector<fs::path>& candidates) {
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        const fs::file_status status = fs::status(candidate, error);
        if (status.type() == fs::file_type::not_found)
            continue;
        if (error)
            return errorFromErrno(kReadOperation, candidate, error.value());
        if (status.type() == fs::file_type::directory)
            return errorFromErrno(kReadOperation, candidate, EISDIR);
        if (status.type() != fs::file_type::regular)
            return Error{kReadOperation, candidate, 0, "通常のファイルではありません。"};
        return readWholeFile(candidate, kReadmeLimit);
    }
    const fs::path first = candidates.empty() ? fs::path(kReadmeFileName) : candidates.front();
    return errorFromErrno(kReadOperation, first, ENOENT);
}

std::string readmeText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 16);
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        text.append(bytes.substr(lineStart, i - lineStart));
        text.append("\r\n");
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < bytes.size()) {
        text.append(bytes.substr(lineStart));
        text.append("\r\n");
    }
    return text;
}

bool isValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t length = sequenceLength(bytes);
        if (length == 0)
            return false;
        bytes.remove_prefix(length);
    }
    return true;
}

} // namespace corvalin
