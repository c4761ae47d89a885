#include "app/startup.h"

#include "app/settings_codec.h"
#include "history/run_history.h"
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

} // namespace

StartupResult runStartup(Module1& vars, const SettingsFiles& files) {
    // A run killed within a rewrite leaves its temporary file; tidying is no reason to stop a start.
    (void)removeLeftoverWrites(files.settingsFile());
    (void)removeLeftoverWrites(files.counterFile());
    (void)pruneHistory(files.history(), std::time(nullptr));
    std::optional<Error> why;
    const LoadResult settings = loadSettings(vars, files, why);
    if (settings == LoadResult::CutShort)
        return endProgram(files, false);
    if (settings == LoadResult::Failed) {
        // The shutdown writes SerialNo back, so it must hold the stored number even though the
        // rest of the start-up is skipped; otherwise a damaged settings field resets the numbering.
        std::optional<Error> ignored;
        loadCounter(vars, files, ignored);
        return {StartupOutcome::Stopped, std::nullopt, why};
    }
    const LoadResult counter = loadCounter(vars, files, why);
    if (counter == LoadResult::CutShort)
        return endProgram(files, true);
    if (counter == LoadResult::Failed)
        return {StartupOutcome::Stopped, std::nullopt, why};
    if (!applyUncleanExitRule(vars))
        return {StartupOutcome::Stopped, std::nullopt, unreadable(files.counterFile(), ReadError::Overflow)};

    vars.RunFlag = 1;
    const Status written =
        writeFileAtomically(files.settingsFile(), encodeSettings(vars), Durability::PowerLoss);
    if (!written)
        return {StartupOutcome::Stopped, written.error(), std::nullopt};
    return {StartupOutcome::Completed, std::nullopt, std::nullopt};
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
