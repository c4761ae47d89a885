#include "history/journal_record.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

struct TypeName {
    RecordType type;
    const char* tag;
    std::size_t fieldCount;
    bool mayNameTwin = false; // one more field: the picture a removed duplicate equals
};

constexpr std::array<TypeName, 12> kTypes = {{
    {RecordType::Header, kJournalFormat, 2},
    {RecordType::Start, "start", 7},
    {RecordType::Move, "move", 8},
    {RecordType::Rename, "rename", 7},
    {RecordType::Trash, "trash", 9, true},
    {RecordType::Delete, "delete", 3, true},
    {RecordType::MakeFolder, "mkdir", 2},
    {RecordType::NotDone, "not-done", 2},
    {RecordType::End, "end", 2},
    {RecordType::UndoStart, "undo-start", 2},
    {RecordType::UndoStep, "undo-step", 2},
    {RecordType::UndoEnd, "undo-end", 2},
}};

constexpr std::array<const char*, 5> kKindNames = {"move", "strip", "strip-subfolder", "make-folders",
                                                   "remove-folder"};

const TypeName& typeName(RecordType type) {
    for (const TypeName& name : kTypes) {
        if (name.type == type)
            return name;
    }
    return kTypes[0];
}

template <class T> std::optional<T> readNumber(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::string mtimeText(const FileIdentity& identity) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%09lld", static_cast<long long>(identity.mtimeSeconds),
                  static_cast<long long>(identity.mtimeNanoseconds));
    return text;
}

std::vector<std::string> identityFields(const FileIdentity& identity) {
    return {std::to_string(identity.size), mtimeText(identity), std::to_string(identity.device),
            std::to_string(identity.inode)};
}

// Four fields from `at` on: size, modification time, device, inode.
bool readIdentity(const std::vector<std::string>& fields, std::size_t at, FileIdentity& identity) {
    const std::string& mtime = fields[at + 1];
    const std::size_t dot = mtime.find('.');
    if (dot == std::string::npos || mtime.size() - dot != 10)
        return false;
    const auto size = readNumber<std::uint64_t>(fields[at]);
    const auto seconds = readNumber<std::int64_t>(std::string_view(mtime).substr(0, dot));
    const auto nanoseconds = readNumber<std::int64_t>(std::string_view(mtime).substr(dot + 1));
    const auto device = readNumber<std::uint64_t>(fields[at + 2]);
    const auto inode = readNumber<std::uint64_t>(fields[at + 3]);
    if (!size || !seconds || !nanoseconds || *nanoseconds < 0 || !device || !inode)
        return false;
    identity = {*size, *seconds, *nanoseconds, *device, *inode};
    return true;
}

bool readPath(const std::string& field, fs::path& path, bool mayBeEmpty = false) {
    if (field.empty())
        return mayBeEmpty;
    if (field.front() != '/' || field.find('\0') != std::string::npos)
        return false;
    path = field;
    return true;
}

bool readItemKind(const std::string& field, bool& folder) {
    folder = field == "folder";
    return folder || field == "file";
}

bool readOutcome(const std::string& field) {
    return field == kOutcomeCompleted || field == kOutcomeCancelled || field == kOutcomeFailed;
}

bool readStart(const std::vector<std::string>& f, JournalRecord& r) {
    std::size_t kind = 0;
    while (kind < kKindNames.size() && f[1] != kKindNames[kind])
        ++kind;
    const auto time = parseLocalTime(f[2]);
    const auto serial = readNumber<std::int32_t>(f[3]);
    if (kind == kKindNames.size() || !time || !serial)
        return false;
    r.kind = static_cast<RunKind>(kind);
    r.time = *time;
    r.number = *serial;
    r.text = f[6];
    return readPath(f[4], r.from) && readPath(f[5], r.to, true);
}

