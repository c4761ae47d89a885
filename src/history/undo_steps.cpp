#include "history/undo_steps.h"

#include "platform/absent_name.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/trash.h"

#include <cerrno>
#include <sys/stat.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

using Outcome = UndoStep::Result;
using Kind = HeldEntry::Kind;

const char* const kRestoreText = "ごみ箱からの取り出し";

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

// A folder on the way that is gone, is no folder any more or has a name its disk cannot hold:
// nothing of the run is there.
bool nothingOnTheWay(int code) {
    return lookupMeansAbsent(code);
}

std::string nameOf(const fs::path& path) {
    return path.filename().native();
}

// Whether the folder `name` holds anything: FAT through FUSE refuses to remove a folder that does
// with EPERM, not ENOTEMPTY.
bool holdsEntries(const HeldFolder& parent, const std::string& name) {
    const Result<HeldFolder> folder = parent.child(name);
    if (!folder)
        return false;
    const auto listed = folder.value().list();
    return listed && !listed.value().empty();
}

} // namespace

UndoSteps::UndoSteps(UndoLog& log, const JournalContents& contents, const UndoReach& reach)
    : m_log(log), m_reach(reach), m_folders(reach) {
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
    m_folders.tidy();
    if (isAction(record.type) && !m_reach.allows(record))
        return leave(record.to.empty() ? record.from : record.to, UndoLeftReason::OutsideTheRun);
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

UndoSteps::Found UndoSteps::look(const fs::path& path) {
    const Result<const HeldFolder*> folder = m_folders.holding(path);
    if (!folder && nothingOnTheWay(folder.code()))
        return std::optional<HeldEntry>();
    if (!folder)
        return folder.error();
    const Result<HeldEntry> entry = folder.value()->lookup(nameOf(path));
    if (!entry)
        return entry.error();
    return entry.value().kind == Kind::None ? std::nullopt : std::optional<HeldEntry>(entry.value());
}

// A picture or a renamed file goes back when it is still, under its new name, the file the run
// moved there.
UndoStep UndoSteps::undoMove(const JournalRecord& record, std::size_t line) {
    const Found atNew = look(record.to);
    if (!atNew)
        return failed(atNew.error());
    if (atNew.value() && isSameFile(record.identity, atNew.value()->identity, false))
        return putBack(record, line);
    const Found atOrigin = look(record.from);
    if (!atOrigin)
        return failed(atOrigin.error());
    return notThere(record, line, atOrigin.value());
}

UndoStep UndoSteps::putBack(const JournalRecord& record, std::size_t line) {
    const Found atOrigin = look(record.from);
    if (!atOrigin)
        return failed(atOrigin.error());
    if (atOrigin.value() && !emptiedByAnEarlierPass(record, line, *atOrigin.value()))
        return leave(record.to, UndoLeftReason::NameTaken);
    if (auto stop = prepareFolder(record.from, record.to))
        return *stop;
    const Result<const HeldFolder*> origin = m_folders.holding(record.from);
    if (!origin)
        return nothingOnTheWay(origin.code()) ? leave(record.to, UndoLeftReason::FolderGone)
                                              : failed(origin.error());
    if (Status begun = beginStep(line); !begun)
        return failed(begun.error());
    const Status moved = record.type == RecordType::Trash ? restore(record, *origin.value())
                                                          : moveBack(record, *origin.value());
    if (moved.code() == EEXIST)
        return leave(record.to, UndoLeftReason::NameTaken);
    if (!moved)
        return failed(moved.error());
    return ended(Outcome::CameBack);
}

// A folder comes out of the trash on some disks by a rename onto an empty folder made for it first
// (moveOutOfTrash): an earlier pass that began on this record and was killed in between left that
// empty folder at the origin. It goes, only while empty, and the folder takes its place.
bool UndoSteps::emptiedByAnEarlierPass(const JournalRecord& record, std::size_t line,
                                       const HeldEntry& atOrigin) {
    if (record.type != RecordType::Trash || !record.folder || atOrigin.kind != Kind::Folder ||
        !m_undoneBefore.contains(static_cast<std::int64_t>(line)))
        return false;
    const Result<const HeldFolder*> origin = m_folders.holding(record.from);
    return origin && origin.value()->removeFolder(nameOf(record.from));
}

Status UndoSteps::moveBack(const JournalRecord& record, const HeldFolder& origin) {
    const Result<const HeldFolder*> from = m_folders.holding(record.to);
    if (!from)
        return from.status();
    const Status moved = from.value()->moveTo(nameOf(record.to), origin, nameOf(record.from));
    // Back to another file system the way is a copy, between the same two held folders.
    if (moved.code() == EXDEV)
        return moveAcross(*from.value(), nameOf(record.to), origin, nameOf(record.from));
    return moved;
}

// Renamed out of the trash's files folder, then its info file goes: what the file manager shows
// of the trash stays true.
Status UndoSteps::restore(const JournalRecord& record, const HeldFolder& origin) {
    const Result<const HeldFolder*> files = m_folders.holding(record.to);
    const Result<const HeldFolder*> info = files ? m_folders.holding(record.info) : files;
    if (!info)
        return errorFromErrno(kRestoreText, record.to, info.code());
    // Never replacing, on every disk; a folder gets the write permission its move needs.
    if (Status moved = moveOutOfTrash(*files.value(), nameOf(record.to), origin, nameOf(record.from)); !moved)
        return moved;
    if (Status removed = info.value()->removeFile(nameOf(record.info)); !removed && removed.code() != ENOENT)
        return removed;
    return {};
}

// The item is not where the run put it. Still at its origin, it never moved (an attempt that found
// its new name taken) or an earlier undo put it back; otherwise it changed since the run. A picture
// that went to another file system and back is a copy with a new inode, so a file counts as back
// by its size and time; nothing is moved on this judgement.
UndoStep UndoSteps::notThere(const JournalRecord& record, std::size_t line,
                             const std::optional<HeldEntry>& atOrigin) const {
    const auto isBack = [&](const FileIdentity& now) {
        return record.folder ? isSameFile(record.identity, now, true) : isCopyOf(record.identity, now);
    };
    if (atOrigin && isBack(atOrigin->identity))
        return alreadyOrNothing(line);
    return leave(record.to, UndoLeftReason::Changed);
}

// A trashed item comes back while it is still in the Trash as it went in. A child folder of a move
// run that is gone from the Trash is made again, for its pictures to go back into.
UndoStep UndoSteps::undoTrash(const JournalRecord& record, std::size_t line) {
    const Found inTrash = look(record.to);
    if (!inTrash)
        return failed(inTrash.error());
    if (inTrash.value() && isSameFile(record.identity, inTrash.value()->identity, record.folder))
        return putBack(record, line);
    const Found atOrigin = look(record.from);
    if (!atOrigin)
        return failed(atOrigin.error());
    // An info file whose item never went in (a kill before the rename) or came back (a kill before
    // the info file went) is tidied, so the file manager shows nothing that is not there.
    const Found info = inTrash.value() ? Found(std::nullopt) : look(record.info);
    if (info && info.value() && info.value()->kind == Kind::File) {
        if (const Result<const HeldFolder*> folder = m_folders.holding(record.info))
            (void)folder.value()->removeFile(nameOf(record.info));
    }
    if (!atOrigin.value() && record.folder && m_kind == RunKind::Move)
        return makeAgain(record.from, line);
    return notThere(record, line, atOrigin.value());
}

UndoStep UndoSteps::undoDelete(const JournalRecord& record, std::size_t line) {
    const Found now = look(record.from);
    if (!now)
        return failed(now.error());
    if (!record.folder && now.value())
        return {};
    if (!record.twin.empty())
        return {Outcome::Left, UndoLeftItem{record.from, UndoLeftReason::DuplicateGone, record.twin},
                std::nullopt};
    if (!record.folder)
        return leave(record.from, UndoLeftReason::DeletedForGood);
    if (now.value() && now.value()->kind == Kind::Folder)
        return alreadyOrNothing(line);
    if (now.value())
        return leave(record.from, UndoLeftReason::NameTaken);
    // A child folder of a move run held nothing of value any more: it is made again, empty, for
    // the pictures to go back into. What the remover deleted is gone.
    if (m_kind != RunKind::Move)
        return leave(record.from, UndoLeftReason::DeletedForGood);
    return makeAgain(record.from, line);
}

UndoStep UndoSteps::makeAgain(const fs::path& folder, std::size_t line) {
    if (auto stop = prepareFolder(folder, folder))
        return *stop;
    const Result<const HeldFolder*> parent = m_folders.holding(folder);
    if (!parent)
        return nothingOnTheWay(parent.code()) ? leave(folder, UndoLeftReason::FolderGone)
                                              : failed(parent.error());
    if (Status begun = beginStep(line); !begun)
        return failed(begun.error());
    const Status made = parent.value()->makeFolder(nameOf(folder));
    if (made.code() == EEXIST) {
        const Result<HeldEntry> there = parent.value()->lookup(nameOf(folder));
        return there && there.value().kind == Kind::Folder ? UndoStep{}
                                                           : leave(folder, UndoLeftReason::NameTaken);
    }
    if (!made)
        return failed(made.error());
    return ended(Outcome::CameBack);
}

// A folder the run made goes only while it is empty, so nothing put into it since is ever lost.
UndoStep UndoSteps::undoFolderMade(const JournalRecord& record, std::size_t line) {
    const Found now = look(record.from);
    if (!now)
        return failed(now.error());
    if (!now.value())
        return alreadyOrNothing(line);
    if (now.value()->kind != Kind::Folder)
        return leave(record.from, UndoLeftReason::Changed);
    const Result<const HeldFolder*> parent = m_folders.holding(record.from);
    if (!parent)
        return failed(parent.error());
    if (Status begun = beginStep(line); !begun)
        return failed(begun.error());
    const Status removed = parent.value()->removeFolder(nameOf(record.from));
    if (removed.code() == ENOTEMPTY || removed.code() == EEXIST ||
        (!removed && holdsEntries(*parent.value(), nameOf(record.from))))
        return leave(record.from, UndoLeftReason::NotEmpty);
    if (!removed)
        return failed(removed.error());
    m_folders.forget(record.from);
    return ended(Outcome::CameBack);
}

// Only a move run's own child folders are made again: the folders below its source parent folder
// that it emptied or removed. Anywhere else a missing folder means the user moved things away; a
// link or a file in the way is never followed nor replaced.
std::optional<UndoStep> UndoSteps::prepareFolder(const fs::path& origin, const fs::path& item) {
    const fs::path folder = origin.parent_path();
    const Result<const HeldFolder*> there = m_folders.holding(origin);
    if (there)
        return std::nullopt;
    if (!nothingOnTheWay(there.code()))
        return failed(there.error());
    if (m_kind != RunKind::Move || folder == m_source || !liesBelow(folder, m_source))
        return leave(item, UndoLeftReason::FolderGone);
    if (Status made = m_folders.makeMissing(folder); !made)
        return nothingOnTheWay(made.code()) ? leave(item, UndoLeftReason::FolderGone) : failed(made.error());
    return std::nullopt;
}

Status UndoSteps::beginStep(std::size_t line) {
    JournalRecord step(RecordType::UndoStep);
    step.number = static_cast<std::int64_t>(line);
    return m_log.append(step);
}

// An item back where it came from: an earlier undo pass began on it, or the run never moved it.
UndoStep UndoSteps::alreadyOrNothing(std::size_t line) const {
    return ended(m_undoneBefore.contains(static_cast<std::int64_t>(line)) ? Outcome::AlreadyBack
                                                                          : Outcome::NothingToDo);
}

} // namespace corvalin
