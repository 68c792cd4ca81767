// The widening of written text to two bytes a character, the vector loop and the portable one,
// held to a byte-by-byte copy at every length of whole blocks up to past the cache's sizes, in
// buffers of exactly the room they are given, so that the sanitizers see any access past it.
#include "dral_core/text/widened_text.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "dral_core/text/text_loops.hpp"
#include "loops_suite.hpp"

namespace dral_core {
namespace {

using WidenLoops = LoopsSuite<use_vector_text_loops>;

TEST_P(WidenLoops, EveryByteKeepsItsValueAndPlace) {
    std::mt19937 random(7);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 1024; n += 16) lengths.push_back(n);
    lengths.insert(lengths.end(), {65536, 65536 + 48, std::size_t{1} << 21});
    for (const std::size_t n : lengths) {
        std::vector<std::uint8_t> in(n);
        for (std::size_t i = 0; i < n; ++i)
            in[i] = static_cast<std::uint8_t>(i < 256 ? i : random());  // every value once
        std::vector<std::uint16_t> out(n, 0xFFFF);
        widen_text(out.data(), in.data(), n);
        std::vector<std::uint16_t> expected(in.begin(), in.end());
        EXPECT_EQ(out, expected) << n << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Both, WidenLoops, both_loops());

}  // namespace
}  // namespace dral_core
