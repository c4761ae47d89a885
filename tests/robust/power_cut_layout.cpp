#include "power_cut_layout.h"

#include <charconv>
#include <map>

namespace corvalin::test {

namespace fs = std::filesystem;

SettingsFiles Layout::files() const {
    SettingsFiles files{{}, home() / ".config/Corvalin"};
    files.historyFolder = home() / ".local/state/Corvalin/history";
    return files;
}

std::string encodeLayout(const Layout& layout) {
    std::string pending;
    for (const int index : layout.pending)
        pending += (pending.empty() ? "" : ",") + std::to_string(index);
    return "scenario=" + std::to_string(int(layout.scenario)) + "\ndisk1=" + layout.disk1.native() +
           "\ndisk2=" + layout.disk2.native() + "\npictures=" + std::to_string(layout.pictures) +
           "\nfolders=" + std::to_string(layout.folders) + "\nfirst=" + std::to_string(layout.firstSerialNo) +
           "\npending=" + pending + "\n";
}

namespace {

std::optional<int> numberIn(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? std::optional<int>(value)
                                                                    : std::nullopt;
}

} // namespace

std::optional<Layout> decodeLayout(std::string_view text) {
    std::map<std::string, std::string, std::less<>> fields;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos)
            fields.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    Layout layout;
    const auto scenario = numberIn(fields["scenario"]);
    const auto pictures = numberIn(fields["pictures"]);
    const auto folders = numberIn(fields["folders"]);
    const auto first = numberIn(fields["first"]);
    if (!scenario || !pictures || !folders || !first)
        return std::nullopt;
    layout.scenario = Scenario(*scenario);
    layout.disk1 = fields["disk1"];
    layout.disk2 = fields["disk2"];
    layout.pictures = *pictures;
    layout.folders = *folders;
    layout.firstSerialNo = *first;
    const std::string_view list = fields["pending"];
    for (std::size_t start = 0, end = 0; start < list.size(); start = end + 1) {
        end = std::min(list.find(',', start), list.size());
        if (const auto index = numberIn(list.substr(start, end - start)))
            layout.pending.push_back(*index);
    }
    return layout;
}

} // namespace corvalin::test
