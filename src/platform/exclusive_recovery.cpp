// What the next start makes of a copy written under its final name (exclusive_copy.h): the record
// says which name was to be created and, once it was, that this program created it; the copy is
// then judged by its size and bytes against the source, which stays until the copy is durable.
#include "platform/exclusive_copy.h"

#include "platform/absent_name.h"
#include "platform/file_identity.h"
#include "platform/move_temp_files.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/same_content.h"

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

namespace corvalin {

namespace {

struct ExclusiveRecord {
    std::string source;
    std::string final;
    std::string stamp; // "size seconds nanoseconds" of the source as it was copied
    bool made = false; // the final name was created by this program
};

int readExclusiveRecord(const HeldFolder& folder, const std::string& name, ExclusiveRecord& record) {
    Result<UniqueFd> fd = folder.openForReading(name);
    if (!fd)
        return fd.code() == ENOENT ? 0 : fd.code();
    std::string text;
    if (const int error = readAll(fd.value().get(), text, 1 << 16))
        return error;
    std::vector<std::string> fields;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\0', at), text.size());
        fields.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    // A record rewritten shorter is padded with NULs before the mark.
    const bool made = fields.size() > 3 && fields.back() == kMadeMark;
    fields.resize(3);
    record = {fields[0], fields[1], fields[2], made};
    return 0;
}

// The source is still what was copied: the same size and modification time, the time within what
// a FAT disk stores (a time read back after a cut may be coarser than the one the batch saw). A
// source edited within that margin fails the comparison of bytes instead, and stays.
bool sourceUnchanged(const std::string& stamp, const FileIdentity& now) {
    std::istringstream in(stamp);
    FileIdentity then;
    return static_cast<bool>(in >> then.size >> then.mtimeSeconds >> then.mtimeNanoseconds) &&
           isCopyOf(then, now);
}

bool sizeRecorded(const std::string& stamp, std::uint64_t size) {
    std::istringstream in(stamp);
    std::uint64_t recorded = 0;
    return static_cast<bool>(in >> recorded) && recorded == size;
}

// A copy proven to be this program's, against its source: whole finishes the move, cut goes.
int judgeAgainstSource(const HeldFolder& folder, const std::string& copyName, const ExclusiveRecord& record,
                       InterruptedMove& move) {
    const Result<HeldFolder> sourceFolder = HeldFolder::open(folderOf(record.source));
    if (!sourceFolder && !lookupMeansAbsent(sourceFolder.code()))
        return sourceFolder.code();
    const std::string sourceName = ownName(record.source);
    const Result<HeldEntry> source =
        sourceFolder ? sourceFolder.value().lookup(sourceName) : Result<HeldEntry>(HeldEntry{});
    if (!source)
        return source.code();
    if (source.value().kind == HeldEntry::Kind::None) {
        // The batch removes a source only once its copy is whole: a cut after that is no news.
        if (!sizeRecorded(record.stamp, move.copyIdentity.size))
            move.kept = "移動元が見つからないため、コピーをそのまま残しました。";
        return 0;
    }
    if (source.value().kind != HeldEntry::Kind::File ||
        !sourceUnchanged(record.stamp, source.value().identity)) {
        move.kept = "コピーの後に移動元が変わったため、移動元とコピーの両方を残しました。";
        return 0;
    }
    const std::uint64_t size = source.value().identity.size;
    if (move.copyIdentity.size != size) {
        move.removesCopy = true;
        return 0;
    }
    const Result<ContentComparison> compared =
        compareContents({folder, copyName}, {sourceFolder.value(), sourceName}, size);
    if (!compared)
        return compared.code();
    move.finishes = compared.value().equal;
    move.removesCopy = !move.finishes;
    move.sourceIdentity = source.value().identity;
    return 0;
}

} // namespace

int judgeExclusiveCopy(const HeldFolder& folder, const std::string& recordName, InterruptedMove& move) {
    move.record = folder.pathOf(recordName);
    ExclusiveRecord record;
    if (const int error = readExclusiveRecord(folder, recordName, record))
        return error;
    move.source = record.source;
    // A record without a final name, or of another kind, was never followed by a create.
    if (!record.source.starts_with('/') || record.final.empty())
        return 0;
    const std::string copyName = ownName(record.final);
    const Result<HeldEntry> copy = folder.lookup(copyName);
    if (!copy)
        return lookupMeansAbsent(copy.code()) ? 0 : copy.code();
    if (copy.value().kind != HeldEntry::Kind::File)
        return 0; // a name planned only, or taken by something that is not ours
    move.final = folder.pathOf(copyName);
    move.copyIdentity = copy.value().identity;
    if (!record.made) {
        // Bytes are written only after the mark is durable: a file of ours without it is empty.
        // It may also be another program's, so it is never removed.
        if (move.copyIdentity.size == 0)
            move.kept = "移動の途中で作られた空のファイルかもしれないため、そのまま残しました。";
        else
            move.final.clear();
        return 0;
    }
    return judgeAgainstSource(folder, copyName, record, move);
}

} // namespace corvalin
