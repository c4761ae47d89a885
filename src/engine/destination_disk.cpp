#include "engine/destination_disk.h"

#include "engine/disk_names.h"
#include "engine/move_run.h"

namespace corvalin {

NamingWay runNamingWay(const NamingProbe& probe, bool acrossFileSystems) {
    // The order HeldFolder::moveTo and the batch's naming try them in.
    if (acrossFileSystems && probe.hardLinks)
        return NamingWay::HardLink;
    if (probe.renameNoReplace)
        return NamingWay::RenameNoReplace;
    return probe.hardLinks ? NamingWay::HardLink : NamingWay::None;
}

Result<DiskProfile> checkDestinationDisk(const HeldFolder& destination) {
    // What a kill left of an earlier probe goes first; the user never chose those files.
    if (Status tidied = removeLeftoverProbes(destination.fd(), destination.path()); !tidied)
        return tidied.error();
    Result<DiskProfile> profile = profileDisk(destination.fd(), destination.path());
    if (!profile)
        return profile;
    // An exclusive create alone is no way yet: a copy written under its final name could be cut
    // off there by a kill, and nothing would tell it from a whole one.
    if (runNamingWay(profile.value().probe, false) == NamingWay::None)
        return Error{kMoveIntoText, destination.path(), 0, noNamingWayText(profile.value().rules)};
    return profile;
}

std::string noNamingWayText(const DiskNameRules& rules) {
    const std::string& kind = rules.kindName.empty() ? rules.fileSystemType : rules.kindName;
    return "移動先のディスク" + (kind.empty() ? std::string() : "（" + kind + "）") +
           "では、ほかのファイルを置き換えずに画像の名前を付けられません（ハードリンクも、"
           "置き換えない名前の変更も使えません）。移動先に別のディスクのフォルダを選んで下さい。";
}

// Whether the destination's disk cannot hold the picture's new name (or its size): it is noted
// with why; a name too long keeps its own list, whose reason is one for all.
bool MoveRun::leftForTheDisk(const std::filesystem::path& source, const std::string& newName,
                             const HeldEntry& picture) {
    const DiskFit fit = diskFitOf(newName, picture.identity.size, m_destinationDisk->rules, m_longestName);
    if (fit.refusal == DiskRefusal::None)
        return false;
    if (fit.refusal == DiskRefusal::NameTooLong)
        m_namesTooLong.push_back(source);
    else
        m_namesRefusedByDisk.push_back(
            {source, diskRefusalText(fit, m_destinationDisk->rules, m_longestName)});
    return true;
}

} // namespace corvalin
