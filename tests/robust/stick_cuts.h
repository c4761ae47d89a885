#pragma once

#include "guest_disks.h"
#include "power_cut_machine.h"

#include <QStringList>

#include <filesystem>
#include <map>
#include <random>
#include <vector>

// A power cut inside a gather from the ext4 disk onto a memory stick, in the power-cut harness's
// virtual machine; then the next start, twice, on copies of the disks the cut left: once after the
// stick's own check and repair (as a careful user runs it), once without (most desktops mount a
// dirty stick as it is). Each start checks the disks as the cut left them, runs the gather again,
// checks every picture is there once with its bytes, and undoes every run (power_cut_agent.h's
// steps). A kind's cut takes one boot; the starts after all cuts share one more.
namespace corvalin::test {

inline const QStringList kStickStarts = {"checked first", "unchecked"};

struct StickCutFindings {
    std::map<QString, QStringList> problems; // by "kind: start"; an empty list when all held
    std::map<QString, QStringList> said;     // what Corvalin said, by the same key
    QStringList notes;
};

QString stickRowKey(const QString& kind, const QString& start);

StickCutFindings cutGathersOntoSticks(const Machine& machine, const std::vector<GuestDiskKind>& kinds,
                                      const std::filesystem::path& work, std::mt19937_64& random);

} // namespace corvalin::test
