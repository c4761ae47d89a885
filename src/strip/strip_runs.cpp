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

// What became of one file that carries a prefix.
struct FileResult {
    std::optional<LeftReason> left;
    std::optional<Error> error;
};

// A move that failed because the source went away is no failure of the run: there is nothing
// left to lose.
FileResult failedOrGone(const Status& failed, const fs::path& from) {
    if (failed.code() == ENOENT && lookupEntry(from) == EntryKind::None)
        return {LeftReason::NoLongerThere, std::nullopt};
    return {std::nullopt, failed.error()};
}

FileResult stripOne(const fs::path& from, const fs::path& to, const std::string& newName,
                    StripObserver& observer, RunJournal* journal) {
    if (newName.front() == '.')
        return {LeftReason::NameDotted, std::nullopt};
    if (lookupEntry(from) != EntryKind::File)
        return {LeftReason::NoLongerThere, std::nullopt};
    if (lookupEntry(to) != EntryKind::None)
        return {LeftReason::NameTaken, std::nullopt};
    observer.newName(newName);
    observer.previewRequested(from);
    if (journal) {
        if (const Status recorded = journal->recordRename(from, to); !recorded)
            return failedOrGone(recorded, from);
    }
    if (const Status moved = moveNoReplace(from, to); !moved) {
        // The file is where it was: the journal keeps only what was done.
        if (journal)
            (void)journal->takeBackLast();
        // Taken since the look-up: still never replaced.
        if (moved.code() == EEXIST)
            return {LeftReason::NameTaken, std::nullopt};
        return failedOrGone(moved, from);
    }
    // A read-only file moves like any other and arrives writable; one left where it was keeps its
    // mode.
    if (const Status normal = setNormalAttributes(to); !normal)
        return {std::nullopt, normal.error()};
    return {};
}

// The loop both runs share: each entry with a prefix goes from `folder` to `target` under its
// stripped name; the counter counts down over all entries.
StripOutcome stripEntries(const fs::path& folder, const fs::path& target,
                          const std::vector<std::string>& names, StripObserver& observer,
                          RunJournal* journal) {
    StripOutcome outcome;
    // A name this run has just given is not met again, even when a stale listing still shows it.
    std::set<fs::path> given;
    const int total = static_cast<int>(names.size());
    for (int j = 0; j < total; ++j) {
        if (observer.cancelRequested() || observer.stopRequested()) {
            outcome.stopped = true;
            break;
        }
        const std::string& name = names[static_cast<std::size_t>(j)];
        const fs::path from = joinPath(folder, name);
        const std::optional<std::string> newName = strippedName(name);
        // A prefix with nothing after it would leave no name at all.
        if (!newName && serialPrefixEnd(name) == name.size())
            outcome.left.push_back({name, LeftReason::NameEmpty});
        if (!newName || given.contains(from))
            continue;
        observer.yield();
        const fs::path to = joinPath(target, *newName);
        const FileResult result = stripOne(from, to, *newName, observer, journal);
        if (result.error) {
            outcome.error = result.error;
            break;
        }
        if (result.left) {
            outcome.left.push_back({name, *result.left});
        } else {
            ++outcome.stripped;
            given.insert(to);
        }
        observer.yield();
        observer.progress(total - 1 - j, total);
    }
    return outcome;
}

} // namespace

StripOutcome stripInFolder(const fs::path& folder, const std::vector<std::string>& names,
                           StripObserver& observer, RunJournal* journal) {
    const int total = static_cast<int>(names.size());
    observer.progress(total, total);
    // A folder that vanished since it was listed is one failure, not one per file.
    if (const Status readable = checkFolderReadable(folder); !readable) {
        StripOutcome outcome;
        outcome.error = readable.error();
        return outcome;
    }
    return stripEntries(folder, folder, names, observer, journal);
}

std::string subfolderStem(const fs::path& folder) {
    const std::string own = ownName(folder);
    // "/" cannot be part of a name.
    return own == "/" ? std::string("root") : own;
}

Result<std::optional<fs::path>> createStripSubfolder(const fs::path& folder, RunJournal* journal) {
    const std::string stem = subfolderStem(folder);
    for (int n = 1; n <= kMaxStripSubfolders; ++n) {
        const fs::path candidate = joinPath(folder, stem + "(" + std::to_string(n) + ")");
        if (lookupEntry(candidate) != EntryKind::None)
            continue;
        if (journal) {
            if (const Status recorded = journal->recordFolderMade(candidate); !recorded)
                return recorded.error();
        }
        const Status created = createFolder(candidate);
        if (created)
            return std::optional<fs::path>(candidate);
        // Someone else took the name since the look-up: try the next one.
        if (created.code() != EEXIST)
            return created.error();
    }
    return std::optional<fs::path>();
}

StripOutcome stripIntoSubfolder(const fs::path& folder, const fs::path& subfolder,
                                const std::vector<std::string>& selected, StripObserver& observer,
                                RunJournal* journal) {
    return stripEntries(folder, subfolder, selected, observer, journal);
}

} // namespace corvalin
