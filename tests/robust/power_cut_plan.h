#pragma once

#include "power_cut_layout.h"
#include "power_cut_machine.h"

#include <QString>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

// Where the power-cut harness cuts: in a phase of a run (after the guest said the phase began),
// anywhere from a run's first file to its end record, anywhere from the program's start, or, for
// the undo and the strip, anywhere between their first and last file.
namespace corvalin::test {

enum class CutKind { Phase, Uniform, FromStart, FirstToLast };

struct Cut {
    CutKind kind = CutKind::FirstToLast;
    QString phase; // for CutKind::Phase: named, copies, trash, folders or end
};

// The phases of a gather, in the order a run meets them (power_cut_agent.h); copies only across disks.
inline const QStringList kPhases = {"named", "copies", "trash", "folders", "end"};

// The cuts of one round's runs: the first run's, then one for each run started again after a cut.
// A gather cuts three times in phases that rotate with `rotation`, so that the two gathers of one
// round together cut in every phase; with `mixed` some cuts fall anywhere instead.
std::vector<Cut> runCuts(Scenario scenario, std::uint64_t rotation, bool mixed, std::mt19937_64& random);

// The cut of an undo (of a completed or an interrupted run).
Cut undoCut(bool mixed, std::mt19937_64& random);

// The plan for `cut` in `step`: its window, and a random instant in it. `spans` holds the windows'
// lengths learnt from cuts that missed.
CutPlan planFor(const Cut& cut, const std::string& step, const std::map<QString, double>& spans,
                std::mt19937_64& random);

// The key `spans` keeps a window's length under.
QString windowKey(const Cut& cut, const std::string& step);

// What a cut is, in words.
QString describeCut(const Cut& cut);

} // namespace corvalin::test
