#include "history/run_history.h"

#include "history/run_journal.h"
#include "platform/append_file.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Enough for the header, the start and a first action of any run.
constexpr std::size_t kJournalHead = 64 * 1024;

void countAction(const JournalRecord& record, const JournalRecord* previousMove, RunSummary& summary) {
    switch (record.type) {
    case RecordType::Move:
        // A name found taken makes the next attempt a record of its own for the same picture.
        if (!previousMove || previousMove->from != record.from)
            ++summary.picturesMoved;
        if (!summary.firstSerialNo)
            summary.firstSerialNo = static_cast<std::int32_t>(record.number);
        summary.lastSerialNo = static_cast<std::int32_t>(record.number);
        break;
    case RecordType::Rename:
        ++summary.filesRenamed;
        break;
    case RecordType::Trash:
        ++(record.folder ? summary.foldersRemoved : summary.filesTrashed);
        break;
    case RecordType::Delete:
        ++(record.folder ? summary.foldersRemoved : summary.filesDeleted);
        break;
    case RecordType::MakeFolder:
        ++summary.foldersMade;
        break;
    default:
        break;
    }
}

RunState stateOf(const std::optional<std::string>& end, const std::optional<std::string>& undoEnd,
                 bool undoStarted) {
    if (undoStarted)
        return undoEnd == kOutcomeCompleted ? RunState::Undone : RunState::UndoInterrupted;
    return end == kOutcomeCompleted ? RunState::Completed : RunState::Interrupted;
}

RunSummary damagedRun(const JournalName& journal, const Error& error) {
    RunSummary summary;
    summary.id = journal.id;
    summary.file = journal.file;
    const Result<FileIdentity> identity = identityOf(journal.file);
    summary.time = identity ? identity.value().mtimeSeconds : 0;
    summary.state = RunState::Damaged;
    summary.damage = error;
    return summary;
}

// A journal that tells of no run: killed before its start was written, or a run that ended having
// done nothing to any file (and, if it failed, having tried to move none). A run without its end may
// have acted with its records lost to a power cut, and the start after it reads its journal: it
// stays, listed as interrupted.
bool recordsNoRun(const JournalContents& contents, bool wholeFile) {
    const auto& records = contents.records;
    if (records.size() < 2)
        return true;
    const auto end = std::find_if(records.begin(), records.end(),
                                  [](const JournalRecord& r) { return r.type == RecordType::End; });
    if (end == records.end() || !wholeFile)
        return false;
    // A run that failed may have withdrawn its copies from a disk that was gone by then (a stick
    // pulled out): they may still be there, and its undo is what takes them away again.
    const bool failed = end->text == kOutcomeFailed;
    if (failed && std::any_of(records.begin(), records.end(),
                              [](const JournalRecord& r) { return r.type == RecordType::Move; }))
        return false;
    const std::unordered_set<std::size_t> notDone = linesNotDone(contents);
    for (std::size_t line = 1; line <= records.size(); ++line) {
        if (isAction(records[line - 1].type) && !notDone.contains(line))
            return false;
    }
    return true;
}

bool newerFirst(const RunSummary& a, const RunSummary& b) {
    return a.time != b.time ? a.time > b.time : a.id > b.id;
}

} // namespace

Result<std::vector<JournalName>> journalsIn(const fs::path& folder) {
    auto names = listFiles(folder);
    if (!names)
        return names.code() == ENOENT ? Result<std::vector<JournalName>>(std::vector<JournalName>{})
                                      : names.error();
    std::vector<JournalName> journals;
    const std::string extension = kJournalExtension;
    for (const std::string& name : names.value()) {
        if (name.size() > extension.size() && name.ends_with(extension))
            journals.push_back({name.substr(0, name.size() - extension.size()), joinPath(folder, name)});
    }
    return journals;
}

RunSummary summariseRun(const JournalContents& contents) {
    RunSummary summary;
    std::optional<std::string> end;
    std::optional<std::string> undoEnd;
    bool undoStarted = false;
    const JournalRecord* previousMove = nullptr;
    const std::unordered_set<std::size_t> notDone = linesNotDone(contents);
    for (std::size_t line = 1; line <= contents.records.size(); ++line) {
        const JournalRecord& record = contents.records[line - 1];
        if (notDone.contains(line))
            continue; // recorded, then not done: nothing arrived
        countAction(record, previousMove, summary);
        if (record.type == RecordType::Move)
            previousMove = &record;
        if (record.type == RecordType::Start) {
            summary.kind = record.kind;
            summary.time = record.time;
            summary.source = record.from;
            summary.destination = record.to;
        } else if (record.type == RecordType::End) {
            end = record.text;
        } else if (record.type == RecordType::UndoStart) {
            undoStarted = true;
            undoEnd.reset();
        } else if (record.type == RecordType::UndoEnd) {
            undoEnd = record.text;
        }
    }
    summary.state = stateOf(end, undoEnd, undoStarted);
    return summary;
}

Result<std::vector<RunSummary>> listRuns(const fs::path& historyFolder) {
    const auto journals = journalsIn(historyFolder);
    if (!journals)
        return journals.error();
    std::vector<RunSummary> runs;
    for (const JournalName& journal : journals.value()) {
        const bool inUse = isFileInUse(journal.file);
        const Result<JournalContents> contents = readJournal(journal.file);
        if (!contents) {
            runs.push_back(damagedRun(journal, contents.error()));
            continue;
        }
        if (contents.value().records.size() < 2)
            continue; // killed before its start was written: no run
        RunSummary summary = summariseRun(contents.value());
        summary.id = journal.id;
        summary.file = journal.file;
        if (inUse)
            summary.state = RunState::Running;
        runs.push_back(std::move(summary));
    }
    std::sort(runs.begin(), runs.end(), newerFirst);
    return runs;
}

fs::path journalFileOf(const fs::path& historyFolder, const std::string& id) {
    return joinPath(historyFolder, id + kJournalExtension);
}

Status pruneHistory(const fs::path& historyFolder, std::int64_t now) {
    const auto journals = journalsIn(historyFolder);
    if (!journals)
        return journals.error();
    std::vector<RunSummary> runs; // only the id, file and time are used here
    for (const JournalName& journal : journals.value()) {
        if (isFileInUse(journal.file))
            continue;
        const Result<std::string> head = readFileStart(journal.file, kJournalHead);
        if (!head)
            continue;
        const Result<JournalContents> contents = parseJournal(head.value(), journal.file);
        if (!contents) {
            runs.push_back(damagedRun(journal, contents.error()));
            continue;
        }
        const bool wholeFile = head.value().size() < kJournalHead;
        if (recordsNoRun(contents.value(), wholeFile)) {
            if (Status removed = removeFile(journal.file); !removed)
                return removed;
            continue;
        }
        RunSummary run;
        run.id = journal.id;
        run.file = journal.file;
        run.time = contents.value().records[1].time;
        runs.push_back(std::move(run));
    }
    std::sort(runs.begin(), runs.end(), newerFirst);
    const std::int64_t oldest = now - kKeptDays * 24 * 60 * 60;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i < kKeptRuns && runs[i].time >= oldest)
            continue;
        if (Status removed = removeFile(runs[i].file); !removed && removed.code() != ENOENT)
            return removed;
    }
    return {};
}

} // namespace corvalin
