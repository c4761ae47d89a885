#include "history/serial_after_cut.h"

namespace corvalin {

namespace {

constexpr std::int32_t kNumbers = 1000000;

bool inRange(std::int32_t number) {
    return number >= 0 && number < kNumbers;
}

std::int32_t next(std::int32_t number) {
    return (number + 1) % kNumbers;
}

// How many steps along the round `number` lies after `from`.
std::int32_t stepsAfter(std::int32_t from, std::int32_t number) {
    return ((number - from) % kNumbers + kNumbers) % kNumbers;
}

} // namespace

std::optional<NumbersGiven> numbersGivenBy(const JournalContents& contents) {
    std::optional<NumbersGiven> given;
    for (const JournalRecord& record : contents.records) {
        if (record.type == RecordType::Start && record.kind == RunKind::Move) {
            given = NumbersGiven{static_cast<std::int32_t>(record.number), std::nullopt, record.to};
        } else if (record.type == RecordType::Move && given) {
            given->last = static_cast<std::int32_t>(record.number);
            given->lastFolder = record.to.parent_path();
        }
    }
    return given;
}

std::optional<std::int32_t> serialNumberOf(std::string_view name) {
    if (name.size() < 7 || name[6] != ' ')
        return std::nullopt;
    std::int32_t number = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::unordered_set<std::int32_t> serialNumbersIn(const std::vector<std::string>& names) {
    std::unordered_set<std::int32_t> numbers;
    for (const std::string& name : names) {
        if (const auto number = serialNumberOf(name))
            numbers.insert(*number);
    }
    return numbers;
}

std::int32_t serialNoAfterCut(std::optional<std::int32_t> counterPlusOne, const NumbersGiven& given,
                              const std::unordered_set<std::int32_t>& taken) {
    // Numbers this program never writes (a counter edited by hand) leave the rule as it was.
    if (!inRange(given.first) || (given.last && !inRange(*given.last)) ||
        (counterPlusOne && !inRange(*counterPlusOne)))
        return counterPlusOne.value_or(0);
    std::int32_t number = given.last ? next(*given.last) : given.first;
    if (counterPlusOne && stepsAfter(given.first, *counterPlusOne) > stepsAfter(given.first, number))
        number = *counterPlusOne;
    for (std::int32_t step = 0; step < kNumbers && taken.contains(number); ++step)
        number = next(number);
    return number;
}

} // namespace corvalin
