#include "history/undo_folders.h"

#include "platform/paths.h"

#include <cerrno>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Enough for the child folders of a run's items in turn, well inside the descriptor limit.
constexpr std::size_t kFoldersKept = 64;

const char* const kReadFolderText = "フォルダの読み取り";

} // namespace

Result<const HeldFolder*> UndoFolders::root(const fs::path& path) {
    auto kept = m_roots.find(path);
    if (kept == m_roots.end()) {
        // A root as the journal names it: the links on that path are the run's own choice.
        Result<HeldFolder> opened = HeldFolder::open(path);
        if (!opened)
            return opened.error();
        kept = m_roots.emplace(path, std::move(opened.value())).first;
    }
    return &kept->second;
}

Result<const HeldFolder*> UndoFolders::holding(const fs::path& item) {
    const std::optional<fs::path> top = m_reach.rootOf(item);
    if (!top)
        return errorFromErrno(kReadFolderText, item, EINVAL);
    // The root itself (the folder the maker made, the remover's tree) lies in the folder above it.
    if (item == *top)
        return root(item.parent_path());
    return below(*top, item.parent_path());
}

Result<const HeldFolder*> UndoFolders::below(const fs::path& top, const fs::path& folder) {
    const Result<const HeldFolder*> held = root(top);
    if (!held || folder == top)
        return held;
    if (const auto kept = m_below.find(folder); kept != m_below.end())
        return &kept->second;
    Result<HeldFolder> opened = held.value()->below(folder);
    if (!opened)
        return opened.error();
    return &m_below.emplace(folder, std::move(opened.value())).first->second;
}

Status UndoFolders::makeMissing(const fs::path& folder) {
    const std::optional<fs::path> top = m_reach.rootOf(folder);
    if (!top)
        return errorFromErrno(kReadFolderText, folder, EINVAL);
    std::vector<std::string> missing;
    fs::path level = folder;
    Result<const HeldFolder*> found = below(*top, level);
    for (; !found && found.code() == ENOENT && level != *top; found = below(*top, level)) {
        missing.push_back(ownName(level));
        level = level.parent_path();
    }
    if (!found)
        return found.error();
    Result<HeldFolder> parent = found.value()->duplicate();
    for (auto name = missing.rbegin(); parent && name != missing.rend(); ++name) {
        if (Status made = parent.value().makeFolder(*name); !made && made.code() != EEXIST)
            return made;
        parent = parent.value().child(*name);
    }
    forget(folder);
    return parent.status();
}

void UndoFolders::tidy() {
    if (m_below.size() >= kFoldersKept)
        m_below.clear();
}

void UndoFolders::forget(const fs::path& folder) {
    for (auto kept = m_below.begin(); kept != m_below.end();) {
        if (isSameOrBelow(kept->first, folder))
            kept = m_below.erase(kept);
        else
            ++kept;
    }
}

} // namespace corvalin
