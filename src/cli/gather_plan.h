#pragma once

#include "plan/move_plan.h"

namespace corvalin {

class Terminal;

// corvalin gather --plan: the plan of the run, printed, with nothing moved or removed. The summary
// first, then one line for every picture, removal and problem. The exit status is a failure when
// the run would stop on an error, or would be refused for deleting pictures of a type not chosen
// for good without `deleteUnchosenPictures`.
int printGatherPlan(const Module1& vars, const SettingsFiles& files, const PlanRequest& request,
                    bool deleteUnchosenPictures, Terminal& terminal);

} // namespace corvalin
