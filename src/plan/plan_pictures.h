#pragma once

#include "plan/move_plan.h"

#include <string>
#include <vector>

namespace corvalin {

// Where the picture each duplicate equals lies before the run, by the duplicates' order: in the
// destination already, or, for one the run moves there first, in its source folder.
std::vector<std::string> twinsBeforeTheRun(const MovePlan& plan);

} // namespace corvalin
