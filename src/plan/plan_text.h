#pragma once

#include "plan/move_plan.h"

#include <map>
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

// Counts by name ending, most first.
using EndingCounts = std::vector<std::pair<std::string, std::size_t>>;
EndingCounts mostFirst(const std::map<std::string, std::size_t>& counts);

// The files a plan removes whose names read as pictures of a type not chosen, by that ending.
EndingCounts unchosenPicturesOf(const MovePlan& plan);
// Before a run deletes such pictures for good: the window's question, and the command line's
// refusal without --delete-unchosen-pictures (`planned`: said of a plan rather than a run).
std::string unchosenPicturesQuestion(const EndingCounts& byEnding);
std::string unchosenPicturesRefusal(const EndingCounts& byEnding, bool planned);
inline constexpr const char* kDeleteUnchosenPicturesOption = "--delete-unchosen-pictures";

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
