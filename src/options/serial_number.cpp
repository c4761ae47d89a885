#include "options/serial_number.h"

#include "options/leading_number.h"

#include <cmath>
#include <limits>

namespace corvalin {

namespace {
// The counter has six digits in a picture's name.
constexpr double kLargestSerialNo = 999999;
} // namespace

double roundHalfToEven(double value) {
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;
    return rounded;
}

SerialTakeover serialNumberFrom(std::string_view text) {
    const double value = readLeadingNumber(text);
    if (value > kLargestSerialNo)
        return {0, true};
    const double rounded = roundHalfToEven(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::min())))
        return {0, true};
    return {static_cast<std::int32_t>(rounded), false};
}

} // namespace corvalin
