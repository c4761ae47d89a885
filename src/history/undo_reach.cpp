#include "history/undo_reach.h"

#include "engine/source_refusal.h"
#include "platform/held_folder.h"
#include "platform/own_trash.h"
#include "platform/paths.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";

// The trash folder holding `item` in its "files" or "info" folder; empty when it is not one.
fs::path trashHolding(const fs::path& item, const char* part) {
    const fs::path folder = item.parent_path();
    return ownName(folder) == part && isPlainName(item.filename().native()) ? folder.parent_path()
                                                                            : fs::path();
}

} // namespace

bool liesBelow(const fs::path& path, const fs::path& root) {
    const std::string top = withoutTrailingSlash(root).native();
    const std::string& text = path.native();
    if (top.empty() || text == top)
        return !top.empty();
    const std::string prefix = top == "/" ? top : top + "/";
    if (!text.starts_with(prefix))
        return false;
    for (std::size_t at = prefix.size(); at <= text.size();) {
        const std::size_t slash = std::min(text.find('/', at), text.size());
        if (!isPlainName(text.substr(at, slash - at)))
            return false;
        at = slash + 1;
    }
    return true;
}

UndoReach::UndoReach(const JournalContents& contents) {
    if (contents.records.size() < 2 || contents.records[1].type != RecordType::Start)
        return;
    const JournalRecord& start = contents.records[1];
    m_kind = start.kind;
    m_root = withoutTrailingSlash(start.from);
    m_destination = start.to.empty() ? fs::path() : withoutTrailingSlash(start.to);
    if (m_kind != RunKind::Move)
        return;
    if (const std::optional<std::string> tooHigh = sourceTooHigh(m_root))
        m_refusal = Error{"元に戻す処理", m_root, 0, *tooHigh};
}

bool UndoReach::inRun(const fs::path& path, bool rootItself) const {
    return liesBelow(path, m_root) && (rootItself || path != m_root);
}

// Straight into the destination the run recorded.
bool UndoReach::movedInto(const fs::path& path) const {
    return m_kind == RunKind::Move && !m_destination.empty() && path.parent_path() == m_destination &&
           isPlainName(path.filename().native());
}

bool UndoReach::inTrash(const JournalRecord& record) const {
    const fs::path trash = trashHolding(record.to, "files");
    const std::string infoName = record.info.filename().native();
    return !trash.empty() && liesBelow(trash, "/") && trashHolding(record.info, "info") == trash &&
           infoName == record.to.filename().native() + std::string(kInfoSuffix) && isOwnTrash(trash);
}

bool UndoReach::allows(const JournalRecord& record) const {
    if (m_refusal)
        return false;
    // The maker makes its parent folder itself, and the remover takes it away whole.
    const bool rootItself = m_kind == RunKind::MakeFolders || m_kind == RunKind::RemoveFolder;
    switch (record.type) {
    case RecordType::Move:
    case RecordType::Rename:
        return inRun(record.from, false) && (inRun(record.to, false) || movedInto(record.to));
    case RecordType::Trash:
        return inRun(record.from, rootItself) && inTrash(record);
    case RecordType::Delete:
    case RecordType::MakeFolder:
        return inRun(record.from, rootItself);
    default:
        return true;
    }
}

std::optional<fs::path> UndoReach::rootOf(const fs::path& path) const {
    if (liesBelow(path, m_root))
        return m_root;
    if (movedInto(path))
        return path.parent_path();
    // The trash folder itself, so that its files and info folders are opened without following a link.
    for (const char* part : {"files", "info"}) {
        const fs::path trash = trashHolding(path, part);
        if (!trash.empty() && isOwnTrash(trash))
            return trash;
    }
    return std::nullopt;
}

bool UndoReach::isOwnTrash(const fs::path& trash) const {
    auto known = m_trashes.find(trash);
    if (known == m_trashes.end())
        known = m_trashes.emplace(trash, isOwnTrashFolder(trash)).first;
    return known->second;
}

} // namespace corvalin
