#include "history/undo_steps.h"

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/trash.h"

#include <cerrno>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

using Outcome = UndoStep::Result;

UndoStep ended(Outcome result) {
    UndoStep step;
    step.result = result;
    return step;
}

UndoStep leave(const fs::path& item, UndoLeftReason reason) {
    return {Outcome::Left, UndoLeftItem{item, reason}, std::nullopt};
}

UndoStep failed(const Error& error) {
    return {Outcome::Failed, std::nullopt, error};
}

// The identity of what `path` names; nothing when nothing does. Any other failure to look (no
// permission to the folder) is an error: the item cannot be judged.
Result<std::optional<FileIdentity>> lookAt(const fs::path& path) {
    Result<FileIdentity> identity = identityOf(path);
    if (identity)
        return std::optional<FileIdentity>(identity.value());
    if (identity.code() == ENOENT || identity.code() == ENOTDIR)
        return std::optional<FileIdentity>();
    return identity.error();
}

} // namespace

UndoSteps::UndoSteps(RunJournal& journal, const JournalContents& contents) : m_journal(journal) {
    for (const JournalRecord& record : contents.records) {
        if (record.type == RecordType::Start) {
            m_kind = record.kind;
            m_source = withoutTrailingSlash(record.from);
        } else if (record.type == RecordType::UndoStep) {
            m_undoneBefore.insert(record.number);
        }
    }
}

UndoStep UndoSteps::undo(const JournalRecord& record, std::size_t line) {
    switch (record.type) {
    case RecordType::Move:
    case RecordType::Rename:
        return undoMove(record, line);
    case RecordType::Trash:
        return undoTrash(record, line);
    case RecordType::Delete:
        return undoDelete(record, line);
    case RecordType::MakeFolder:
        return undoFolderMade(record, line);
    default:
        return {};
    }
}

// A picture or a renamed file goes back when it is still, under its new name, the file the run
// moved there.
UndoStep UndoSteps::undoMove(const JournalRecord& record, std::size_t line) {
    const auto atNew = lookAt(record.to);
    if (!atNew)
        return failed(atNew.error());
    if (atNew.value() && isSameFile(record.identity, *atNew.value(), false))
        return putBack(record, line);
    const auto atOrigin = lookAt(record.from);
    if (!atOrigin)
        return failed(atOrigin.error());
    return notThere(record, line, atOrigin.value());
}

UndoStep UndoSteps::putBack(const JournalRecord& record, std::size_t line) {
    if (lookupEntry(record.from) != EntryKind::None)
        return leave(record.to, UndoLeftReason::NameTaken);
    if (auto stop = prepareFolder(record.from.parent_path(), record.to))
        return *stop;
    if (Status begun = beginStep(line); !begun)
        return failed(begun.error());
    const Status moved = record.type == RecordType::Trash
                             ? restoreFromTrash({record.from, record.to, record.info}, record.from)
                             : moveNoReplace(record.to, record.from);
    if (moved.code() == EEXIST)
        return leave(record.to, UndoLeftReason::NameTaken);
    if (!moved)
        return failed(moved.error());
    return ended(Outcome::CameBack);
}

// The item is not where the run put it. Still at its origin, it never moved (an attempt that found
// its new name taken) or an earlier undo put it back; otherwise it changed since the run. A picture
// that went to another file system and back is a copy with a new inode, so a file counts as back
// by its size and time; nothing is moved on this judgement.
UndoStep UndoSteps::notThere(const JournalRecord& record, std::size_t line,
                             const std::optional<FileIdentity>& atOrigin) const {
    const auto isBack = [&](const FileIdentity& now) {
        return record.folder ? isSameFile(record.identity, now, true) : isCopyOf(record.identity, now);
    };
    if (atOrigin && isBack(*atOrigin))
        return alreadyOrNothing(line);
    return leave(record.to, UndoLeftReason::Changed);
}

