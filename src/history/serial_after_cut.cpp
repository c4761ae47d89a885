#include "history/serial_after_cut.h"

#include "naming/serial_name.h"

namespace corvalin {

namespace {

bool inRange(std::int32_t number) {
    return number >= 0 && number <= kHighestSerialNo;
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

std::int32_t serialNoAfterCut(std::optional<std::int32_t> counterPlusOne, const NumbersGiven& given,
                              const HeldNumbers& held) {
    // Numbers this program never writes (a counter edited by hand) leave the rule as it was.
    if (!inRange(given.first) || (given.last && !inRange(*given.last)) ||
        (counterPlusOne && !inRange(*counterPlusOne)))
        return counterPlusOne.value_or(0);
    std::int32_t number = given.last ? nextOnRound(*given.last) : given.first;
    if (counterPlusOne && stepsAfter(given.first, *counterPlusOne) > stepsAfter(given.first, number))
        number = *counterPlusOne;
    // With every number held there is none to keep free; the run that comes next says so.
    return held.nextFree(number).value_or(number);
}

} // namespace corvalin
