#include "engine/surveyed_folders.h"

#include "platform/name_text.h"

#include <algorithm>
#include <cerrno>
#include <optional>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The change a failure to open a surveyed folder again shows; nothing for a failure of another
// kind, which the run reports.
std::optional<FolderChange> changeShownBy(int code) {
    switch (code) {
    case ENOENT:
        return FolderChange::Gone;
    case ENOTDIR:
    case ELOOP:
        return FolderChange::NoFolder;
    case ESTALE:
        return FolderChange::AnotherFolder;
    case EXDEV:
        return FolderChange::OtherMount;
    default:
        return std::nullopt;
    }
}

} // namespace

const char* changedFolderText(FolderChange change) {
    switch (change) {
    case FolderChange::Gone:
        return "見つからなくなっていました";
    case FolderChange::NoFolder:
        return "シンボリックリンクかファイルに変わっていました";
    case FolderChange::AnotherFolder:
        return "別のフォルダに置き換わっていました";
    case FolderChange::OtherMount:
        return "別のファイルシステムがマウントされていました";
    }
    return "";
}

SurveyedFolders::SurveyedFolders(const HeldFolder& root, const std::vector<fs::path>& folderList,
                                 const std::vector<SurveyedFolder>& places)
    : m_root(root), m_folderList(folderList), m_places(places), m_left(places.size(), false) {}

Result<const HeldFolder*> SurveyedFolders::open(std::size_t index) {
    std::vector<std::size_t> way; // from the topmost folder down to `index`
    for (std::size_t at = index; at != kSurveyRoot; at = m_places[at].parent)
        way.insert(way.begin(), at);
    for (const std::size_t at : way) {
        if (m_left[at])
            return static_cast<const HeldFolder*>(nullptr);
    }
    const Result<bool> reached = descendTo(way);
    if (!reached)
        return reached.error();
    return reached.value() ? &m_chain.back().second : nullptr;
}

// Keeps what the chain shares with the way, then opens the rest one folder at a time. False when
// a folder on the way has changed (it is noted).
Result<bool> SurveyedFolders::descendTo(const std::vector<std::size_t>& way) {
    std::size_t shared = 0;
    while (shared < m_chain.size() && shared < way.size() && m_chain[shared].first == way[shared])
        ++shared;
    m_chain.resize(shared);
    for (std::size_t i = shared; i < way.size(); ++i) {
        const SurveyedFolder& place = m_places[way[i]];
        const HeldFolder& parent = m_chain.empty() ? m_root : m_chain.back().second;
        // A folder the survey could not enter has nothing surveyed below it either.
        Result<HeldFolder> folder =
            place.seen ? parent.child(place.name, place.id) : parent.child(place.name);
        const std::optional<FolderChange> change =
            !place.seen && folder ? FolderChange::AnotherFolder : changeShownBy(folder.code());
        if (!change && !folder)
            return folder.error();
        if (change) {
            m_left[way[i]] = true;
            m_changed.push_back({m_folderList[way[i]], *change});
            return false;
        }
        m_chain.emplace_back(way[i], std::move(folder.value()));
    }
    return true;
}

bool SurveyedFolders::isLeft(std::size_t index) const {
    for (std::size_t at = index; at != kSurveyRoot; at = m_places[at].parent) {
        if (m_left[at])
            return true;
    }
    return false;
}

bool SurveyedFolders::noteChanged(std::size_t index, const Error& error) {
    const std::optional<FolderChange> change = changeShownBy(error.code);
    if (!change || error.path != m_folderList[index] || isLeft(index))
        return false;
    m_left[index] = true;
    m_changed.push_back({m_folderList[index], *change});
    m_chain.clear(); // what was held below it may be another folder's now
    return true;
}

void SurveyedFolders::noteLeft(const std::vector<FolderLeft>& folders) {
    for (const FolderLeft& left : folders) {
        const auto listed = std::find(m_folderList.begin(), m_folderList.end(), left.folder);
        if (listed != m_folderList.end()) {
            (void)noteChanged(std::size_t(listed - m_folderList.begin()),
                              errorFromErrno({}, left.folder, left.reason));
            continue;
        }
        const std::optional<FolderChange> change = changeShownBy(left.reason);
        const bool named = std::any_of(m_changed.begin(), m_changed.end(), [&](const ChangedFolder& folder) {
            return folder.path == left.folder;
        });
        if (change && !named)
            m_changed.push_back({left.folder, *change});
    }
}

bool SurveyedFolders::holdsLeft(std::size_t index) const {
    for (std::size_t below = 0; below < m_places.size(); ++below) {
        if (!m_left[below])
            continue;
        for (std::size_t at = m_places[below].parent; at != kSurveyRoot; at = m_places[at].parent) {
            if (at == index)
                return true;
        }
    }
    return false;
}

std::string describeChangedFolders(const fs::path& sourceParent, const std::vector<ChangedFolder>& folders) {
    constexpr std::size_t kNamesShown = 5;
    if (folders.empty())
        return {};
    std::string text = "フォルダ構成を調べた後で変わったフォルダが" + std::to_string(folders.size()) +
                       "個あったため、中のものには手を付けずにそのままにしました。";
    for (std::size_t i = 0; i < folders.size() && i < kNamesShown; ++i) {
        const fs::path relative = folders[i].path.lexically_relative(sourceParent);
        const bool below = !relative.empty() && *relative.begin() != "..";
        text += "\n  " + legibleName((below ? relative : folders[i].path).native()) + "（" +
                changedFolderText(folders[i].change) + "）";
    }
    if (folders.size() > kNamesShown)
        text += "\n  ほか" + std::to_string(folders.size() - kNamesShown) + "個";
    return text;
}

} // namespace corvalin