// A trashed item comes back while it is still in the Trash as it went in. A child folder of a move
// run that is gone from the Trash is made again, for its pictures to go back into.
UndoStep UndoSteps::undoTrash(const JournalRecord& record, std::size_t line) {
    const auto inTrash = lookAt(record.to);
    if (!inTrash)
        return failed(inTrash.error());
    if (inTrash.value() && isSameFile(record.identity, *inTrash.value(), record.folder))
        return putBack(record, line);
    const auto atOrigin = lookAt(record.from);
    if (!atOrigin)
        return failed(atOrigin.error());
    // An info file whose item never went in (a kill before the rename) or came back (a kill before
    // the info file went) is tidied, so the file manager shows nothing that is not there.
    if (!inTrash.value() && lookupEntry(record.info) == EntryKind::File)
        (void)releaseTrashPlace({record.from, record.to, record.info});
    if (!atOrigin.value() && record.folder && m_kind == RunKind::Move)
        return makeAgain(record.from, line);
    return notThere(record, line, atOrigin.value());
}

UndoStep UndoSteps::undoDelete(const JournalRecord& record, std::size_t line) {
    const EntryKind now = lookupEntry(record.from);
    if (!record.folder && now != EntryKind::None)
        return {};
    if (!record.twin.empty())
        return {Outcome::Left, UndoLeftItem{record.from, UndoLeftReason::DuplicateGone, record.twin},
                std::nullopt};
    if (!record.folder)
        return leave(record.from, UndoLeftReason::DeletedForGood);
    if (now == EntryKind::Folder)
        return alreadyOrNothing(line);
    if (now != EntryKind::None)
        return leave(record.from, UndoLeftReason::NameTaken);
    // A child folder of a move run held nothing of value any more: it is made again, empty, for
    // the pictures to go back into. What the remover deleted is gone.
    if (m_kind != RunKind::Move)
        return leave(record.from, UndoLeftReason::DeletedForGood);
    return makeAgain(record.from, line);
}

UndoStep UndoSteps::makeAgain(const fs::path& folder, std::size_t line) {
    if (auto stop = prepareFolder(folder.parent_path(), folder))
        return *stop;
    if (Status begun = beginStep(line); !begun)
        return failed(begun.error());
    const Status made = createFolder(folder);
    if (made.code() == EEXIST)
        return isFolder(folder) ? UndoStep{} : leave(folder, UndoLeftReason::NameTaken);
    if (!made)
        return failed(made.error());
    return ended(Outcome::CameBack);
}

// A folder the run made goes only while it is empty, so nothing put into it since is ever lost.
UndoStep UndoSteps::undoFolderMade(const JournalRecord& record, std::size_t line) {
    const EntryKind now = lookupEntry(record.from);
    if (now == EntryKind::None)
        return alreadyOrNothing(line);
    if (now != EntryKind::Folder)
        return leave(record.from, UndoLeftReason::Changed);
    if (Status begun = beginStep(line); !begun)
        return failed(begun.error());
    const Status removed = removeEmptyFolder(record.from);
    if (removed.code() == ENOTEMPTY || removed.code() == EEXIST)
        return leave(record.from, UndoLeftReason::NotEmpty);
    if (!removed)
        return failed(removed.error());
    return ended(Outcome::CameBack);
}

// Only a move run's own child folders are made again: the folders below its source parent folder
// that it emptied or removed. Anywhere else a missing folder means the user moved things away.
std::optional<UndoStep> UndoSteps::prepareFolder(const fs::path& folder, const fs::path& item) {
    if (isFolder(folder))
        return std::nullopt;
    if (m_kind != RunKind::Move || folder == m_source || !isSameOrBelow(folder, m_source))
        return leave(item, UndoLeftReason::FolderGone);
    std::vector<fs::path> missing;
    fs::path level = folder;
    for (; level != m_source && lookupEntry(level) == EntryKind::None; level = level.parent_path())
        missing.push_back(level);
    if (!isFolder(level))
        return leave(item, UndoLeftReason::FolderGone);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (Status made = createFolder(*it); !made && made.code() != EEXIST)
            return failed(made.error());
    }
    return std::nullopt;
}

Status UndoSteps::beginStep(std::size_t line) {
    JournalRecord step(RecordType::UndoStep);
    step.number = static_cast<std::int64_t>(line);
    return m_journal.append(step);
}

// An item back where it came from: an earlier undo pass began on it, or the run never moved it.
UndoStep UndoSteps::alreadyOrNothing(std::size_t line) const {
    return ended(m_undoneBefore.contains(static_cast<std::int64_t>(line)) ? Outcome::AlreadyBack
                                                                          : Outcome::NothingToDo);
}

} // namespace corvalin
