#pragma once

#include <cstdint>
#include <string_view>

namespace corvalin {

// What the serial-number box hands over when the options are applied.
struct SerialTakeover {
    std::int32_t serialNo = 0;
    // The box is to show "0" instead of what was typed: the number was too large (above 999999)
    // or outside what the counter can hold.
    bool showZero = false;
};

// The counter taken from the box's text: its leading number rounded to the nearest integer, a
// half going to the even neighbour (12.5 gives 12, 13.5 gives 14). Negative numbers are taken as
// they are; a text without a number gives 0 and keeps its text.
SerialTakeover serialNumberFrom(std::string_view text);

// Rounds to the nearest integer, a half to the even neighbour, whatever the rounding mode.
double roundHalfToEven(double value);

} // namespace corvalin
