// The journal reader over arbitrary bytes: it never crashes, what it reads it can write again,
// wherever the bytes are cut the whole records before the cut are read, and reading as far as it
// reads agrees with it.
#include "fuzz_checks.h"

#include "history/journal_codec.h"
#include "history/journal_reader.h"
#include "platform/utf8.h"

#include <algorithm>

namespace corvalin::fuzz {

namespace {

constexpr std::size_t kCutsChecked = 8;

void checkFieldCodec(std::string_view input, std::string& problems) {
    const std::string encoded = encodeField(input);
    if (decodeField(encoded) != std::string(input))
        problems += "a field does not decode to its bytes\n";
    if (!isValidUtf8(encoded) || encoded.find_first_of("\t\n\r") != std::string::npos)
        problems += "an encoded field is no printable text\n";
}

void checkRecordsWriteAgain(const JournalContents& contents, std::string& problems) {
    for (const JournalRecord& record : contents.records) {
        const std::string line = encodeRecordLine(fieldsOf(record));
        const auto fields = decodeRecordLine(std::string_view(line).substr(0, line.size() - 1));
        if (!fields || recordFromFields(*fields) != record)
            problems += "a record read does not read back the same when written\n";
    }
}

// Cuts spread over the bytes: each keeps exactly the records whose line ends before it.
void checkCuts(std::string_view input, const JournalContents& whole, std::string& problems) {
    for (std::size_t i = 0; i <= kCutsChecked; ++i) {
        const std::size_t cut = whole.wholeBytes * i / kCutsChecked;
        const auto part = parseJournal(input.substr(0, cut), "/fuzz.journal");
        const auto lines = static_cast<std::size_t>(std::count(input.begin(), input.begin() + cut, '\n'));
        if (!part) {
            problems += "a cut journal does not read\n";
            return;
        }
        if (part.value().records.size() != lines ||
            !std::equal(part.value().records.begin(), part.value().records.end(), whole.records.begin()))
            problems += "a cut loses or changes whole records\n";
        if (part.value().cutShort != (cut > 0 && input[cut - 1] != '\n'))
            problems += "a cut within a record is not told\n";
    }
}

} // namespace

// Read as far as it reads, a journal keeps the run's records in front, each on its own line, and
// reads a whole journal exactly as the strict reader does.
void checkReadableAsFarAsItReads(std::string_view input, const Result<JournalContents>& strict,
                                 std::string& problems) {
    const auto readable = parseReadableJournal(input, "/fuzz.journal");
    if (strict && (!readable || readable.value().records != strict.value().records))
        problems += "a journal that reads whole reads otherwise as far as it reads\n";
    if (!readable)
        return;
    const std::size_t runRecords =
        readable.value().damagedLine ? readable.value().damagedLine - 1 : readable.value().records.size();
    if (runRecords > readable.value().records.size() || readable.value().wholeBytes > input.size() ||
        lastLineRead(readable.value()).value_or(0) > runRecords)
        problems += "a journal read as far as it reads is out of place\n";
}

std::string checkJournalReader(std::string_view input) {
    std::string problems;
    checkFieldCodec(input, problems);
    const auto contents = parseJournal(input, "/fuzz.journal");
    checkReadableAsFarAsItReads(input, contents, problems);
    if (!contents) {
        if (contents.error().reason().empty())
            problems += "damage reported without its line\n";
        return problems;
    }
    if (contents.value().wholeBytes > input.size() ||
        contents.value().cutShort != (contents.value().wholeBytes < input.size()))
        problems += "the end of the whole records is out of place\n";
    checkRecordsWriteAgain(contents.value(), problems);
    checkCuts(input, contents.value(), problems);
    return problems;
}

} // namespace corvalin::fuzz
