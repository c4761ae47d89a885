#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Inputs for the fuzz checks where libFuzzer is not there: corpus entries changed by a few random
// edits (bytes flipped, inserted, erased, repeated, tokens that matter to the reader, splices of
// two entries). The same seed gives the same inputs.
namespace corvalin::fuzz {

class SeededMutator {
public:
    SeededMutator(std::uint64_t seed, std::vector<std::string> corpus, std::vector<std::string> tokens);

    std::string next();

private:
    void mutateOnce(std::string& input);
    std::size_t below(std::size_t bound); // 0 when bound is 0
    char anyByte();

    std::mt19937_64 m_random;
    std::vector<std::string> m_corpus;
    std::vector<std::string> m_tokens;
};

} // namespace corvalin::fuzz
