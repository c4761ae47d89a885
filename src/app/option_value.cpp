#include "app/option_value.h"

#include <utility>

namespace corvalin {

OptionValue OptionValue::number(double value) {
    OptionValue option;
    option.m_value = value;
    return option;
}

OptionValue OptionValue::text(std::string value) {
    OptionValue option;
    option.m_value = std::move(value);
    return option;
}

} // namespace corvalin
