#include "history/unclean_end.h"

#include "app/error_text.h"
#include "history/run_history.h"
#include "history/run_journal.h"
#include "history/serial_after_cut.h"
#include "platform/append_file.h"
#include "platform/file_ops.h"
#include "platform/name_text.h"

#include <algorithm>
#include <cstdio>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// A journal's file time and a run's start are seconds that may run a little behind the clock that
// stamped the settings file.
constexpr std::int64_t kLeeway = 2;

constexpr std::size_t kLargestJournal = std::size_t(1) << 30;
constexpr std::size_t kJournalHead = 64 * 1024;

std::optional<SessionJournal> readSessionJournal(const fs::path& file, std::size_t limit,
                                                 std::optional<Error>& error) {
    const Result<std::string> bytes =
        limit == kLargestJournal ? readWholeFile(file, limit) : readFileStart(file, limit);
    if (!bytes) {
        error = bytes.error();
        return std::nullopt;
    }
    SessionJournal journal{file, parseJournalPrefix(bytes.value())};
    const auto& records = journal.contents.records;
    if (records.size() < 2 || records[1].type != RecordType::Start)
        return std::nullopt; // killed before its start was written: no run
    return journal;
}

bool startedEarlier(const SessionJournal& a, const SessionJournal& b) {
    const std::int64_t ta = a.contents.records[1].time;
    const std::int64_t tb = b.contents.records[1].time;
    return ta != tb ? ta < tb : a.file < b.file;
}

bool isMoveRun(const SessionJournal& journal) {
    return journal.contents.records[1].kind == RunKind::Move;
}

} // namespace

std::vector<SessionJournal> journalsOfSession(const fs::path& historyFolder, std::int64_t sessionStart,
                                              UncleanEndReport& report) {
    std::vector<SessionJournal> session;
    const auto journals = journalsIn(historyFolder);
    if (!journals) {
        report.failures.push_back(journals.error());
        return session;
    }
    for (const JournalName& name : journals.value()) {
        const Result<FileIdentity> identity = identityOf(name.file);
        if (!identity || identity.value().mtimeSeconds + kLeeway < sessionStart || isFileInUse(name.file))
            continue;
        std::optional<Error> error;
        std::optional<SessionJournal> journal = readSessionJournal(name.file, kLargestJournal, error);
        if (error)
            report.failures.push_back(*error);
        if (!journal)
            continue;
        journal->startedInSession = journal->contents.records[1].time + kLeeway >= sessionStart;
        session.push_back(std::move(*journal));
    }
    std::sort(session.begin(), session.end(), startedEarlier);
    return session;
}

std::optional<SessionJournal> newestMoveJournal(const fs::path& historyFolder) {
    const auto journals = journalsIn(historyFolder);
    if (!journals)
        return std::nullopt;
    std::optional<SessionJournal> newest;
    for (const JournalName& name : journals.value()) {
        std::optional<Error> ignored;
        std::optional<SessionJournal> head = readSessionJournal(name.file, kJournalHead, ignored);
        if (head && isMoveRun(*head) && (!newest || startedEarlier(*newest, *head)))
            newest = std::move(head);
    }
    if (!newest)
        return std::nullopt;
    std::optional<Error> ignored;
    return readSessionJournal(newest->file, kLargestJournal, ignored);
}

void trimCutTails(const std::vector<SessionJournal>& session, UncleanEndReport& report) {
    for (const SessionJournal& journal : session) {
        if (!journal.contents.cutShort)
            continue;
        JournalContents contents;
        Result<RunJournal> reopened = RunJournal::reopen(journal.file, contents);
        if (!reopened) {
            if (reopened.error().code != 0) // a damaged record is not a failure of the start
                report.failures.push_back(reopened.error());
            continue;
        }
        if (Status closed = reopened.value().close(); !closed)
            report.failures.push_back(closed.error());
    }
}

const SessionJournal* lastMoveRunOf(const std::vector<SessionJournal>& session) {
    for (auto it = session.rbegin(); it != session.rend(); ++it) {
        if (it->startedInSession && isMoveRun(*it))
            return &*it;
    }
    return nullptr;
}

std::optional<std::int32_t> serialNoAfterUncleanEnd(const SessionJournal* lastMoveRun,
                                                    std::optional<std::int32_t> counterPlusOne,
                                                    UncleanEndReport& report) {
    const std::optional<NumbersGiven> given =
        lastMoveRun ? numbersGivenBy(lastMoveRun->contents) : std::nullopt;
    if (!given)
        return counterPlusOne;
    // The destination's names are the last word: a cut may have lost the journal's last records.
    const Result<HeldNumbers> held = heldNumbersIn(given->lastFolder);
    if (!held)
        report.failures.push_back(held.error());
    return serialNoAfterCut(counterPlusOne, *given, held ? held.value() : HeldNumbers());
}

std::string describeUncleanEnd(const UncleanEndReport& report) {
    if (!report.worthTelling())
        return {};
    std::string text = "前回は正しく終了しませんでした（電源が切れたか、強制終了されました）。";
    if (report.restoredCounter) {
        char number[16];
        std::snprintf(number, sizeof number, "%06d", static_cast<int>(*report.restoredCounter));
        text +=
            "\n\n通し番号のファイルが途中で切れていたため、履歴の記録と保存先のファイル名から通し番号を " +
            std::string(number) + " に戻しました: " + legibleName(report.counterFile.native());
    }
    if (!report.itemsWithoutInfo.empty()) {
        text += "\n\nごみ箱の情報ファイルが途中で切れていて、履歴の記録にもないため、元の場所が分からない項目"
                "があります。"
                "ファイルマネージャーからは戻せないので、次の場所から手で取り出して下さい:";
        for (const fs::path& item : report.itemsWithoutInfo)
            text += "\n" + legibleName(item.native());
    }
    if (!report.failures.empty()) {
        text += "\n\n後始末のうち、次のことができませんでした:";
        for (const Error& error : report.failures)
            text += "\n" + describeErrorLine(error);
    }
    return text;
}

} // namespace corvalin
