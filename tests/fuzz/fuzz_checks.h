#pragma once

#include <string>
#include <string_view>
#include <vector>

// Properties of the readers and name rules that must hold for any input bytes. Each check returns
// what went wrong, one line per fault, or an empty text. The same checks run under libFuzzer
// (clang) and under the seeded driver of the test suite (any compiler).
namespace corvalin::fuzz {

std::string checkSettingsReader(std::string_view input);
std::string checkLeadingNumber(std::string_view input);
std::string checkStripRule(std::string_view input);
std::string checkSerialName(std::string_view input); // four bytes of number, then the name
std::string checkJournalReader(std::string_view input);

struct Target {
    const char* name; // also the name of its corpus folder
    std::string (*check)(std::string_view input);
    // Byte sequences that matter to this reader, for the seeded driver's mutations.
    std::vector<std::string> tokens;
};

const std::vector<Target>& allTargets();
const Target* findTarget(std::string_view name);

} // namespace corvalin::fuzz
