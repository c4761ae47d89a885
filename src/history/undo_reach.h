#pragma once

#include "history/journal_reader.h"
#include "platform/result.h"

#include <filesystem>
#include <map>
#include <optional>
#include <vector>

namespace corvalin {

// Where an undo may act: only where its run acted. Every path of a record must lie, component by
// component, at or below one of the roots its run recorded (a move's source parent folder and its
// destination, a strip's folder, the maker's and the remover's parent folder), or in one of this
// user's trash folders; an empty, "." or ".." component never passes. The roots are the journal's
// own words: a journal written by hand can name roots of its own, but never a move from a source
// parent that a move would refuse ("/", the home folder or above).
class UndoReach {
public:
    explicit UndoReach(const JournalContents& contents);

    // Why nothing of the journal may be undone; nothing when it may.
    const std::optional<Error>& refusal() const { return m_refusal; }

    // True when every path of `record` lies where its run acted.
    bool allows(const JournalRecord& record) const;

    // The root below which `path` lies (the trash folders included), for opening the folders on the
    // way from it; nothing when it lies below none.
    std::optional<std::filesystem::path> rootOf(const std::filesystem::path& path) const;

private:
    bool inRun(const std::filesystem::path& path, bool rootItself) const;
    bool movedInto(const std::filesystem::path& path) const;
    bool inTrash(const JournalRecord& record) const;
    // Asked once a trash folder: one undo's items share a few.
    bool isOwnTrash(const std::filesystem::path& trash) const;

    RunKind m_kind = RunKind::Move;
    std::filesystem::path m_root;        // the source parent, the strip's or the maker's folder
    std::filesystem::path m_destination; // a move's destination
    std::optional<Error> m_refusal;
    mutable std::map<std::filesystem::path, bool> m_trashes;
};

// True when `path` is `root` or lies below it by plain components only (no empty, "." or "..").
bool liesBelow(const std::filesystem::path& path, const std::filesystem::path& root);

} // namespace corvalin
