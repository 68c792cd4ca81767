// The writers of escaped texts, the vector loop and the portable one, held to a character-by-
// character escaper at every length and escape position around the points where the loops hand
// over (16, 32 and 64 bytes, the vector loop's threshold), in buffers of exactly the room they
// are given, so that the sanitizers see any store past it.
#include "dral_core/text/escaped_text.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/text/text_loops.hpp"
#include "loops_suite.hpp"

namespace dral_core {
namespace {

std::string escaped_by_character(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const char letter = text_scan::escape_of(static_cast<unsigned char>(c));
        if (letter != 0) {
            out += '\\';
            out += letter;
        } else {
            out += c;
        }
    }
    return out;
}

std::string escaped(std::string_view text) {
    // The room writers make, on the heap and no larger.
    std::vector<char> room(escaped_room(text.size()));
    const char* const end = write_escaped_at(room.data(), text);
    return std::string(room.data(), static_cast<std::size_t>(end - room.data()));
}

using EscapeLoops = LoopsSuite<use_vector_text_loops>;

TEST_P(EscapeLoops, SwitchTakesEffect) {
    if (GetParam() == Loops::Portable) {
        EXPECT_STREQ(text_loops(), "portable");
    }
}

// Characters that are escaped, and controls that the scans take as candidates but are not.
constexpr std::string_view kSpecial = "\n\r\t\"\\\x01\x0b\x0c";

TEST_P(EscapeLoops, OneSpecialCharacterAtEveryPlace) {
    for (std::size_t n = 0; n <= 300; ++n) {
        std::string text(n, 'a');
        for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
        ASSERT_EQ(escaped(text), text) << n;
        for (std::size_t at = 0; at < n; ++at) {
            for (const char c : kSpecial) {
                std::string with = text;
                with[at] = c;
                ASSERT_EQ(escaped(with), escaped_by_character(with)) << n << " at " << at;
            }
        }
    }
}

TEST_P(EscapeLoops, EscapesDenseAndSparse) {
    std::mt19937 random(20261211);
    for (const double density : {1.0, 0.5, 0.1, 0.01}) {
        std::bernoulli_distribution special(density);
        for (std::size_t n : {33, 63, 64, 65, 127, 128, 129, 200, 1000, 4099}) {
            std::string text(n, 'x');
            for (char& c : text)
                if (special(random)) c = kSpecial[random() % kSpecial.size()];
            ASSERT_EQ(escaped(text), escaped_by_character(text)) << n << " " << density;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Both, EscapeLoops, both_loops());

}  // namespace
}  // namespace dral_core
