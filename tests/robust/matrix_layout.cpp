#include "matrix_layout.h"

namespace corvalin::test {

SettingsFiles MatrixLayout::files() const {
    SettingsFiles files{{}, homeFolder() / ".config/Corvalin"};
    files.historyFolder = homeFolder() / ".local/state/Corvalin/history";
    return files;
}

// One line a field; the work folder's paths hold no blank (prepareMachine refuses one).
std::string encodeMatrixLayout(const MatrixLayout& layout) {
    std::string text = "home " + layout.home.native() + "\n";
    for (const MatrixDisk& disk : layout.disks)
        text += "disk " + disk.kind + " " + disk.mountPoint.native() + "\n";
    return text;
}

std::optional<MatrixLayout> decodeMatrixLayout(std::string_view text) {
    MatrixLayout layout;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        const std::size_t blank = line.find(' '), second = line.find(' ', blank + 1);
        if (line.starts_with("home "))
            layout.home = line.substr(5);
        else if (line.starts_with("disk ") && second != std::string_view::npos)
            layout.disks.push_back({std::string(line.substr(blank + 1, second - blank - 1)),
                                    std::filesystem::path(line.substr(second + 1))});
        else if (!line.empty())
            return std::nullopt;
    }
    if (layout.home.empty())
        return std::nullopt;
    return layout;
}

} // namespace corvalin::test
