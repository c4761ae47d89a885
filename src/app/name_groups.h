#pragma once

#include <string>
#include <vector>

namespace corvalin {

// One group of the end message of a run that left things as they were: a blank line, the heading,
// how many, and the first few names (the rest counted). Empty when there are no names. UTF-8, the
// names as the lists show them.
std::string describeNameGroup(const std::string& heading, const std::vector<std::string>& names);

} // namespace corvalin
