// Trash info files that a cut left empty or cut short, written again at the next start from what
// the session's journals recorded: the item's original path, and the time it went in. The file
// manager cannot show or put back an item without one.
#include "history/unclean_end.h"
#include "platform/file_ops.h"
#include "platform/trash.h"
#include "platform/trash_repair.h"

#include <set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// An info file whose item is still in the trash is written again; one whose item never arrived
// (the cut came before the rename) describes nothing and goes.
void repairOne(const JournalRecord& record, std::int64_t runStart, UncleanEndReport& report) {
    if (infoFileState(record.info) != InfoFileState::Damaged)
        return;
    const TrashPlace place{record.from, record.to, record.info};
    if (lookupEntry(record.to) == EntryKind::None) {
        if (Status released = releaseTrashPlace(place); !released)
            report.failures.push_back(released.error());
        return;
    }
    const std::time_t when = timeTrashed(record.to).value_or(static_cast<std::time_t>(runStart));
    if (Status rewritten = rewriteTrashInfo(place, when); !rewritten) {
        report.failures.push_back(rewritten.error());
        return;
    }
    ++report.infoFilesRewritten;
}

// The trashes the session's runs may have used: those its records name, the home trash, and the
// one that serves each run's source folder.
std::set<fs::path> trashesOf(const std::vector<SessionJournal>& session) {
    std::set<fs::path> trashes{homeTrashFolder()};
    for (const SessionJournal& journal : session) {
        for (const JournalRecord& record : journal.contents.records) {
            if (record.type == RecordType::Trash)
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
    std::set<fs::path> recorded;
    for (const SessionJournal& journal : session) {
        if (!journal.startedInSession)
            continue;
        const std::int64_t runStart = journal.contents.records[1].time;
        for (const JournalRecord& record : journal.contents.records) {
            if (record.type != RecordType::Trash)
                continue;
            recorded.insert(record.info);
            repairOne(record, runStart, report);
        }
    }
    // The same two seconds of leeway as for the journals: file times may run a little behind.
    for (const fs::path& trash : trashesOf(session)) {
        const auto damaged = damagedPlacesSince(trash, static_cast<std::time_t>(sessionStart - 2), recorded);
        if (!damaged) {
            report.failures.push_back(damaged.error());
            continue;
        }
        for (const TrashPlace& place : damaged.value())
            report.itemsWithoutInfo.push_back(place.trashedFile);
    }
}

} // namespace corvalin
