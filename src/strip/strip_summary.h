#pragma once

#include "strip/strip_runs.h"

#include <filesystem>
#include <string>

namespace corvalin {

// The result line that both the command line and the window give: how the run ended and how many
// names lost their serial number; for a strip into a new subfolder, which one it made.
std::string stripSummary(const StripOutcome& outcome, const std::filesystem::path& subfolder = {});

// What the user reads at the end of a strip run that left files as they were: how many, why, and
// the first few names for each reason. Empty when no file was left. UTF-8, names as the lists show them.
std::string describeLeftFiles(const StripOutcome& outcome);

// Its parts, for a terminal that names every file: the first lines (how many were left, how many
// stripped), and the heading of each reason.
std::string leftFilesHeadline(const StripOutcome& outcome);
const char* leftReasonText(LeftReason reason);

// Said after the message of the failure that ended a strip run early.
inline constexpr const char* kStripStoppedText = "通し番号の切り取りを途中で中止しました。";

} // namespace corvalin
