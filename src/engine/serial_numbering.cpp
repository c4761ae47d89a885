#include "engine/serial_numbering.h"

#include "engine/move_run.h"
#include "naming/serial_name.h"

namespace corvalin {

namespace fs = std::filesystem;

Status SerialNumbering::meet(const fs::path& destination, const HeldFolder& held) {
    if (m_held.contains(destination.native()))
        return {};
    Result<HeldNumbers> listed = heldNumbersIn(held);
    if (!listed)
        return listed.error();
    m_held.emplace(destination.native(), std::move(listed.value()));
    return {};
}

const HeldNumbers* SerialNumbering::heldIn(const fs::path& destination) const {
    const auto found = m_held.find(destination.native());
    return found == m_held.end() ? nullptr : &found->second;
}

// With every number held there is none to keep free: the name is tried, and a taken one is never
// replaced.
std::int32_t SerialNumbering::freeFrom(const fs::path& destination, std::int32_t number) const {
    const HeldNumbers* held = heldIn(destination);
    return held ? held->nextFree(number).value_or(number) : number;
}

std::int32_t SerialNumbering::freeAfter(const fs::path& destination, std::int32_t number) const {
    if (number < 0)
        return number + 1;
    return freeFrom(destination, nextOnRound(wrapSerialNo(number)));
}

void SerialNumbering::hold(const fs::path& destination, std::int32_t number) {
    const auto found = m_held.find(destination.native());
    if (found != m_held.end())
        found->second.hold(number);
}

void SerialNumbering::skipped(std::int32_t from, std::int32_t to) {
    if (from >= 0 && from <= kHighestSerialNo)
        m_skipped += stepsAfter(from, to);
}

Status SerialNumbering::checkRoom(const fs::path& destination, long pictures) const {
    const HeldNumbers* held = heldIn(destination);
    if (!held || held->freeCount() >= pictures)
        return {};
    return Error{kMoveIntoText, destination, 0,
                 "移動先フォルダで使われていない通し番号は " + std::to_string(held->freeCount()) +
                     " 個だけで、移動する画像 " + std::to_string(pictures) + " 個には足りません。",
                 "通し番号の付いたファイルを別のフォルダに移すか、別の移動先フォルダを選んで下さい。"};
}

} // namespace corvalin
