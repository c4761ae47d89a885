#include "history/journal_reader.h"

#include "history/journal_codec.h"
#include "platform/file_ops.h"

#include <algorithm>
#include <string>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// A long run writes a few hundred bytes a picture; this leaves room for a million pictures.
constexpr std::size_t kLargestJournal = std::size_t(1) << 30;

// Where in a journal a record may stand: the run's records, then its end, then undo passes.
enum class Phase { Header, Start, Run, Ended, Undo };

bool namesAction(const JournalRecord& record, const std::vector<JournalRecord>& before) {
    return record.number > 0 && static_cast<std::size_t>(record.number) <= before.size() &&
           isAction(before[static_cast<std::size_t>(record.number) - 1].type);
}

// True when `record` may follow `before`; advances the phase. An undo step and a withdrawal name
// the line of an action of the run.
bool fitsOrder(const JournalRecord& record, const std::vector<JournalRecord>& before, Phase& phase) {
    switch (record.type) {
    case RecordType::Header:
        return phase == Phase::Header && (phase = Phase::Start, true);
    case RecordType::Start:
        return phase == Phase::Start && (phase = Phase::Run, true);
    case RecordType::End:
        return phase == Phase::Run && (phase = Phase::Ended, true);
    case RecordType::UndoStart:
        return phase >= Phase::Run && (phase = Phase::Undo, true);
    case RecordType::UndoStep:
        return phase == Phase::Undo && namesAction(record, before);
    case RecordType::UndoEnd:
        return phase == Phase::Undo && (phase = Phase::Ended, true);
    case RecordType::NotDone:
        // Also after the end: the start after a cut may learn that a recorded action never landed.
        return (phase == Phase::Run || phase == Phase::Ended) && namesAction(record, before);
    default:
        return phase == Phase::Run;
    }
}

Error damaged(const fs::path& file, std::size_t line) {
    return Error{"履歴の記録の読み取り", file, 0, std::to_string(line) + "行目が壊れています。"};
}

// Reads the whole lines from `at` on, line by line, while each reads and fits the order; `at` and
// `line` end on the first line that does not (returned), or at the end of the whole lines (0).
std::size_t readRecords(std::string_view bytes, std::size_t& at, std::size_t& line, Phase& phase,
                        JournalContents& contents) {
    for (;; ++line) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos)
            return 0;
        const auto fields = decodeRecordLine(bytes.substr(at, end - at));
        const auto record = fields ? recordFromFields(*fields) : std::nullopt;
        if (!record || !fitsOrder(*record, contents.records, phase))
            return line;
        contents.records.push_back(*record);
        at = end + 1;
    }
}

// The whole records from the start; `damagedLine` is the first whole line that does not read or
// stands out of order (0 when none does).
JournalContents wholeRecords(std::string_view bytes, std::size_t& damagedLine) {
    JournalContents contents;
    Phase phase = Phase::Header;
    std::size_t at = 0;
    std::size_t line = 1;
    damagedLine = readRecords(bytes, at, line, phase, contents);
    contents.wholeBytes = at;
    contents.cutShort = at < bytes.size();
    return contents;
}

// After a damaged line: an undo of the records before it appended its own behind the damage,
// starting with an undo start; they are read from there on.
void readUndoAfterDamage(std::string_view bytes, std::size_t at, std::size_t line,
                         JournalContents& contents) {
    Phase phase = Phase::Run;
    for (std::size_t end; (end = bytes.find('\n', at)) != std::string_view::npos; at = end + 1, ++line) {
        const auto fields = decodeRecordLine(bytes.substr(at, end - at));
        const auto record = fields ? recordFromFields(*fields) : std::nullopt;
        if (record && record->type == RecordType::UndoStart) {
            readRecords(bytes, at, line, phase, contents);
            contents.wholeBytes = at;
            return;
        }
    }
}

} // namespace

bool isAction(RecordType type) {
    return type == RecordType::Move || type == RecordType::Rename || type == RecordType::Trash ||
           type == RecordType::Delete || type == RecordType::MakeFolder;
}

std::unordered_set<std::size_t> linesNotDone(const JournalContents& contents) {
    std::unordered_set<std::size_t> lines;
    for (const JournalRecord& record : contents.records) {
        if (record.type == RecordType::NotDone)
            lines.insert(static_cast<std::size_t>(record.number));
    }
    return lines;
}

Result<JournalContents> parseJournal(std::string_view bytes, const fs::path& file) {
    std::size_t damagedLine = 0;
    JournalContents contents = wholeRecords(bytes, damagedLine);
    if (damagedLine != 0)
        return damaged(file, damagedLine);
    return contents;
}

Result<JournalContents> parseReadableJournal(std::string_view bytes, const fs::path& file) {
    std::size_t damagedLine = 0;
    JournalContents contents = wholeRecords(bytes, damagedLine);
    if (damagedLine == 0)
        return contents;
    if (contents.records.size() < 2)
        return damaged(file, damagedLine);
    contents.damagedLine = damagedLine;
    readUndoAfterDamage(bytes, contents.wholeBytes, damagedLine, contents);
    contents.cutShort = !bytes.empty() && bytes.back() != '\n';
    return contents;
}

namespace {

// Whether the last whole record lies in an undo pass that has not ended.
bool withinUndoPass(const JournalContents& contents) {
    for (auto record = contents.records.rbegin(); record != contents.records.rend(); ++record) {
        if (record->type == RecordType::UndoEnd)
            return false;
        if (record->type == RecordType::UndoStart)
            return true;
    }
    return false;
}

} // namespace

std::optional<std::size_t> lastLineRead(const JournalContents& contents) {
    if (contents.damagedLine != 0)
        return contents.damagedLine - 1;
    // A record cut within an undo pass is what a kill or a power cut of that undo leaves: only its
    // own step went unrecorded, and the next undo checks every record again.
    if (contents.cutShort && !withinUndoPass(contents))
        return contents.records.size();
    return std::nullopt;
}

JournalContents parseJournalPrefix(std::string_view bytes) {
    std::size_t damagedLine = 0;
    return wholeRecords(bytes, damagedLine);
}

Result<JournalContents> readJournal(const fs::path& file) {
    const Result<std::string> bytes = readWholeFile(file, kLargestJournal);
    if (!bytes)
        return Error{"履歴の記録の読み取り", file, bytes.error().code, {}};
    return parseReadableJournal(bytes.value(), file);
}

} // namespace corvalin
