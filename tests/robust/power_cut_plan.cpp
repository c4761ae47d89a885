#include "power_cut_plan.h"

#include <algorithm>

namespace corvalin::test {

std::vector<Cut> runCuts(Scenario scenario, std::uint64_t rotation, bool mixed, std::mt19937_64& random) {
    if (scenario == Scenario::Strip)
        return {mixed && random() % 4 == 0 ? Cut{CutKind::FromStart, {}} : Cut{CutKind::FirstToLast, {}}};
    // One disk leaves out one of four phases, the second disk cuts there and while copies wait.
    const QStringList rotating = {"named", "trash", "folders", "end"};
    const int left = int(rotation % 4);
    QStringList phases;
    for (int i = 0; i < 4; ++i) {
        if (scenario == Scenario::GatherOneDisk ? i != left : (i == left || i == (left + 1) % 4))
            phases << rotating[i];
    }
    if (scenario == Scenario::GatherTwoDisks)
        phases << "copies";
    // Earlier phases first: a later run still has all of them ahead.
    std::sort(phases.begin(), phases.end(),
              [](const QString& a, const QString& b) { return kPhases.indexOf(a) < kPhases.indexOf(b); });
    std::vector<Cut> cuts;
    for (const QString& phase : phases) {
        const std::uint64_t draw = mixed ? random() % 8 : 7;
        cuts.push_back(draw < 2   ? Cut{CutKind::Uniform, {}}
                       : draw < 3 ? Cut{CutKind::FromStart, {}}
                                  : Cut{CutKind::Phase, phase});
    }
    return cuts;
}

Cut undoCut(bool mixed, std::mt19937_64& random) {
    return mixed && random() % 4 == 0 ? Cut{CutKind::FromStart, {}} : Cut{CutKind::FirstToLast, {}};
}

QString windowKey(const Cut& cut, const std::string& step) {
    return QString::number(int(cut.kind)) + cut.phase + " " + QString::fromStdString(step);
}

CutPlan planFor(const Cut& cut, const std::string& step, const std::map<QString, double>& spans,
                std::mt19937_64& random) {
    const QString name = QString::fromStdString(step);
    CutPlan plan{step, {}, {"PC-END " + name}, 0};
    // Until a cut that missed tells the window's length: guesses that a run in the guest fills.
    double span = 2.0;
    switch (cut.kind) {
    case CutKind::Phase:
        // A phase goes on until the end is recorded: the child folders, for one, go just before.
        plan.opening = "PC-PHASE " + cut.phase + " " + name;
        if (cut.phase != "end")
            plan.closing << "PC-PHASE end " + name;
        span = cut.phase == "end" ? 0.3 : 1.5;
        break;
    case CutKind::Uniform:
        plan.opening = "PC-FIRST " + name;
        plan.closing << "PC-PHASE end " + name;
        span = 6.0;
        break;
    case CutKind::FromStart:
        plan.opening = "PC-START " + name;
        span = 8.0;
        break;
    case CutKind::FirstToLast:
        plan.opening = "PC-FIRST " + name;
        plan.closing << "PC-LAST " + name;
        break;
    }
    const auto known = spans.find(windowKey(cut, step));
    plan.delay =
        std::uniform_real_distribution<double>(0, known == spans.end() ? span : known->second)(random);
    return plan;
}

QString describeCut(const Cut& cut) {
    switch (cut.kind) {
    case CutKind::Phase:
        return "in the phase \"" + cut.phase + "\"";
    case CutKind::Uniform:
        return "between the first file and the end record";
    case CutKind::FromStart:
        return "between the program's start and its end";
    case CutKind::FirstToLast:
        return "between the first and the last file";
    }
    return {};
}

} // namespace corvalin::test
