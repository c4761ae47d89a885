#pragma once

#include "app/module1.h"

namespace corvalin {

// The ticks of the option boxes: delete the child folders after a move (Check1), strip in a folder
// (Check3), strip into a new subfolder (Check4).
struct OptionTicks {
    bool check1 = false;
    bool check3 = false;
    bool check4 = false;
    bool operator==(const OptionTicks&) const = default;
};

// Stores the ticks as the shared options (each the number 0 or 1). The two strip modes exclude
// each other; with both ticked the strip-in-folder mode wins. Returns the ticks the boxes are to
// show afterwards.
OptionTicks storeOptions(Module1& vars, OptionTicks ticks);

} // namespace corvalin
