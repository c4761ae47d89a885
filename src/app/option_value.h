#pragma once

#include <string>
#include <variant>

namespace corvalin {

// A dynamically typed option: empty (never set), a number, or a text (as a settings file may hold
// one). An option is on only when it holds the number 1.
class OptionValue {
public:
    OptionValue() = default;
    static OptionValue number(double value);
    static OptionValue text(std::string value);

    bool isEmpty() const { return std::holds_alternative<std::monostate>(m_value); }
    bool isNumber() const { return std::holds_alternative<double>(m_value); }
    bool isText() const { return std::holds_alternative<std::string>(m_value); }
    double asNumber() const { return std::get<double>(m_value); }
    const std::string& asText() const { return std::get<std::string>(m_value); }
    bool isOn() const { return isNumber() && asNumber() == 1.0; }

    bool operator==(const OptionValue&) const = default;

private:
    std::variant<std::monostate, double, std::string> m_value;
};

} // namespace corvalin
