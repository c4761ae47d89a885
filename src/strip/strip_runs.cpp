#include "strip/strip_runs.h"

#include "history/run_journal.h"
#include "naming/serial_name.h"
#include "naming/strip_rule.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <cerrno>
#include <set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

using Kind = HeldEntry::Kind;

// What became of one file that carries a prefix.
struct FileResult {
    std::optional<LeftReason> left;
    std::optional<Error> error;
};

// A move that failed because the source went away is no failure of the run: there is nothing
// left to lose.
FileResult failedOrGone(const Status& failed, const HeldFolder& folder, const std::string& name) {
    const Result<HeldEntry> now = folder.lookup(name);
    if (failed.code() == ENOENT && now && now.value().kind == Kind::None)
        return {LeftReason::NoLongerThere, std::nullopt};
    return {std::nullopt, failed.error()};
}

// Recorded with what the file is in the held folder, never looked up again by its path.
Status recordRename(RunJournal& journal, const HeldFolder& from, const std::string& name,
                    const HeldFolder& to, const std::string& newName, const FileIdentity& identity) {
    JournalRecord record(RecordType::Rename);
    record.from = from.pathOf(name);
    record.to = to.pathOf(newName);
    record.identity = identity;
    return journal.append(record);
}

// Where the disk has neither a rename that refuses to replace nor links (FAT and exFAT through
// FUSE), the file is copied to its new name created exclusively and the old name removed, as a
// gather within such a disk does; its record then holds what a copy keeps: its size and time.
Status copyToNewName(const HeldFolder& from, const std::string& name, const HeldFolder& to,
                     const std::string& newName, FileIdentity identity, RunJournal* journal) {
    if (journal) {
        if (Status back = journal->takeBackLast(); !back)
            return back;
        identity.device = 0;
        identity.inode = 0;
        if (Status recorded = recordRename(*journal, from, name, to, newName, identity); !recorded)
            return recorded;
    }
    return moveAcross(from, name, to, newName);
}

FileResult stripOne(const HeldFolder& from, const std::string& name, const HeldFolder& to,
                    const std::string& newName, StripObserver& observer, RunJournal* journal) {
    if (newName.front() == '.')
        return {LeftReason::NameDotted, std::nullopt};
    const Result<HeldEntry> source = from.lookup(name);
    if (!source)
        return {std::nullopt, source.error()};
    if (source.value().kind != Kind::File)
        return {LeftReason::NoLongerThere, std::nullopt};
    const Result<HeldEntry> target = to.lookup(newName);
    if (!target)
        return {std::nullopt, target.error()};
    if (target.value().kind != Kind::None)
        return {LeftReason::NameTaken, std::nullopt};
    observer.newName(newName);
    observer.previewRequested(from.pathOf(name));
    if (journal) {
        if (const Status recorded = recordRename(*journal, from, name, to, newName, source.value().identity);
            !recorded)
            return failedOrGone(recorded, from, name);
    }
    Status moved = from.moveTo(name, to, newName);
    if (moved.code() == EXDEV)
        moved = copyToNewName(from, name, to, newName, source.value().identity, journal);
    if (!moved) {
        // The file is where it was: the journal keeps only what was done.
        if (journal)
            (void)journal->takeBackLast();
        // Taken since the look-up: still never replaced.
        if (moved.code() == EEXIST)
            return {LeftReason::NameTaken, std::nullopt};
        return failedOrGone(moved, from, name);
    }
    // A read-only file moves like any other and arrives writable; one left where it was keeps its
    // mode.
    if (const Status normal = to.makeWritable(newName); !normal)
        return {std::nullopt, normal.error()};
    return {};
}

// The loop both runs share: each entry with a prefix goes from `folder` to `target` under its
// stripped name; the counter counts down over all entries.
StripOutcome stripEntries(const HeldFolder& folder, const HeldFolder& target,
                          const std::vector<std::string>& names, StripObserver& observer,
                          RunJournal* journal) {
    StripOutcome outcome;
    // A name this run has just given is not met again, even when a stale listing still shows it.
    std::set<std::string> given;
    const bool inPlace = &folder == &target;
    const int total = static_cast<int>(names.size());
    for (int j = 0; j < total; ++j) {
        if (observer.cancelRequested() || observer.stopRequested()) {
            outcome.stopped = true;
            break;
        }
        const std::string& name = names[static_cast<std::size_t>(j)];
        const std::optional<std::string> newName = strippedName(name);
        // A prefix with nothing after it would leave no name at all.
        if (!newName && serialPrefixEnd(name) == name.size())
            outcome.left.push_back({name, LeftReason::NameEmpty});
        if (!newName || (inPlace && given.contains(name)) || !isPlainName(name))
            continue;
        observer.yield();
        const FileResult result = stripOne(folder, name, target, *newName, observer, journal);
        if (result.error) {
            outcome.error = result.error;
            break;
        }
        if (result.left) {
            outcome.left.push_back({name, *result.left});
        } else {
            ++outcome.stripped;
            given.insert(*newName);
        }
        observer.yield();
        observer.progress(total - 1 - j, total);
    }
    return outcome;
}

} // namespace

StripOutcome stripInFolder(const fs::path& folder, const std::vector<std::string>& names,
                           StripObserver& observer, RunJournal* journal) {
    // A folder that vanished since it was listed is one failure, not one per file.
    const Result<HeldFolder> held = HeldFolder::open(folder);
    if (!held) {
        const int total = static_cast<int>(names.size());
        observer.progress(total, total);
        StripOutcome outcome;
        outcome.error = held.error();
        return outcome;
    }
    return stripInFolder(held.value(), names, observer, journal);
}

StripOutcome stripInFolder(const HeldFolder& folder, const std::vector<std::string>& names,
                           StripObserver& observer, RunJournal* journal) {
    const int total = static_cast<int>(names.size());
    observer.progress(total, total);
    return stripEntries(folder, folder, names, observer, journal);
}

std::string subfolderStem(const fs::path& folder) {
    const std::string own = ownName(folder);
    // "/" cannot be part of a name.
    return own == "/" ? std::string("root") : own;
}

Result<std::optional<StripFolders>> createStripSubfolder(const fs::path& folder, RunJournal* journal) {
    Result<HeldFolder> held = HeldFolder::open(folder);
    if (!held)
        return held.error();
    const std::string stem = subfolderStem(folder);
    for (int n = 1; n <= kMaxStripSubfolders; ++n) {
        const std::string candidate = stem + "(" + std::to_string(n) + ")";
        const Result<HeldEntry> taken = held.value().lookup(candidate);
        if (!taken)
            return taken.error();
        if (taken.value().kind != Kind::None)
            continue;
        if (journal) {
            if (const Status recorded = journal->recordFolderMade(held.value().pathOf(candidate)); !recorded)
                return recorded.error();
        }
        const Status created = held.value().makeFolder(candidate);
        // Someone else took the name since the look-up: try the next one.
        if (created.code() == EEXIST)
            continue;
        if (!created)
            return created.error();
        // Made just now: whatever took its name since is not followed.
        Result<HeldFolder> subfolder = held.value().child(candidate);
        if (!subfolder)
            return subfolder.error();
        return std::optional<StripFolders>(
            StripFolders{std::move(held.value()), std::move(subfolder.value())});
    }
    return std::optional<StripFolders>();
}

StripOutcome stripIntoSubfolder(const StripFolders& folders, const std::vector<std::string>& selected,
                                StripObserver& observer, RunJournal* journal) {
    return stripEntries(folders.folder, folders.subfolder, selected, observer, journal);
}

} // namespace corvalin
