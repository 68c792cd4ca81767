// Suites whose every case runs twice: with the vector loops (where the processor has them) and
// with the portable ones, which `kUse(false)` switches the process to.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

namespace dral_core {

enum class Loops { Vector, Portable };

inline void PrintTo(Loops loops, std::ostream* out) {
    *out << (loops == Loops::Vector ? "vector" : "portable");
}

template <void (*kUse)(bool)>
class LoopsSuite : public testing::TestWithParam<Loops> {
protected:
    void SetUp() override { kUse(GetParam() == Loops::Vector); }
    void TearDown() override { kUse(true); }
};

inline auto both_loops() { return testing::Values(Loops::Vector, Loops::Portable); }

}  // namespace dral_core
