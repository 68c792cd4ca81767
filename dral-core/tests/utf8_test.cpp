// The UTF-8 readers: the one character reader, the whole-text validator with its ASCII fast path,
// the measuring and decoding passes and the fault messages, held to glibc's iconv and to each
// other, for every class of fault and at every position relative to the eight- and sixteen-byte
// steps of the fast paths.
#include "dral_core/encoding/utf8.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/encoding/utf8_char.hpp"
#include "dral_core/encoding/utf8_fault.hpp"

namespace dral_core {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a code point, surrogates included, laid out as UTF-8 lays out every character: the
// inputs, never the expectations.
Bytes encode(char32_t c) {
    if (c < 0x80) return {static_cast<std::uint8_t>(c)};
    if (c < 0x800)
        return {static_cast<std::uint8_t>(0xC0 | c >> 6), std::uint8_t(0x80 | (c & 0x3F))};
    if (c < 0x10000)
        return {static_cast<std::uint8_t>(0xE0 | c >> 12), std::uint8_t(0x80 | (c >> 6 & 0x3F)),
                std::uint8_t(0x80 | (c & 0x3F))};
    return {static_cast<std::uint8_t>(0xF0 | c >> 18), std::uint8_t(0x80 | (c >> 12 & 0x3F)),
            std::uint8_t(0x80 | (c >> 6 & 0x3F)), std::uint8_t(0x80 | (c & 0x3F))};
}

// How glibc's iconv, which decodes UTF-8 strictly (shortest forms of scalar values only), reads
// a text: its code points up to the first fault, the bytes before that fault, and which fault.
struct Reading {
    std::u32string code_points;
    std::size_t valid_bytes;
    int fault;  // 0; EILSEQ for an invalid sequence; EINVAL for a text that ends inside a character
};

Reading by_iconv(const Bytes& bytes) {
    // To UTF-32, which holds scalar values only: glibc's wide characters take any 31-bit value.
    static const iconv_t decoder = iconv_open("UTF-32LE", "UTF-8");
    Bytes utf32(4 * bytes.size());
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()));
    std::size_t in_left = bytes.size();
    char* out = reinterpret_cast<char*>(utf32.data());
    std::size_t out_left = utf32.size();
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    const bool done =
        iconv(decoder, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1);
    Reading reading{U"", bytes.size() - in_left, done ? 0 : errno};
    for (std::size_t at = 0; at < utf32.size() - out_left; at += 4)
        reading.code_points += static_cast<char32_t>(load_u32_le(utf32.data() + at));
    return reading;
}

std::uint32_t widest_of(const std::u32string& text) {
    char32_t largest = 0;
    for (char32_t c : text) largest = std::max(largest, c);
    return largest > 0xFFFF ? 0x10FFFF : largest > 0xFF ? 0xFFFF : largest > 0x7F ? 0xFF : 0x7F;
}

// The character reader over a whole text, up to its first fault: the reading iconv gives, but
// for the kind of fault.
Reading by_character_reader(const Bytes& bytes) {
    Reading reading{U"", 0, 0};
    while (reading.valid_bytes < bytes.size()) {
        auto c = decode_utf8_char(bytes.data() + reading.valid_bytes,
                                  bytes.size() - reading.valid_bytes);
        if (!c) {
            reading.fault = c.error().truncated ? EINVAL : EILSEQ;
            break;
        }
        reading.code_points += c->code_point;
        reading.valid_bytes += c->length;
    }
    return reading;
}

