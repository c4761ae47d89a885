#include "history/undo_log.h"

#include "history/journal_codec.h"
#include "history/run_journal.h"
#include "platform/append_file.h"

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kJournalText = "履歴の記録";

// Any journal this program can read; a bigger one is damaged.
constexpr std::size_t kLargestJournal = std::size_t(1) << 30;

class WholeJournalLog : public UndoLog {
public:
    explicit WholeJournalLog(RunJournal journal) : m_journal(std::move(journal)) {}
    Status append(const JournalRecord& record) override { return m_journal.append(record); }
    Status flush() override { return m_journal.flush(); }
    Status close() override { return m_journal.close(); }

private:
    RunJournal m_journal;
};

// Behind a damaged record: nothing of the journal is cut away, so that what follows the damage
// stays for whoever looks at it.
class DamagedJournalLog : public UndoLog {
public:
    explicit DamagedJournalLog(AppendFile file) : m_file(std::move(file)) {}
    Status append(const JournalRecord& record) override {
        if (Status written = m_file.append(encodeRecordLine(fieldsOf(record))); !written)
            return errorFromErrno(kJournalText, m_file.path(), written.code());
        return {};
    }
    Status flush() override {
        Status done = m_file.sync();
        return done ? done : errorFromErrno(kJournalText, m_file.path(), done.code());
    }
    Status close() override {
        Status done = m_file.sync();
        if (Status closed = m_file.close(); done && !closed)
            done = closed;
        return done ? Status() : errorFromErrno(kJournalText, m_file.path(), done.code());
    }

private:
    AppendFile m_file;
};

} // namespace

Result<std::unique_ptr<UndoLog>> openUndoLog(const fs::path& journalFile, JournalContents& contents) {
    Result<AppendFile> opened = AppendFile::openExisting(journalFile);
    if (!opened)
        return errorFromErrno(kJournalText, journalFile, opened.code());
    Result<std::string> bytes = opened.value().readAll(kLargestJournal);
    if (!bytes)
        return errorFromErrno(kJournalText, journalFile, bytes.code());
    Result<JournalContents> readable = parseReadableJournal(bytes.value(), journalFile);
    if (!readable)
        return readable.error();
    if (readable.value().damagedLine == 0) {
        // A whole journal, or one whose last record a kill cut short, is reopened as a run's is.
        if (Status closed = opened.value().close(); !closed)
            return errorFromErrno(kJournalText, journalFile, closed.code());
        Result<RunJournal> journal = RunJournal::reopen(journalFile, contents);
        if (!journal)
            return journal.error();
        return std::unique_ptr<UndoLog>(std::make_unique<WholeJournalLog>(std::move(journal.value())));
    }
    contents = std::move(readable.value());
    // A cut line after the damage is ended, so that the undo's first record starts a line of its own.
    if (contents.cutShort) {
        if (Status ended = opened.value().append("\n"); !ended)
            return errorFromErrno(kJournalText, journalFile, ended.code());
    }
    return std::unique_ptr<UndoLog>(std::make_unique<DamagedJournalLog>(std::move(opened.value())));
}

} // namespace corvalin
