#include "history/run_journal.h"

#include "app/error_text.h"
#include "history/journal_codec.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <cerrno>
#include <ctime>
#include <string_view>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kJournalText = "履歴の記録";

// Any journal this program can read; a bigger one is damaged.
constexpr std::size_t kLargestJournal = std::size_t(1) << 30;

bool isMeant(const fs::path& path) {
    return path.empty() || path.native().front() == '/';
}

// Paths as they were meant when the record was made: one typed relative to the working folder
// (the maker's parent folder can be typed so) would mean something else to a later undo.
fs::path asMeant(const fs::path& path) {
    return isMeant(path) ? path : joinPath(workingFolder(), path);
}

// Copied only to make a relative path absolute: a path's copy copies each of its components, and a
// run writes a line for every picture.
std::string lineOf(const JournalRecord& record) {
    if (isMeant(record.from) && isMeant(record.to) && isMeant(record.info))
        return encodeRecordLine(fieldsOf(record));
    JournalRecord meant = record;
    for (fs::path* path : {&meant.from, &meant.to, &meant.info})
        *path = asMeant(*path);
    return encodeRecordLine(fieldsOf(meant));
}

// The failure of a journal operation, told as the journal's: the file and the system's reason.
Error journalError(const Status& failed, const fs::path& where) {
    return errorFromErrno(kJournalText, where, failed.code());
}

// The history folder, made when missing, then held: the journal is made in that very folder and
// flushed through it, never through a link swapped in for it meanwhile.
Result<HeldFolder> holdHistoryFolder(const fs::path& historyFolder) {
    if (Status made = createFolderWithParents(historyFolder, 0700); !made)
        return journalError(made, made.error().path);
    const fs::path folder = withoutTrailingSlash(historyFolder);
    const Result<HeldFolder> parent = HeldFolder::open(folder.has_parent_path() ? folder.parent_path() : ".");
    Result<HeldFolder> held = parent ? parent.value().childOnAnyMount(ownName(folder)) : parent.error();
    if (!held)
        return journalError(held.status(), folder);
    return held;
}

Result<AppendFile> createUniqueFile(const HeldFolder& folder, std::int64_t time) {
    for (int attempt = 1;; ++attempt) {
        Result<AppendFile> file = AppendFile::createNew(folder, journalFileName(time, attempt));
        if (file.code() != EEXIST || attempt == 100)
            return file;
    }
}

} // namespace