std::size_t prefix_of(const Bytes& bytes) {
    return valid_utf8_prefix({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

Bytes padded(std::size_t before, const Bytes& middle, std::size_t after) {
    Bytes bytes(before, 'a');
    bytes.insert(bytes.end(), middle.begin(), middle.end());
    bytes.insert(bytes.end(), after, 'z');
    return bytes;
}

// Every reader on valid text: the code points, the measure, the ASCII class.
void check_valid(const Bytes& bytes) {
    const Reading reference = by_iconv(bytes);
    ASSERT_EQ(reference.fault, 0) << "test case is not UTF-8";
    const std::u32string* expected = &reference.code_points;
    const bool ascii = widest_of(*expected) == 0x7F;
    EXPECT_EQ(classify_utf8(bytes.data(), bytes.size()),
              ascii ? Utf8Class::Ascii : Utf8Class::NonAscii);
    EXPECT_EQ(is_ascii(bytes.data(), bytes.size()), ascii);
    EXPECT_EQ(prefix_of(bytes), bytes.size());
    EXPECT_EQ(describe_utf8_fault(bytes.data(), bytes.size()), "");
    EXPECT_EQ(by_character_reader(bytes).code_points, *expected);

    const auto measure = measure_utf8(bytes.data(), bytes.size());
    ASSERT_TRUE(measure);
    EXPECT_EQ(measure->code_points, expected->size());
    EXPECT_EQ(measure->widest, widest_of(*expected));

    std::u32string decoded(bytes.size(), U'\0');
    const auto one_pass = decode_and_measure_utf8(bytes.data(), bytes.size(), decoded.data());
    ASSERT_TRUE(one_pass);
    EXPECT_EQ(one_pass->code_points, expected->size());
    EXPECT_EQ(one_pass->widest, widest_of(*expected));
    decoded.resize(one_pass->code_points);
    EXPECT_EQ(decoded, *expected);

    std::u32string measured(expected->size(), U'\0');
    const std::uint32_t lead = decode_measured_utf8(bytes.data(), bytes.size(), measured.data());
    EXPECT_EQ(measured, *expected);
    EXPECT_EQ(widest_of_lead(lead), widest_of(*expected));
    if (widest_of(*expected) <= 0xFFFF) {
        std::u16string narrow(expected->size(), u'\0');
        decode_measured_utf8(bytes.data(), bytes.size(), narrow.data());
        EXPECT_EQ(std::u32string(narrow.begin(), narrow.end()), *expected);
    }
}

struct ValidCase {
    const char* name;
    Bytes bytes;
};
void PrintTo(const ValidCase& c, std::ostream* out) { *out << c.name; }

class ValidText : public testing::TestWithParam<ValidCase> {};

TEST_P(ValidText, EveryReaderAgreesAtEveryPosition) {
    for (std::size_t before = 0; before <= 20; ++before)
        for (std::size_t after : {0, 1, 7, 8, 17}) {
            SCOPED_TRACE(testing::Message()
                         << before << " ASCII bytes before, " << after << " after");
            check_valid(padded(before, GetParam().bytes, after));
        }
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, ValidText,
    testing::Values(ValidCase{"empty", {}}, ValidCase{"nul", {0x00}}, ValidCase{"del", {0x7F}},
                    ValidCase{"U0080", {0xC2, 0x80}}, ValidCase{"U00FF", {0xC3, 0xBF}},
                    ValidCase{"U0100", {0xC4, 0x80}}, ValidCase{"U07FF", {0xDF, 0xBF}},
                    ValidCase{"U0800", {0xE0, 0xA0, 0x80}}, ValidCase{"UD7FF", {0xED, 0x9F, 0xBF}},
                    ValidCase{"UE000", {0xEE, 0x80, 0x80}}, ValidCase{"UFFFF", {0xEF, 0xBF, 0xBF}},
                    ValidCase{"U10000", {0xF0, 0x90, 0x80, 0x80}},
                    ValidCase{"U10FFFF", {0xF4, 0x8F, 0xBF, 0xBF}},
                    ValidCase{"mixed",
                              {'x', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 'y'}},
                    ValidCase{"latin_run",
                              {0xC3, 0xA9, 0xC3, 0xA8, 0xC3, 0xAA, 0xC3, 0xAB, 0xC3, 0xA0, 0xC3,
                               0xA2, 0xC3, 0xAE, 0xC3, 0xAF, 0xC3, 0xB4}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    Bytes bytes;          // valid up to the fault, which is at index 0
    std::size_t fitting;  // bytes at the fault that fit the start of a character
    bool truncated;       // the text ends inside the character
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class InvalidText : public testing::TestWithParam<FaultCase> {};

TEST_P(InvalidText, EveryReaderRefusesItAndPlacesTheFault) {
    const FaultCase& fault = GetParam();
    const Reading reference = by_iconv(fault.bytes);
    ASSERT_EQ(reference.valid_bytes, 0u);
    ASSERT_EQ(reference.fault, fault.truncated ? EINVAL : EILSEQ);
    const auto c = decode_utf8_char(fault.bytes.data(), fault.bytes.size());
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error().length, fault.fitting);
    EXPECT_EQ(c.error().truncated, fault.truncated);
    // After ASCII of every length, so that the fault falls at each place in a fast path's step;
    // a truncated sequence must end the text.
    for (std::size_t before = 0; before <= 20; ++before)
        for (std::size_t after : {0, 1, 9}) {
            if (fault.truncated && after != 0) continue;
            SCOPED_TRACE(testing::Message()
                         << before << " ASCII bytes before, " << after << " after");
            const Bytes bytes = padded(before, fault.bytes, after);
            EXPECT_EQ(classify_utf8(bytes.data(), bytes.size()), Utf8Class::Invalid);
            EXPECT_FALSE(is_valid_utf8(bytes.data(), bytes.size()));
            EXPECT_FALSE(measure_utf8(bytes.data(), bytes.size()));
            std::u32string out(bytes.size(), U'\0');
            EXPECT_FALSE(decode_and_measure_utf8(bytes.data(), bytes.size(), out.data()));
            EXPECT_EQ(prefix_of(bytes), before);
            const std::string expected =
                fault.truncated
                    ? "incomplete utf-8 byte sequence from index " + std::to_string(before)
                    : "invalid utf-8 sequence of " + std::to_string(fault.fitting) +
                          " bytes from index " + std::to_string(before);
            EXPECT_EQ(describe_utf8_fault(bytes.data(), bytes.size()), expected);
        }
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, InvalidText,
    testing::Values(FaultCase{"continuation_alone", {0x80}, 1, false},
                    FaultCase{"continuation_last", {0xBF}, 1, false},
                    FaultCase{"overlong_two_C0", {0xC0, 0x80}, 1, false},
                    FaultCase{"overlong_two_C1", {0xC1, 0xBF}, 1, false},
                    FaultCase{"overlong_three", {0xE0, 0x9F, 0xBF}, 1, false},
                    FaultCase{"overlong_four", {0xF0, 0x8F, 0xBF, 0xBF}, 1, false},
                    FaultCase{"surrogate_low_end", {0xED, 0xA0, 0x80}, 1, false},
                    FaultCase{"surrogate_high_end", {0xED, 0xBF, 0xBF}, 1, false},
                    FaultCase{"past_10FFFF", {0xF4, 0x90, 0x80, 0x80}, 1, false},
                    FaultCase{"lead_F5", {0xF5, 0x80, 0x80, 0x80}, 1, false},
                    FaultCase{"lead_FF", {0xFF}, 1, false},
                    FaultCase{"two_byte_then_ascii", {0xC3, 0x28}, 1, false},
                    FaultCase{"three_byte_broken_third", {0xE2, 0x82, 0x41}, 2, false},
                    FaultCase{"four_byte_broken_fourth", {0xF0, 0x9F, 0x98, 0x41}, 3, false},
                    FaultCase{"four_byte_broken_second", {0xF0, 0x41, 0x80, 0x80}, 1, false},
                    FaultCase{"two_byte_cut", {0xC3}, 1, true},
                    FaultCase{"three_byte_cut_after_one", {0xE2}, 1, true},
                    FaultCase{"three_byte_cut_after_two", {0xE2, 0x82}, 2, true},
                    FaultCase{"four_byte_cut_after_three", {0xF0, 0x9F, 0x98}, 3, true},
                    FaultCase{"surrogate_cut", {0xED}, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Every sequence of up to three bytes, and four-byte ones over the bytes where the rules change:
// the character reader and the validators read each as iconv does.
TEST(Utf8Exhaustive, ShortSequencesReadAsIconvReadsThem) {
    auto check = [](const Bytes& bytes) {
        const Reading expected = by_iconv(bytes);
        const Reading read = by_character_reader(bytes);
        ASSERT_EQ(read.valid_bytes, expected.valid_bytes) << testing::PrintToString(bytes);
        ASSERT_EQ(read.code_points, expected.code_points) << testing::PrintToString(bytes);
        ASSERT_EQ(is_valid_utf8(bytes.data(), bytes.size()), expected.fault == 0)
            << testing::PrintToString(bytes);
        ASSERT_EQ(prefix_of(bytes), expected.valid_bytes) << testing::PrintToString(bytes);
    };
    for (unsigned a = 0; a < 256; ++a) check({std::uint8_t(a)});
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b) check({std::uint8_t(a), std::uint8_t(b)});
    for (unsigned a = 0xC0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b)
            for (unsigned c = 0; c < 256; ++c)
                check({std::uint8_t(a), std::uint8_t(b), std::uint8_t(c)});
    const std::uint8_t edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    for (unsigned a = 0xF0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b)
            for (std::uint8_t c : edges)
                for (std::uint8_t d : edges) check({std::uint8_t(a), std::uint8_t(b), c, d});
}

TEST(Utf8Exhaustive, EveryScalarValueReadsBackAndNoSurrogateDoes) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const Bytes bytes = encode(c);
        const auto read = decode_utf8_char(bytes.data(), bytes.size());
        const Reading expected = by_iconv(bytes);
        ASSERT_EQ(read.has_value(), expected.fault == 0) << std::hex << std::uint32_t(c);
        if (!read) continue;
        ASSERT_EQ(read->code_point, c);
        ASSERT_EQ(expected.code_points, std::u32string(1, c));
        ASSERT_EQ(read->length, bytes.size());
    }
}

}  // namespace
}  // namespace dral_core
