#include "options/stored_options.h"

namespace corvalin {

OptionTicks storeOptions(Module1& vars, OptionTicks ticks) {
    const auto flag = [](bool on) {
        return OptionValue::number(on ? 1 : 0);
    };
    vars.OptFlags[0] = flag(ticks.check1);
    if (ticks.check3) {
        vars.OptFlags[1] = flag(true);
        vars.OptFlags[2] = flag(false);
        ticks.check4 = false;
    } else {
        vars.OptFlags[1] = flag(false);
    }
    if (ticks.check4) {
        vars.OptFlags[2] = flag(true);
        vars.OptFlags[1] = flag(false);
        ticks.check3 = false;
    } else {
        vars.OptFlags[2] = flag(false);
    }
    return ticks;
}

} // namespace corvalin
