// The naming rule of the move run over arbitrary names and numbers.
#include "fuzz_checks.h"

#include "fuzz_input.h"
#include "naming/serial_name.h"
#include "naming/strip_rule.h"

#include <algorithm>

namespace corvalin::fuzz {

namespace {

// "[-]digits " with at least six digits that read back as `serialNo`, exactly six when it is not
// negative; gives the prefix's length, or 0 when the prefix is malformed.
std::size_t prefixLength(std::string_view name, std::int32_t serialNo) {
    const std::size_t digitsFrom = serialNo < 0 && name.starts_with('-') ? 1 : 0;
    std::size_t at = digitsFrom;
    long long value = 0;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9')
        value = value * 10 + (name[at++] - '0');
    const std::size_t digits = at - digitsFrom;
    const bool rightCount = serialNo < 0 ? digits >= 6 : digits == 6;
    const bool rightValue = (digitsFrom ? -value : value) == serialNo;
    return rightCount && rightValue && at < name.size() && name[at] == ' ' ? at + 1 : 0;
}

// Six ASCII digits and a blank: the only names whose head is a serial prefix.
bool isNumbered(std::string_view name) {
    return name.size() >= 7 && name[6] == ' ' &&
           std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= '0' && c <= '9'; });
}

void checkNewName(std::int32_t serialNo, std::string_view listed, std::string& problems) {
    const std::string base = baseName(listed);
    const std::string name = serialName(serialNo, listed);
    const std::size_t prefix = prefixLength(name, serialNo);
    if (prefix == 0)
        problems += "new name does not start with the serial prefix: " + name + "\n";
    else if (std::string_view(name).substr(prefix) != base)
        problems += "new name does not end with the base name\n";
    if (!listed.ends_with(base))
        problems += "base name is not the end of the listed name\n";
    if (base.size() != listed.size() && !isNumbered(listed))
        problems += "words of a name without a serial prefix were dropped\n";
    if (isPicture(name) != isPicture(listed))
        problems += "renaming changed whether it is a picture\n";
    if (serialNo < 0)
        return;
    // Numbering a numbered name again replaces its number, and the strip rule undoes it.
    if (serialName(serialNo, name) != name)
        problems += "a numbered name is numbered twice\n";
    if (!base.empty() && strippedName(name) != base)
        problems += "the strip rule does not undo the new name\n";
}

} // namespace

std::string checkSerialName(std::string_view input) {
    InputBytes bytes(input);
    const auto number = bytes.take<std::int32_t>();
    const std::string listed(input.substr(std::min<std::size_t>(4, input.size())));
    std::string problems;
    // As the run names a picture: the wrapped number, and any number a counter file may hold.
    checkNewName(wrapSerialNo(number), listed, problems);
    checkNewName(wrapSerialNo(number % (kHighestSerialNo + 2)), listed, problems);
    // The strip runs take off exactly the prefix the naming rule sees.
    const std::optional<std::string> stripped = strippedName(listed);
    const std::string base = baseName(listed);
    if (stripped ? *stripped != base : base != listed && !base.empty())
        problems += "naming and strip rules disagree on the prefix\n";
    return problems;
}

} // namespace corvalin::fuzz
