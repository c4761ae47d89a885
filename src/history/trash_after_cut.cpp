// Trash info files that a cut left empty or cut short, written again at the next start from what
// the session's journals recorded: the item's original path, and the time it went in. The file
// manager cannot show or put back an item without one. Info files of items that never went in go.
#include "history/run_journal.h"
#include "history/unclean_end.h"
#include "history/undo_reach.h"
#include "platform/file_ops.h"
#include "platform/own_trash.h"
#include "platform/trash.h"
#include "platform/trash_repair.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <unordered_set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// The trashes the repair works in, each held once; one that cannot be held is named once.
class HeldTrashes {
public:
    const HeldTrash* find(const fs::path& trash, UncleanEndReport& report) {
        auto known = m_trashes.find(trash);
        if (known == m_trashes.end()) {
            Result<HeldTrash> held = holdTrash(trash);
            if (!held && held.code() != ENOENT)
                report.failures.push_back(held.error());
            known =
                m_trashes.emplace(trash, held ? std::optional(std::move(held.value())) : std::nullopt).first;
        }
        return known->second ? &*known->second : nullptr;
    }

private:
    std::map<fs::path, std::optional<HeldTrash>> m_trashes;
};

// An info file whose item is still in the trash is written again when damaged. One whose item
// never went in (a kill or a cut while it waited in its folder, or before its move reached the disk)
// describes nothing and goes; true then, so that the journal says the item was not trashed.
bool repairOne(const JournalRecord& record, const HeldTrash& trash, std::int64_t runStart,
               UncleanEndReport& report) {
    const std::string infoName = record.info.filename().native();
    const InfoFileState state = infoFileState(trash, infoName);
    if (state == InfoFileState::Missing)
        return false;
    const Result<HeldEntry> item = trash.files.lookup(record.to.filename().native());
    if (item && item.value().kind == HeldEntry::Kind::None) {
        if (Status released = trash.info.removeFile(infoName); !released && released.code() != ENOENT) {
            report.failures.push_back(released.error());
            return false;
        }
        return true;
    }
    if (state != InfoFileState::Damaged)
        return false;
    const std::time_t when =
        timeTrashed(trash, record.to.filename().native()).value_or(static_cast<std::time_t>(runStart));
    if (Status rewritten = rewriteTrashInfo(trash, {record.from, record.to, record.info}, when); !rewritten) {
        report.failures.push_back(rewritten.error());
        return false;
    }
    ++report.infoFilesRewritten;
    return false;
}

// A record naming an info file or an item outside this user's trashes, or an item from outside its
// run, is none a run of ours wrote (a journal written by hand, or damaged): the files it names are
// left as they are, whatever they hold.
Error refusedRecord(const fs::path& journal, const JournalRecord& record) {
    return Error{"ごみ箱の情報ファイルの修復", record.info, 0,
                 "履歴の記録 " + journal.native() +
                     " に書かれた場所が、この実行の使ったごみ箱の中ではないため、手を付けませんでした。"};
}

// True when the journal may still say of its actions that they did not take place: not undone.
bool takesWithdrawals(const JournalContents& contents) {
    return std::none_of(contents.records.begin(), contents.records.end(),
                        [](const JournalRecord& r) { return r.type == RecordType::UndoStart; });
}

void recordNotTrashed(const SessionJournal& journal, const std::vector<std::size_t>& lines,
                      UncleanEndReport& report) {
    if (lines.empty() || !takesWithdrawals(journal.contents))
        return;
    JournalContents contents;
    Result<RunJournal> reopened = RunJournal::reopen(journal.file, contents);
    Status recorded = reopened.status();
    for (std::size_t i = 0; recorded && i < lines.size(); ++i)
        recorded = reopened.value().recordNotDone(lines[i]);
    if (reopened) {
        const Status closed = reopened.value().close();
        recorded = recorded ? closed : recorded;
    }
    if (!recorded)
        report.failures.push_back(recorded.error());
}

// The trashes the session's runs may have used: those its records name, the home trash, and the
// one that serves each run's source folder.
std::set<fs::path> trashesOf(const std::vector<SessionJournal>& session) {
    std::set<fs::path> trashes{homeTrashFolder()};
    for (const SessionJournal& journal : session) {
        for (const JournalRecord& record : journal.contents.records) {
            if (record.type == RecordType::Trash && isOwnTrashFolder(record.info.parent_path().parent_path()))
                trashes.insert(record.info.parent_path().parent_path());
            if (record.type == RecordType::Start && !record.from.empty()) {
                if (Result<fs::path> trash = trashFolderServing(record.from))
                    trashes.insert(trash.value());
            }
        }
    }
    return trashes;
}

} // namespace

void repairTrashAfterCut(const std::vector<SessionJournal>& session, std::int64_t sessionStart,
                         UncleanEndReport& report) {
    HeldTrashes held;
    std::set<fs::path> recorded;
    for (const SessionJournal& journal : session) {
        if (!journal.startedInSession)
            continue;
        const std::int64_t runStart = journal.contents.records[1].time;
        const std::unordered_set<std::size_t> notDone = linesNotDone(journal.contents);
        const UndoReach reach(journal.contents);
        std::vector<std::size_t> notTrashed;
        for (std::size_t line = 1; line <= journal.contents.records.size(); ++line) {
            const JournalRecord& record = journal.contents.records[line - 1];
            if (record.type != RecordType::Trash)
                continue;
            if (!reach.allows(record)) {
                report.failures.push_back(refusedRecord(journal.file, record));
                continue;
            }
            recorded.insert(record.info);
            const HeldTrash* trash = held.find(record.info.parent_path().parent_path(), report);
            if (trash && repairOne(record, *trash, runStart, report) && !notDone.contains(line))
                notTrashed.push_back(line);
        }
        recordNotTrashed(journal, notTrashed, report);
    }
    // The same two seconds of leeway as for the journals: file times may run a little behind.
    for (const fs::path& folder : trashesOf(session)) {
        const HeldTrash* trash = held.find(folder, report);
        if (!trash)
            continue;
        const auto damaged = damagedPlacesSince(*trash, static_cast<std::time_t>(sessionStart - 2), recorded);
        if (!damaged) {
            report.failures.push_back(damaged.error());
            continue;
        }
        for (const TrashPlace& place : damaged.value())
            report.itemsWithoutInfo.push_back(place.trashedFile);
    }
}

} // namespace corvalin
