// The libFuzzer entry point for one target, chosen when it is built (CORVALIN_FUZZ_TARGET).
#include "fuzz_checks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const corvalin::fuzz::Target* const target = corvalin::fuzz::findTarget(CORVALIN_FUZZ_TARGET);
    if (target == nullptr)
        std::abort();
    const std::string problems = target->check({reinterpret_cast<const char*>(data), size});
    if (!problems.empty()) {
        std::fprintf(stderr, "%s: %s", CORVALIN_FUZZ_TARGET, problems.c_str());
        std::abort(); // libFuzzer saves the input that did it
    }
    return 0;
}
