#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace corvalin {

// Why a folder can never be a move run's source parent, whose every child folder the run empties:
// the root folder, the home folder or a folder above it. Nothing for any other folder. Undo refuses
// a journal naming such a source for the same reason.
std::optional<std::string> sourceTooHigh(const std::filesystem::path& sourceParent);

} // namespace corvalin
