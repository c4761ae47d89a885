#include "naming/held_numbers.h"

#include "naming/serial_name.h"
#include "platform/file_ops.h"
#include "platform/posix_io.h"

#include <bit>

namespace corvalin {

namespace {

constexpr std::int32_t kNumbers = kHighestSerialNo + 1;
constexpr std::size_t kWordBits = 64;
static_assert(kNumbers % kWordBits == 0, "the last word has no bits beyond the highest number");

bool onRound(std::int32_t number) {
    return number >= 0 && number < kNumbers;
}

} // namespace

std::int32_t nextOnRound(std::int32_t number) {
    return (number + 1) % kNumbers;
}

std::int32_t stepsAfter(std::int32_t from, std::int32_t number) {
    return ((number - from) % kNumbers + kNumbers) % kNumbers;
}

HeldNumbers::HeldNumbers() : m_bits((kCount + kWordBits - 1) / kWordBits, 0) {}

void HeldNumbers::hold(std::int32_t number) {
    if (!onRound(number) || holds(number))
        return;
    m_bits[std::size_t(number) / kWordBits] |= std::uint64_t(1) << (std::size_t(number) % kWordBits);
    ++m_held;
}

bool HeldNumbers::holds(std::int32_t number) const {
    return onRound(number) &&
           (m_bits[std::size_t(number) / kWordBits] >> (std::size_t(number) % kWordBits) & 1) != 0;
}

// A word at a time: the free bits of a word are the ones of its complement.
std::optional<std::int32_t> HeldNumbers::nextFree(std::int32_t number) const {
    if (!onRound(number) || !holds(number))
        return number;
    if (m_held == kCount)
        return std::nullopt;
    std::size_t word = std::size_t(number) / kWordBits;
    std::uint64_t free = ~m_bits[word] & (~std::uint64_t(0) << (std::size_t(number) % kWordBits));
    for (std::size_t seen = 0; free == 0 && seen <= m_bits.size(); ++seen) {
        word = (word + 1) % m_bits.size();
        free = ~m_bits[word];
    }
    return std::int32_t(word * kWordBits + std::size_t(std::countr_zero(free)));
}

Result<HeldNumbers> heldNumbersIn(const std::filesystem::path& folder) {
    HeldNumbers held;
    const Status listed = forEachName(folder, [&held](std::string_view name) {
        if (const std::optional<std::int32_t> number = serialNumberOf(name))
            held.hold(*number);
    });
    if (!listed)
        return listed.error();
    return held;
}

Result<HeldNumbers> heldNumbersIn(const HeldFolder& folder) {
    std::vector<std::string> names;
    if (const int error = readFolderNames(folder.fd(), names))
        return errorFromErrno("フォルダの読み取り", folder.path(), error);
    HeldNumbers held;
    for (const std::string& name : names) {
        if (const std::optional<std::int32_t> number = serialNumberOf(name))
            held.hold(*number);
    }
    return held;
}

} // namespace corvalin
