#pragma once

#include "platform/held_folder.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

// The serial numbers a folder already holds, so that no number is given twice in one folder: a
// picture that would take a held number takes the next free one instead. Numbers go round from
// 999999 to 0, so "next" is a step along that round.
namespace corvalin {

// The number after `number` along the round (999999 is followed by 0).
std::int32_t nextOnRound(std::int32_t number);

// How many steps along the round `number` lies after `from` (0 to 999999).
std::int32_t stepsAfter(std::int32_t from, std::int32_t number);

// A bit for each of the million numbers (125 KB).
class HeldNumbers {
public:
    HeldNumbers();

    // A number outside 0 to 999999 is no name's number: holding it does nothing.
    void hold(std::int32_t number);
    bool holds(std::int32_t number) const;
    std::int32_t freeCount() const { return kCount - m_held; }

    // `number` when it is free, or when it lies outside the round (a negative counter, or one above
    // the highest before it wraps); else the first free number after it along the round. Nothing
    // when every number is held.
    std::optional<std::int32_t> nextFree(std::int32_t number) const;

private:
    static constexpr std::int32_t kCount = 1000000;
    std::vector<std::uint64_t> m_bits;
    std::int32_t m_held = 0;
};

// The numbers of the names directly in `folder`, whatever each entry is (file, link, folder):
// every name of six digits and a blank holds its number there. The one place a destination is
// read for them; a run reads the destination it holds.
Result<HeldNumbers> heldNumbersIn(const std::filesystem::path& folder);
Result<HeldNumbers> heldNumbersIn(const HeldFolder& folder);

} // namespace corvalin
