#include "preview/md5.h"

#include <array>
#include <bit>
#include <cstdint>

namespace corvalin {

namespace {

// The per-step shift amounts and the sines' integer parts of RFC 1321.
constexpr std::array<std::uint32_t, 64> kShift = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

using State = std::array<std::uint32_t, 4>;

void addBlock(State& state, const unsigned char* block) {
    std::array<std::uint32_t, 16> words{};
    for (std::size_t i = 0; i < 16; ++i)
        words[i] = std::uint32_t(block[i * 4]) | std::uint32_t(block[i * 4 + 1]) << 8 |
                   std::uint32_t(block[i * 4 + 2]) << 16 | std::uint32_t(block[i * 4 + 3]) << 24;
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (std::uint32_t i = 0; i < 64; ++i) {
        std::uint32_t mixed = 0;
        std::uint32_t word = 0;
        if (i < 16) {
            mixed = (b & c) | (~b & d);
            word = i;
        } else if (i < 32) {
            mixed = (d & b) | (~d & c);
            word = (5 * i + 1) % 16;
        } else if (i < 48) {
            mixed = b ^ c ^ d;
            word = (3 * i + 5) % 16;
        } else {
            mixed = c ^ (b | ~d);
            word = (7 * i) % 16;
        }
        const std::uint32_t next = d;
        d = c;
        c = b;
        b += std::rotl(a + mixed + kSine[i] + words[word], int(kShift[i]));
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

std::string md5Hex(std::string_view bytes) {
    State state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::size_t whole = bytes.size() / 64 * 64;
    for (std::size_t at = 0; at < whole; at += 64)
        addBlock(state, reinterpret_cast<const unsigned char*>(bytes.data() + at));
    // The rest, a one bit, zeros, and the length in bits: one block or two.
    std::array<unsigned char, 128> tail{};
    const std::size_t rest = bytes.size() - whole;
    for (std::size_t i = 0; i < rest; ++i)
        tail[i] = static_cast<unsigned char>(bytes[whole + i]);
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < 56 ? 64 : 128;
    const std::uint64_t bits = std::uint64_t(bytes.size()) * 8;
    for (std::size_t i = 0; i < 8; ++i)
        tail[tailSize - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
    for (std::size_t at = 0; at < tailSize; at += 64)
        addBlock(state, tail.data() + at);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(32);
    for (std::uint32_t word : state) {
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<unsigned char>(word >> (8 * i));
            hex += kDigits[byte >> 4];
            hex += kDigits[byte & 0x0F];
        }
    }
    return hex;
}

} // namespace corvalin
