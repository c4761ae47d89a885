#pragma once

#include <QString>

#include <cstdint>
#include <random>

// Sizes and seeds of the robustness harnesses: small defaults for the test suite, larger runs
// through environment variables.
namespace corvalin::test {

inline long long numberFromEnvironment(const char* name, long long fallback) {
    bool ok = false;
    const long long value = qEnvironmentVariable(name).toLongLong(&ok);
    return ok && value >= 0 ? value : fallback;
}

// The given seed, else a fresh one; either way the harness prints it, so a run can be repeated.
inline std::uint64_t seedFromEnvironment(const char* name) {
    bool ok = false;
    const std::uint64_t value = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? value : std::random_device()();
}

} // namespace corvalin::test
