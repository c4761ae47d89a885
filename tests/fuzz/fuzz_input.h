#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Takes typed values off the front of a fuzz input, so that one byte string drives several
// fields. Past the end every value is zero or empty.
namespace corvalin::fuzz {

class InputBytes {
public:
    explicit InputBytes(std::string_view bytes) : m_bytes(bytes) {}

    template <class T> T take() {
        T value{};
        const std::size_t count = std::min(sizeof value, m_bytes.size());
        std::memcpy(&value, m_bytes.data(), count);
        m_bytes.remove_prefix(count);
        return value;
    }

    // The bytes up to the next NUL (which is dropped), or the rest.
    std::string takeChunk() {
        const std::size_t end = std::min(m_bytes.find('\0'), m_bytes.size());
        std::string chunk(m_bytes.substr(0, end));
        m_bytes.remove_prefix(std::min(end + 1, m_bytes.size()));
        return chunk;
    }

private:
    std::string_view m_bytes;
};

} // namespace corvalin::fuzz
