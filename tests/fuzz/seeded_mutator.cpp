#include "seeded_mutator.h"

#include <algorithm>

namespace corvalin::fuzz {

namespace {

constexpr std::size_t kMaxInput = 4096;

} // namespace

SeededMutator::SeededMutator(std::uint64_t seed, std::vector<std::string> corpus,
                             std::vector<std::string> tokens)
    : m_random(seed), m_corpus(std::move(corpus)), m_tokens(std::move(tokens)) {
    if (m_corpus.empty())
        m_corpus.emplace_back();
}

std::size_t SeededMutator::below(std::size_t bound) {
    return bound == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, bound - 1)(m_random);
}

// Mostly bytes that readers care about (ASCII, UTF-8 lead and continuation bytes), some of any kind.
char SeededMutator::anyByte() {
    static const std::string_view likely{" \t\r\n\",.+-eE0123456789\x80\xBC\xBD\xE3\xEF\xF0\xFF", 28};
    return below(3) == 0 ? static_cast<char>(below(256)) : likely[below(likely.size())];
}

std::string SeededMutator::next() {
    std::string input = m_corpus[below(m_corpus.size())];
    if (below(20) == 0)
        input.clear(); // now and then something from nothing
    const std::size_t edits = 1 + below(4);
    for (std::size_t i = 0; i < edits; ++i)
        mutateOnce(input);
    if (input.size() > kMaxInput)
        input.resize(kMaxInput);
    return input;
}

void SeededMutator::mutateOnce(std::string& input) {
    const std::size_t at = below(input.size() + 1);
    switch (below(7)) {
    case 0:
        if (at < input.size())
            input[at] = static_cast<char>(input[at] ^ (1 << below(8)));
        break;
    case 1:
        input.insert(at, 1, anyByte());
        break;
    case 2:
        input.erase(at, 1 + below(8));
        break;
    case 3:
        input.insert(at, m_tokens.empty() ? std::string() : m_tokens[below(m_tokens.size())]);
        break;
    case 4:
        input.insert(at, input.substr(at, 1 + below(16)));
        break;
    case 5: {
        const std::string& other = m_corpus[below(m_corpus.size())];
        input = input.substr(0, at) + other.substr(below(other.size() + 1));
        break;
    }
    default:
        if (at < input.size())
            input[at] = anyByte();
        break;
    }
}

} // namespace corvalin::fuzz
