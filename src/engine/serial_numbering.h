#pragma once

#include "naming/held_numbers.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace corvalin {

// The numbers a move run gives in each destination it meets: from the counter on, past every
// number the destination already holds, so that no two pictures in one folder share a number
// (after a counter set back, a second copy of the program, a lost counter file or a wrap past
// 999999). A destination is listed once, when the run first meets it; from then on the numbers the
// run gives there, and the names it finds taken there, join its set.
class SerialNumbering {
public:
    // Lists `destination`, held as `held`, when it is met for the first time.
    Status meet(const std::filesystem::path& destination, const HeldFolder& held);

    // The number a picture bound for `destination` takes from `number` on: `number` itself or the
    // first free one after it (a number outside 0 to 999999 stays as it is).
    std::int32_t freeFrom(const std::filesystem::path& destination, std::int32_t number) const;
    // The number after `number` that the next picture takes (a negative number counts up to 0).
    std::int32_t freeAfter(const std::filesystem::path& destination, std::int32_t number) const;

    // `number` is now held in `destination`: given, or found taken by another program.
    void hold(const std::filesystem::path& destination, std::int32_t number);
    // Numbers passed over, for the plan and the result.
    void skipped(std::int32_t from, std::int32_t to);
    long numbersSkipped() const { return m_skipped; }

    // Fails, before anything is touched, when `destination` has fewer free numbers than `pictures`.
    Status checkRoom(const std::filesystem::path& destination, long pictures) const;

private:
    const HeldNumbers* heldIn(const std::filesystem::path& destination) const;

    std::map<std::string, HeldNumbers> m_held; // by destination
    long m_skipped = 0;
};

} // namespace corvalin
