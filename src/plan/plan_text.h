#pragma once

#include "plan/move_plan.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvalin {

// The plan's summary, one line a fact, in the window's words (UTF-8; paths legible, never used to
// reach the disk).
std::vector<std::string> planSummary(const MovePlan& plan);

// The files to remove counted by extension (".png", lower case; "" for none), most first, so that
// "37 × .png, 5 × .mp4" stands out.
std::vector<std::pair<std::string, std::size_t>> removalsByExtension(const MovePlan& plan);
std::string extensionCountsText(const std::vector<std::pair<std::string, std::size_t>>& counts);

// "1.5 MB": bytes for people.
std::string byteText(std::uint64_t bytes);

// The plan as CSV in UTF-8, one row an action or a problem. A path that is not UTF-8 keeps its
// bytes readable back: each byte outside a valid sequence, and each "%" of such a path, is written
// as "%XX"; a path that is UTF-8 is written as it is. A cell that begins with "=", "+", "-", "@", a
// tab or a carriage return gets a leading apostrophe, so that a spreadsheet shows it as text.
std::string planCsv(const MovePlan& plan);

// The bytes of a path as the CSV writes them.
std::string csvPathText(std::string_view path);

} // namespace corvalin
