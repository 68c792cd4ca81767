// A failed property of a harness: reported and aborted, so that libFuzzer keeps the input as a
// crash and the replay programs stop on it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace dral_fuzz {

[[noreturn, gnu::cold]] inline void property_failed(const char* what, const std::string& detail) {
    std::fprintf(stderr, "property failed: %s\n%s\n", what, detail.c_str());
    std::abort();
}

}  // namespace dral_fuzz

// Stops the run when `condition` is false; `detail` is only built then.
#define FUZZ_CHECK(condition, what, detail)                               \
    do {                                                                  \
        if (!(condition)) ::dral_fuzz::property_failed((what), (detail)); \
    } while (0)
