#pragma once

#include "history/journal_reader.h"
#include "naming/held_numbers.h"

#include <cstdint>
#include <filesystem>
#include <optional>

// The serial number after an unclean end. A power cut can lose the counter's last rewrites and the
// journal's last records alike, so the number is set above both and above the names the run's
// destination shows: numbers go round from 999999 to 0, so "above" is a step along that round,
// counted from where the run began, never a comparison by size.
namespace corvalin {

// What a move run's journal tells of the numbers it gave.
struct NumbersGiven {
    std::int32_t first = 0;           // the number the run began with
    std::optional<std::int32_t> last; // the last one it recorded giving
    std::filesystem::path lastFolder; // where its last picture went (or was to go)
};

// Nothing for a journal that is no move run's or holds no start.
std::optional<NumbersGiven> numbersGivenBy(const JournalContents& contents);

// The next number to give: the further along the round (from the run's first number) of the
// counter plus one and the number after the journal's last, then on past every number `held` holds,
// as a run moves on past them. Without a counter (a counter file cut short) the journal alone
// decides.
std::int32_t serialNoAfterCut(std::optional<std::int32_t> counterPlusOne, const NumbersGiven& given,
                              const HeldNumbers& held);

} // namespace corvalin
