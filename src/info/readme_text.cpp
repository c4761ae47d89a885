#include "info/readme_text.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/program_folder.h"

#include <cerrno>
#include <system_error>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Large enough for any read-me, small enough that a wrong file cannot stall the window.
constexpr std::size_t kReadmeLimit = 4 << 20;

const char* const kReadOperation = "ファイルの読み取り";

} // namespace

std::vector<fs::path> readmeCandidates(const fs::path& programFolder) {
    return {joinPath(programFolder, kReadmeFileName),
            joinPath(installedDataFolder(programFolder), kReadmeFileName)};
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

} // namespace corvalin
