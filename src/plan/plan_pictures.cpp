#include "plan/plan_pictures.h"

#include "platform/paths.h"

#include <unordered_map>

namespace corvalin {

std::vector<std::string> twinsBeforeTheRun(const MovePlan& plan) {
    std::vector<std::string> twins;
    if (plan.duplicates.empty())
        return twins;
    std::unordered_map<std::string, const std::string*> movedThere;
    for (const PlanPicture& picture : plan.pictures)
        movedThere.emplace(joinPath(plan.destination, picture.newName).native(), &picture.from);
    twins.reserve(plan.duplicates.size());
    for (const PlanDuplicate& duplicate : plan.duplicates) {
        const auto moved = movedThere.find(duplicate.twin);
        twins.push_back(moved == movedThere.end() ? duplicate.twin : *moved->second);
    }
    return twins;
}

} // namespace corvalin
