// The moves across file systems that a cut left half done, finished or undone at the next start.
// What finishing names for good is recorded in a journal first (the interrupted run's, or one of
// the recovery's own), so that undo can put back every picture: a cut can lose the run's own
// records of its last copies while their names and sources are already on the disk.
#include "history/run_journal.h"
#include "history/serial_after_cut.h"
#include "history/unclean_end.h"
#include "naming/serial_name.h"
#include "platform/absent_name.h"
#include "platform/file_ops.h"
#include "platform/interrupted_moves.h"
#include "platform/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

bool hasUndo(const JournalContents& contents) {
    return std::any_of(contents.records.begin(), contents.records.end(),
                       [](const JournalRecord& r) { return r.type == RecordType::UndoStart; });
}

// Where the session's copies leave their hidden files: the destinations of its move runs, and for
// an undo the folders the pictures went back to.
std::vector<fs::path> foldersOf(const std::vector<SessionJournal>& session) {
    std::set<fs::path> folders;
    for (const SessionJournal& journal : session) {
        const bool undone = hasUndo(journal.contents);
        for (const JournalRecord& r : journal.contents.records) {
            if (r.type == RecordType::Start && r.kind == RunKind::Move && !r.to.empty())
                folders.insert(r.to);
            if (r.type != RecordType::Move)
                continue;
            folders.insert(r.to.parent_path());
            if (undone)
                folders.insert(r.from.parent_path());
        }
    }
    return {folders.begin(), folders.end()};
}

// A journal records the move, or the undo of one that it finishes.
bool isRecorded(const std::vector<SessionJournal>& session, const InterruptedMove& move) {
    for (const SessionJournal& journal : session) {
        for (const JournalRecord& r : journal.contents.records) {
            if (r.type == RecordType::Move && ((r.from == move.source && r.to == move.final) ||
                                               (r.from == move.final && r.to == move.source)))
                return true;
        }
    }
    return false;
}

bool movesInto(const JournalContents& contents, const fs::path& folder) {
    return std::any_of(contents.records.begin(), contents.records.end(), [&](const JournalRecord& r) {
        return (r.type == RecordType::Start && r.kind == RunKind::Move && r.to == folder) ||
               (r.type == RecordType::Move && r.to.parent_path() == folder);
    });
}

// The newest move run of the session into `folder`.
const SessionJournal* runInto(const std::vector<SessionJournal>& session, const fs::path& folder) {
    for (auto it = session.rbegin(); it != session.rend(); ++it) {
        if (it->startedInSession && movesInto(it->contents, folder))
            return &*it;
    }
    return nullptr;
}

Status appendAll(RunJournal& journal, const std::vector<JournalRecord>& records) {
    for (const JournalRecord& record : records) {
        if (Status appended = journal.append(record); !appended)
            return appended;
    }
    return {};
}

// After the run's own records, while the run has no end yet; else in a journal of their own, as
// a move run into the folder from the run's source.
Status recordFinished(const fs::path& historyFolder, const SessionJournal* run, const fs::path& folder,
                      const std::vector<JournalRecord>& records) {
    const auto& runRecords = run ? run->contents.records : std::vector<JournalRecord>{};
    const bool runGoesOn =
        run && std::none_of(runRecords.begin(), runRecords.end(), [](const JournalRecord& r) {
            return r.type == RecordType::End || r.type == RecordType::UndoStart;
        });
    if (runGoesOn) {
        JournalContents contents;
        if (Result<RunJournal> reopened = RunJournal::reopen(run->file, contents)) {
            Status appended = appendAll(reopened.value(), records);
            const Status closed = reopened.value().close();
            return appended ? closed : appended;
        }
    }
    RunStart start;
    start.serialNo = static_cast<std::int32_t>(records.front().number);
    start.source = run ? runRecords[1].from : records.front().from.parent_path();
    start.destination = folder;
    Result<RunJournal> own = RunJournal::create(historyFolder, start);
    if (!own)
        return own.error();
    if (Status appended = appendAll(own.value(), records); !appended) {
        (void)own.value().close();
        return appended;
    }
    return own.value().finish(kOutcomeCompleted);
}

// Settles every interrupted move of the folder, then waits once for the folders it changed.
void settleAll(const HeldFolder& folder, const std::vector<InterruptedMove>& moves,
               UncleanEndReport& report) {
    std::set<std::string> changed{folder.path().native()};
    for (const InterruptedMove& move : moves) {
        if (Status settled = settleInterruptedMove(folder, move); !settled) {
            report.failures.push_back(settled.error());
            continue;
        }
        // Both files stay; the user hears of the copy, whose source is named beside it.
        if (!move.kept.empty())
            report.failures.push_back(Error{"中断された移動の後始末", move.final, 0, move.kept});
        if (move.finishes) {
            ++report.movesFinished;
            changed.insert(folderOf(move.source.native()));
        }
    }
    for (const std::string& changedFolder : changed) {
        if (const int error = syncFolder(changedFolder))
            report.failures.push_back(errorFromErrno("中断された移動の後始末", changedFolder, error));
    }
}

} // namespace

JournalRecord recordOfFinishedMove(const InterruptedMove& move) {
    const std::optional<std::int32_t> number = serialNumberOf(move.final.filename().native());
    JournalRecord record(number ? RecordType::Move : RecordType::Rename);
    record.number = number.value_or(0);
    record.from = move.source;
    record.to = move.final;
    // The copy, as undo will find it: the source is about to go.
    record.identity = move.copyIdentity;
    return record;
}

Status recordMovesFinished(RunJournal& journal, const std::vector<InterruptedMove>& moves) {
    bool any = false;
    for (const InterruptedMove& move : moves) {
        if (!move.finishes || move.final.empty())
            continue;
        if (Status appended = journal.append(recordOfFinishedMove(move)); !appended)
            return appended;
        any = true;
    }
    return any ? journal.flushRecords() : Status();
}

void finishMovesAfterCut(const fs::path& historyFolder, const std::vector<SessionJournal>& session,
                         UncleanEndReport& report) {
    for (const fs::path& folder : foldersOf(session)) {
        // Opened once by the path its journal gives; its hidden files are reached by name there.
        const Result<HeldFolder> held = HeldFolder::open(folder);
        if (!held && lookupMeansAbsent(held.code()))
            continue; // a card taken out: the run that next moves there finishes them
        if (!held) {
            report.failures.push_back(held.error());
            continue;
        }
        const Result<std::vector<InterruptedMove>> moves = findInterruptedMoves(held.value());
        if (!moves) {
            report.failures.push_back(moves.error());
            continue;
        }
        if (moves.value().empty())
            continue;
        std::vector<JournalRecord> records;
        for (const InterruptedMove& move : moves.value()) {
            if (move.finishes && !move.final.empty() && !isRecorded(session, move))
                records.push_back(recordOfFinishedMove(move));
        }
        // Recorded first, so that a second cut cannot finish a move no journal holds; a journal
        // that cannot be written is said, and the copies are settled all the same: a picture must
        // not stay under two names.
        if (!records.empty()) {
            if (Status recorded = recordFinished(historyFolder, runInto(session, folder), folder, records);
                !recorded)
                report.failures.push_back(recorded.error());
        }
        settleAll(held.value(), moves.value(), report);
    }
}

} // namespace corvalin