bool readFields(const std::vector<std::string>& f, JournalRecord& r) {
    switch (r.type) {
    case RecordType::Header:
        return f[1] == kJournalVersion;
    case RecordType::Start:
        return readStart(f, r);
    case RecordType::Move: {
        const auto serial = readNumber<std::int32_t>(f[1]);
        r.number = serial.value_or(0);
        return serial && readPath(f[2], r.from) && readPath(f[3], r.to) && readIdentity(f, 4, r.identity);
    }
    case RecordType::Rename:
        return readPath(f[1], r.from) && readPath(f[2], r.to) && readIdentity(f, 3, r.identity);
    case RecordType::Trash:
        return readItemKind(f[1], r.folder) && readPath(f[2], r.from) && readPath(f[3], r.to) &&
               readPath(f[4], r.info) && readIdentity(f, 5, r.identity);
    case RecordType::Delete:
        return readItemKind(f[1], r.folder) && readPath(f[2], r.from);
    case RecordType::MakeFolder:
        return readPath(f[1], r.from);
    case RecordType::End:
    case RecordType::UndoEnd:
        r.text = f[1];
        return readOutcome(f[1]);
    case RecordType::UndoStart: {
        const auto time = parseLocalTime(f[1]);
        r.time = time.value_or(0);
        return time.has_value();
    }
    case RecordType::UndoStep:
    case RecordType::NotDone: {
        const auto line = readNumber<std::int64_t>(f[1]);
        r.number = line.value_or(0);
        return line && *line > 0;
    }
    }
    return false;
}

} // namespace

std::vector<std::string> fieldsOf(const JournalRecord& r) {
    std::vector<std::string> f{typeName(r.type).tag};
    const auto add = [&f](std::vector<std::string> more) {
        f.insert(f.end(), more.begin(), more.end());
    };
    const char* item = r.folder ? "folder" : "file";
    switch (r.type) {
    case RecordType::Header:
        add({kJournalVersion});
        break;
    case RecordType::Start:
        add({kKindNames[static_cast<std::size_t>(r.kind)], formatLocalTime(r.time), std::to_string(r.number),
             r.from.native(), r.to.native(), r.text});
        break;
    case RecordType::Move:
        add({std::to_string(r.number), r.from.native(), r.to.native()});
        add(identityFields(r.identity));
        break;
    case RecordType::Rename:
        add({r.from.native(), r.to.native()});
        add(identityFields(r.identity));
        break;
    case RecordType::Trash:
        add({item, r.from.native(), r.to.native(), r.info.native()});
        add(identityFields(r.identity));
        break;
    case RecordType::Delete:
        add({item, r.from.native()});
        break;
    case RecordType::MakeFolder:
        add({r.from.native()});
        break;
    case RecordType::End:
    case RecordType::UndoEnd:
        add({r.text});
        break;
    case RecordType::UndoStart:
        add({formatLocalTime(r.time)});
        break;
    case RecordType::UndoStep:
    case RecordType::NotDone:
        add({std::to_string(r.number)});
        break;
    }
    // Older journals have no such field: it is written only for a duplicate.
    if (!r.twin.empty() && (r.type == RecordType::Trash || r.type == RecordType::Delete))
        f.push_back(r.twin.native());
    return f;
}

std::optional<JournalRecord> recordFromFields(const std::vector<std::string>& fields) {
    if (fields.empty())
        return std::nullopt;
    for (const TypeName& name : kTypes) {
        if (fields[0] != name.tag)
            continue;
        JournalRecord record;
        record.type = name.type;
        const bool namesTwin = name.mayNameTwin && fields.size() == name.fieldCount + 1;
        if ((fields.size() != name.fieldCount && !namesTwin) || !readFields(fields, record))
            return std::nullopt;
        if (namesTwin && !readPath(fields.back(), record.twin))
            return std::nullopt;
        return record;
    }
    return std::nullopt;
}

std::string formatLocalTime(std::int64_t secondsSinceEpoch) {
    const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    char text[64] = "";
    if (::localtime_r(&time, &local))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

std::optional<std::int64_t> parseLocalTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offset = 0;
    char sign = 0;
    int consumed = 0;
    if (text.size() != 24 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%4d%n", &year, &month, &day, &hour, &minute,
                    &second, &sign, &offset, &consumed) != 8 ||
        consumed != 24 || (sign != '+' && sign != '-') || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour > 23 || minute > 59 || second > 60 || offset % 100 > 59 || offset > 1400)
        return std::nullopt;
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    const std::int64_t offsetSeconds = (offset / 100 * 3600 + offset % 100 * 60) * (sign == '-' ? -1 : 1);
    return static_cast<std::int64_t>(::timegm(&utc)) - offsetSeconds;
}

} // namespace corvalin
