#include "app/startup.h"

#include "app/settings_codec.h"
#include "history/run_history.h"
#include "platform/file_identity.h"
#include "platform/file_ops.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

namespace corvalin {

namespace {

constexpr std::int32_t kHighestSerialNo = 999999;

// How reading one of the two files ended.
enum class LoadResult {
    Done,     // read, or absent and defaulted
    CutShort, // the file ended before its fields were read
    Failed,   // unreadable, a field of the wrong kind or out of range
};

LoadResult toLoadResult(ReadError error) {
    switch (error) {
    case ReadError::None:
        return LoadResult::Done;
    case ReadError::EndOfFile:
        return LoadResult::CutShort;
    default:
        return LoadResult::Failed;
    }
}

// Anything under the name counts as present, so that a folder or an unreadable file in its place
// stops the start-up instead of being silently replaced by the defaults.
bool isPresent(const std::filesystem::path& file) {
    return lookupEntry(file) != EntryKind::None;
}

// Each variable is assigned as soon as its field is read, so a failure at one field leaves the
// earlier ones set.
ReadError readSettingsFields(std::string_view bytes, Module1& vars) {
    FieldReader reader(bytes);
    std::string text;
    if (const ReadError error = reader.readText(text); error != ReadError::None)
        return error;
    vars.SourcePath = text;
    if (const ReadError error = reader.readText(text); error != ReadError::None)
        return error;
    vars.DestPath = text;
    if (const ReadError error = reader.readText(text); error != ReadError::None)
        return error;
    vars.MakerPath = text;
    if (const ReadError error = reader.readInt16(vars.RunFlag); error != ReadError::None)
        return error;
    return reader.readOption(vars.OptFlags[0]);
}

// Why a file that stops the start-up could not be read.
Error unreadable(const std::filesystem::path& file, ReadError error) {
    const char* const why = error == ReadError::Overflow ? "数が大きすぎます。" : "内容の形式が違います。";
    return Error{"設定ファイルの読み取り", file, 0, why};
}

LoadResult loadSettings(Module1& vars, const SettingsFiles& files, std::optional<Error>& why) {
    if (!isPresent(files.settingsFile())) {
        vars.SourcePath = files.startFolder();
        vars.DestPath = files.startFolder();
        vars.SerialNo = 0;
        vars.OptFlags[0] = OptionValue::number(0);
        return LoadResult::Done;
    }
    const Result<std::string> bytes = readWholeFile(files.settingsFile());
    if (!bytes) {
        why = bytes.error();
        return LoadResult::Failed;
    }
    const ReadError error = readSettingsFields(bytes.value(), vars);
    if (toLoadResult(error) == LoadResult::Failed)
        why = unreadable(files.settingsFile(), error);
    return toLoadResult(error);
}

LoadResult loadCounter(Module1& vars, const SettingsFiles& files, std::optional<Error>& why) {
    if (!isPresent(files.counterFile())) {
        vars.SerialNo = 0;
        return LoadResult::Done;
    }
    const Result<std::string> bytes = readWholeFile(files.counterFile());
    if (!bytes) {
        why = bytes.error();
        return LoadResult::Failed;
    }
    const ReadError error = FieldReader(bytes.value()).readInt32(vars.SerialNo);
    if (toLoadResult(error) == LoadResult::Failed)
        why = unreadable(files.counterFile(), error);
    return toLoadResult(error);
}

// A previous run that never reached its shutdown may have used the number in the counter file.
// False when the 32-bit number cannot go one further.
bool applyUncleanExitRule(Module1& vars) {
    if (vars.RunFlag != 1)
        return true;
    if (vars.SerialNo == std::numeric_limits<std::int32_t>::max())
        return false;
    ++vars.SerialNo;
    if (vars.SerialNo > kHighestSerialNo)
        vars.SerialNo = 0;
    return true;
}

// Records the first failure; a file that is already gone is no failure.
void removeIfPresent(const std::filesystem::path& file, std::optional<Error>& firstError) {
    const Status removed = removeFile(file);
    if (!removed && removed.code() != ENOENT && !firstError)
        firstError = removed.error();
}

// A cut-short file: the next start begins from the defaults. A cut-short counter file holds no
// number, and left in place it would end every later start the same way, so it goes as well.
StartupResult endProgram(const SettingsFiles& files, bool counterCutShort) {
    StartupResult result{
        StartupOutcome::EndProgram, std::nullopt,
        Error{"設定ファイルの読み取り", counterCutShort ? files.counterFile() : files.settingsFile(), 0,
              "途中で切れていました。設定ファイルを削除したので、次は初めての起動と同じ設定で始まります。"}};
    removeIfPresent(files.settingsFile(), result.writeError);
    if (counterCutShort)
        removeIfPresent(files.counterFile(), result.writeError);
    return result;
}

// When the session that did not end began: the settings file is written only by a start and a
// shutdown. Nothing when it cannot be told, and then no journal counts as the session's.
std::int64_t sessionStartOf(const SettingsFiles& files) {
    const Result<FileIdentity> settings = identityOf(files.settingsFile());
    return settings ? settings.value().mtimeSeconds : std::numeric_limits<std::int64_t>::max();
}

// After an unclean end, before anything else: the session's half-done moves and damaged trash info
// files put in order and its journals' cut tails trimmed, then the number to go on with, above every number
// the session's journal and destination show, and on the disk before the running flag is written again when
// it differs from the counter plus one, so that a second cut still finds it. A cut-short counter file is
// restored when a journal can tell, and read as it reads otherwise. Returns how the counter now stands.
LoadResult recoverUncleanEnd(Module1& vars, const SettingsFiles& files, LoadResult counter,
                             UncleanEndReport& report) {
    const std::int64_t sessionStart = sessionStartOf(files);
    const std::vector<SessionJournal> session = journalsOfSession(files.history(), sessionStart, report);
    finishMovesAfterCut(files.history(), session, report);
    repairTrashAfterCut(session, sessionStart, report);
    trimCutTails(session, report);
    if (counter == LoadResult::Failed)
        return counter;
    std::optional<std::int32_t> counterPlusOne;
    if (counter == LoadResult::Done) {
        if (!applyUncleanExitRule(vars))
            return LoadResult::Failed;
        counterPlusOne = vars.SerialNo;
    }
    const SessionJournal* lastRun = lastMoveRunOf(session);
    std::optional<SessionJournal> earlierRun;
    if (!lastRun && counter == LoadResult::CutShort && (earlierRun = newestMoveJournal(files.history())))
        lastRun = &*earlierRun;
    const std::optional<std::int32_t> number = serialNoAfterUncleanEnd(lastRun, counterPlusOne, report);
    if (!number)
        return counter;
    vars.SerialNo = *number;
    if (counter == LoadResult::CutShort) {
        report.restoredCounter = *number;
        report.counterFile = files.counterFile();
    }
    if (number == counterPlusOne)
        return LoadResult::Done; // the next start would come to the same number
    if (Status written = writeCounterFile(files, *number); !written)
        report.failures.push_back(written.error());
    return LoadResult::Done;
}

} // namespace

StartupResult runStartup(Module1& vars, const SettingsFiles& files) {
    // A run killed within a rewrite leaves its temporary file; tidying is no reason to stop a start.
    (void)removeLeftoverWrites(files.settingsFile());
    (void)removeLeftoverWrites(files.counterFile());
    std::optional<Error> why;
    const LoadResult settings = loadSettings(vars, files, why);
    // No tidying of the history here: without the settings the start cannot tell whether a run
    // was cut off, and the journal of one must wait for the start that takes it up.
    if (settings == LoadResult::CutShort)
        return endProgram(files, false);
    if (settings == LoadResult::Failed) {
        // The shutdown writes SerialNo back, so it must hold the stored number even though the
        // rest of the start-up is skipped; otherwise a damaged settings field resets the numbering.
        std::optional<Error> ignored;
        loadCounter(vars, files, ignored);
        return {StartupOutcome::Stopped, std::nullopt, why};
    }
    UncleanEndReport report;
    LoadResult counter = loadCounter(vars, files, why);
    const bool unclean = vars.RunFlag == 1;
    if (unclean)
        counter = recoverUncleanEnd(vars, files, counter, report);
    // After the recovery, which may record in a journal that has no action yet.
    (void)pruneHistory(files.history(), std::time(nullptr));
    if (counter == LoadResult::CutShort) {
        StartupResult ended = endProgram(files, true);
        ended.uncleanEnd = std::move(report);
        return ended;
    }
    if (counter == LoadResult::Failed) {
        if (!why)
            why = unreadable(files.counterFile(), ReadError::Overflow);
        return {StartupOutcome::Stopped, std::nullopt, why, std::move(report)};
    }

    vars.RunFlag = 1;
    const Status written =
        writeFileAtomically(files.settingsFile(), encodeSettings(vars), Durability::PowerLoss);
    if (!written)
        return {StartupOutcome::Stopped, written.error(), std::nullopt, std::move(report)};
    return {StartupOutcome::Completed, std::nullopt, std::nullopt, std::move(report)};
}

UncleanEndReport recoverAfterUncleanEnd(const SettingsFiles& files) {
    UncleanEndReport report;
    Module1 vars;
    std::optional<Error> ignored;
    if (loadSettings(vars, files, ignored) != LoadResult::Done || vars.RunFlag != 1)
        return report;
    (void)removeLeftoverWrites(files.counterFile());
    const LoadResult counter = recoverUncleanEnd(vars, files, loadCounter(vars, files, ignored), report);
    if (counter != LoadResult::Done)
        return report;
    if (Status ended = writeShutdownFiles(vars, files); !ended)
        report.failures.push_back(ended.error());
    return report;
}

Status writeShutdownFiles(Module1& vars, const SettingsFiles& files) {
    vars.RunFlag = 0;
    // The machine may be switching off right after the window closes: both go to the disk. The
    // counter goes first, since the number written in place during a run may not be there yet,
    // and a settings file saying "ended cleanly" beside it would let the next start repeat numbers.
    const Status counter = writeCounterFile(files, vars.SerialNo);
    const Status settings =
        writeFileAtomically(files.settingsFile(), encodeSettings(vars), Durability::PowerLoss);
    return counter.ok() ? settings : counter;
}

Status writeCounterFile(const SettingsFiles& files, std::int32_t serialNo) {
    return writeFileAtomically(files.counterFile(), encodeCounter(serialNo), Durability::PowerLoss);
}

} // namespace corvalin