std::string journalFileName(std::int64_t time, int attempt) {
    const std::time_t seconds = static_cast<std::time_t>(time);
    std::tm local{};
    char stamp[32] = "00000000-000000";
    if (::localtime_r(&seconds, &local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = stamp;
    if (attempt > 1)
        name += "-" + std::to_string(attempt);
    return name + kJournalExtension;
}

std::string describeNoJournal(const Error& error) {
    return describeError(error) + "\n\n" + kNoJournalText;
}

RunJournal::RunJournal(AppendFile file, std::size_t lines, std::size_t bytes)
    : m_file(std::move(file)), m_lines(lines), m_bytes(bytes), m_lastFlush(std::chrono::steady_clock::now()) {
    m_device = m_file.device();
}

Result<RunJournal> RunJournal::create(const fs::path& historyFolder, const RunStart& givenStart) {
    RunStart start = givenStart;
    if (start.time == 0)
        start.time = std::time(nullptr);
    Result<HeldFolder> folder = holdHistoryFolder(historyFolder);
    if (!folder)
        return folder.error();
    Result<AppendFile> file = createUniqueFile(folder.value(), start.time);
    if (!file)
        return journalError(file.status(), historyFolder);
    JournalRecord header;
    JournalRecord startRecord(RecordType::Start);
    startRecord.kind = start.kind;
    startRecord.time = start.time;
    startRecord.number = start.serialNo;
    startRecord.from = start.source;
    startRecord.to = start.destination;
    startRecord.text = start.options;
    // Both in one write, so that a kill leaves a journal with its start or an empty one.
    const std::string firstLines = lineOf(header) + lineOf(startRecord);
    // On the disk, name and all, before the run touches a file: a power cut then leaves a journal
    // whose start says which numbers the run may have given.
    Status written = file.value().append(firstLines);
    if (written)
        written = file.value().sync();
    if (written)
        written = folder.value().flush();
    if (!written) {
        const std::string name = ownName(file.value().path());
        (void)file.value().close();
        (void)folder.value().removeFile(name);
        return journalError(written, historyFolder);
    }
    RunJournal journal(std::move(file.value()), 2, firstLines.size());
    journal.m_folder = std::move(folder.value());
    return journal;
}

Result<RunJournal> RunJournal::reopen(const fs::path& file, JournalContents& contents) {
    Result<AppendFile> opened = AppendFile::openExisting(file);
    if (!opened)
        return journalError(opened.status(), file);
    Result<std::string> bytes = opened.value().readAll(kLargestJournal);
    if (!bytes)
        return journalError(bytes.status(), file);
    Result<JournalContents> parsed = parseJournal(bytes.value(), file);
    if (!parsed)
        return parsed.error();
    contents = std::move(parsed.value());
    if (contents.cutShort) {
        if (Status cut = opened.value().truncate(contents.wholeBytes); !cut)
            return journalError(cut, file);
    }
    return RunJournal(std::move(opened.value()), contents.records.size(), contents.wholeBytes);
}

Status RunJournal::recordMove(std::int32_t serialNo, fs::path from, fs::path to,
                              const FileIdentity& identity) {
    JournalRecord record(RecordType::Move);
    record.number = serialNo;
    record.from = std::move(from);
    record.to = std::move(to);
    record.identity = identity;
    return append(record);
}

Status RunJournal::recordDelete(const fs::path& item, bool folder, const fs::path& twin) {
    JournalRecord record(RecordType::Delete);
    record.from = item;
    record.folder = folder;
    record.twin = twin;
    return append(record);
}

Status RunJournal::recordRemoval(const RemovalStep& step, const fs::path& twin) {
    if (!step.place)
        return recordDelete(step.item, step.folder, twin);
    JournalRecord record(RecordType::Trash);
    record.from = step.item;
    record.to = step.place->trashedFile;
    record.info = step.place->infoFile;
    record.folder = step.folder;
    record.identity = step.identity;
    record.twin = twin;
    return append(record);
}

Status RunJournal::recordFolderMade(const fs::path& folder) {
    JournalRecord record(RecordType::MakeFolder);
    record.from = folder;
    return append(record);
}

Status RunJournal::append(const JournalRecord& record) {
    const std::string line = lineOf(record);
    if (Status written = m_file.append(line); !written)
        return journalError(written, m_file.path());
    m_last = LastRecord{m_lines + 1, m_bytes, isAction(record.type), record.type == RecordType::Move};
    m_moves += m_last->move ? 1 : 0;
    m_bytes += line.size();
    ++m_lines;
    m_actions += m_last->action ? 1 : 0;
    m_unsynced = true;
    return {};
}

Status RunJournal::recordNotDone(std::size_t line) {
    if (m_last && m_last->line == line)
        return takeBackLast();
    JournalRecord record(RecordType::NotDone);
    record.number = static_cast<std::int64_t>(line);
    if (Status written = append(record); !written)
        return written;
    m_actions -= m_actions > 0 ? 1 : 0;
    return {};
}

Status RunJournal::takeBackLast() {
    if (!m_last)
        return {};
    if (Status cut = m_file.truncate(m_last->start); !cut)
        return journalError(cut, m_file.path());
    m_bytes = m_last->start;
    --m_lines;
    m_actions -= m_last->action ? 1 : 0;
    m_moves -= m_last->move ? 1 : 0;
    m_last.reset();
    m_unsynced = true;
    return {};
}

Removal RunJournal::recordingRemoval(const Removal& removal, const fs::path* twin) {
    Removal recording = removal.waiting().withHook([this, twin](RemovalStep& step) {
        step.record = nextLine();
        return recordRemoval(step, twin ? *twin : fs::path());
    });
    m_waiting = recording.waitingItems();
    return recording;
}

// The records first where the info files lie elsewhere, so that an info file on the disk always
// has its record there too; one syncfs does both where they share a file system.
Status RunJournal::flush() {
    const bool waiting = m_waiting && !m_waiting->empty();
    if (!m_unsynced && !waiting)
        return {};
    Status synced;
    if (m_unsynced && !(waiting && m_waiting->flushesWhole(m_device)))
        synced = syncRecords();
    if (synced && waiting)
        synced = m_waiting->makeDurable();
    if (!synced) {
        // Not known to be on the disk: nothing goes to the Trash on the strength of it.
        if (waiting)
            m_waiting->releaseAll([this](const WaitingItem& item) { (void)recordNotDone(item.record); });
        return synced;
    }
    m_unsynced = false;
    m_lastFlush = std::chrono::steady_clock::now();
    return waiting ? moveWaitingItems() : Status();
}

Status RunJournal::syncRecords() {
    if (Status synced = m_file.sync(); !synced)
        return journalError(synced, m_file.path());
    return {};
}

Status RunJournal::flushRecords() {
    if (!m_unsynced)
        return {};
    if (Status synced = syncRecords(); !synced)
        return synced;
    m_unsynced = false;
    return {};
}

// A record saying so for each item that could not go; the run goes on to tell the failure.
Status RunJournal::moveWaitingItems() {
    Status recorded;
    Status moved = m_waiting->moveAll([&](const WaitingItem& item) {
        if (Status notDone = recordNotDone(item.record); !notDone && recorded)
            recorded = notDone;
    });
    return moved ? recorded : moved;
}

Status RunJournal::flushIfDue() {
    if (std::chrono::steady_clock::now() - m_lastFlush < std::chrono::seconds(1))
        return {};
    return flush();
}

Status RunJournal::settle() {
    return m_waiting && !m_waiting->empty() ? flush() : Status();
}

Status RunJournal::finish(const char* outcome) {
    const Status settled = settle();
    // A failed run's copies may have stayed on a disk that was gone when it withdrew them (a stick
    // pulled out): its journal stays, for the undo that takes them away.
    const bool copiesMayStay = m_moves > 0 && std::string_view(outcome) == kOutcomeFailed;
    if (!m_actions && !copiesMayStay) {
        const fs::path path = m_file.path();
        (void)m_file.close();
        const Status removed = m_folder.valid() ? m_folder.removeFile(ownName(path)) : removeFile(path);
        return settled ? removed : settled;
    }
    JournalRecord end(RecordType::End);
    end.text = outcome;
    if (Status ended = append(end); !ended) {
        (void)m_file.close();
        return ended;
    }
    const Status closed = close();
    return settled ? closed : settled;
}

Status RunJournal::close() {
    Status done = flush();
    if (Status closed = m_file.close(); done && !closed)
        done = journalError(closed, m_file.path());
    return done;
}

} // namespace corvalin
