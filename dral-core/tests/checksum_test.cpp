// The checksums' vector loops (carry-less multiplication for CRC-64, AVX-512 for XXH64) and their
// portable loops, against each other and against references, at every length around the points
// where the loops hand over: Python sees only whole files and streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/checksum/crc64.hpp"
#include "dral_core/checksum/loops.hpp"
#include "dral_core/checksum/xxh64.hpp"
#include "loops_suite.hpp"

namespace dral_core {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes random_bytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

Bytes text_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// CRC-64/ECMA-182 a bit at a time, from its definition: no table, no folding.
std::uint64_t crc64_by_bits(std::uint64_t crc, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        crc ^= std::uint64_t{byte} << 56;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 63) ? (crc << 1) ^ kCrc64Polynomial : crc << 1;
    }
    return crc;
}

std::uint64_t reference_xxh64(std::span<const std::uint8_t> bytes) {
    return XXH64(bytes.data(), bytes.size(), 0);
}

// Lengths around every hand-over: the CRC's folding starts at 256 bytes, in blocks of 64 and 16;
// XXH64 hashes 32-byte stripes, streams from 2048 bytes on and hashes together in 8 KiB pieces.
std::vector<std::size_t> lengths() {
    std::vector<std::size_t> all;
    for (std::size_t n = 0; n <= 600; ++n) all.push_back(n);
    for (std::size_t around : {1024, 2048, 4096, 8192, 16384, 65536})
        for (std::size_t n = around - 40; n <= around + 40; ++n) all.push_back(n);
    all.push_back(1'000'003);
    return all;
}

class ChecksumLoops : public LoopsSuite<use_vector_checksums> {
protected:
    bool vector_crc() const { return runs_crc64_clmul(); }
    bool vector_xxh64() const { return runs_xxh64_avx512(); }
};

TEST_P(ChecksumLoops, SwitchTakesEffect) {
    if (GetParam() == Loops::Portable) {
        EXPECT_FALSE(vector_crc());
        EXPECT_FALSE(vector_xxh64());
        EXPECT_STREQ(xxh64_loop(), "scalar");
    } else {
        EXPECT_STREQ(xxh64_loop(), vector_xxh64() ? "avx512" : "scalar");
    }
}

struct KnownCrc {
    std::string_view text;
    std::uint64_t crc;
};

TEST_P(ChecksumLoops, Crc64OfKnownTexts) {
    const KnownCrc cases[] = {
        {"", 0}, {"123456789", 0x6C40DF5F0B497347ull},  // the catalogue's check value
    };
    for (const auto& [text, crc] : cases) {
        const Bytes bytes = text_bytes(text);
        EXPECT_EQ(crc64(bytes), crc) << text;
        EXPECT_EQ(crc64_by_bits(0, bytes), crc) << text;
    }
}

TEST_P(ChecksumLoops, Crc64AtEveryLengthAgreesWithTheDefinition) {
    const Bytes data = random_bytes(1'000'003 + 16, 1);
    for (std::size_t length : lengths()) {
        // From several alignments where the folding loop starts.
        for (std::size_t offset : {0, 1, 7, 15}) {
            if (length > 100'000 && offset != 0) continue;
            std::span<const std::uint8_t> bytes(data.data() + offset, length);
            const std::uint64_t expected = crc64_by_bits(0, bytes);
            ASSERT_EQ(crc64(bytes), expected) << length << " from " << offset;
            ASSERT_EQ(crc64_update_portable(0, bytes), expected) << length << " from " << offset;
        }
    }
}

TEST_P(ChecksumLoops, Crc64ContinuesFromAnyRegister) {
    const Bytes data = random_bytes(1500, 2);
    const std::span<const std::uint8_t> all(data);
    const std::uint64_t whole = crc64_by_bits(0, all);
    for (std::size_t split = 0; split <= data.size(); split += 7) {
        const std::uint64_t first = crc64_update(0, all.first(split));
        ASSERT_EQ(crc64_update(first, all.subspan(split)), whole) << split;
    }
    for (std::uint64_t start : {0x1ull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull})
        for (std::size_t length : {255, 256, 257, 320, 1000})
            ASSERT_EQ(crc64_update(start, all.first(length)),
                      crc64_by_bits(start, all.first(length)))
                << length;
}

TEST_P(ChecksumLoops, Crc64OfUniformBytes) {
    for (std::uint8_t fill : {0x00, 0xFF, 0x80})
        for (std::size_t length : {255, 256, 257, 319, 320, 321, 65536}) {
            const Bytes bytes(length, fill);
            ASSERT_EQ(crc64(bytes), crc64_by_bits(0, bytes)) << int{fill} << " x " << length;
        }
}

TEST_P(ChecksumLoops, Xxh64AtEveryLengthMatchesXxhash) {
    const Bytes data = random_bytes(1'000'003 + 8, 3);
    for (std::size_t length : lengths()) {
        for (std::size_t offset : {0, 3}) {
            if (length > 100'000 && offset != 0) continue;
            std::span<const std::uint8_t> bytes(data.data() + offset, length);
            ASSERT_EQ(xxh64(bytes), reference_xxh64(bytes)) << length << " from " << offset;
        }
    }
}

TEST_P(ChecksumLoops, Xxh64StreamInPiecesMatchesXxhash) {
    const Bytes data = random_bytes(70'000, 4);
    const std::span<const std::uint8_t> all(data);
    for (std::size_t piece : {1, 7, 31, 32, 33, 4096, 8193}) {
        for (std::size_t length : {0, 31, 32, 100, 2047, 2048, 8192, 70'000}) {
            Xxh64Stream stream;
            for (std::size_t done = 0; done < length; done += piece)
                stream.update(all.subspan(done, std::min(piece, length - done)));
            ASSERT_EQ(stream.digest(), reference_xxh64(all.first(length)))
                << length << " in pieces of " << piece;
        }
    }
}

TEST_P(ChecksumLoops, Xxh64AndUpdateHashesBothInOnePass) {
    const Bytes data = random_bytes(40'000, 5);
    const std::span<const std::uint8_t> all(data);
    for (std::size_t before : {0, 5, 32}) {
        for (std::size_t length : {0, 1, 8191, 8192, 8193, 16385, 39'000}) {
            Xxh64Stream stream;
            stream.update(all.first(before));
            const auto bytes = all.subspan(before, length);
            ASSERT_EQ(xxh64_and_update(bytes, stream), reference_xxh64(bytes)) << length;
            ASSERT_EQ(stream.digest(), reference_xxh64(all.first(before + length))) << length;
        }
    }
}

TEST_P(ChecksumLoops, Xxh64OfAWordIsThatOfItsLittleEndianBytes) {
    for (std::uint64_t value : {0ull, 1ull, 0x0102030405060708ull, ~0ull}) {
        std::uint8_t bytes[8];
        store_u64_le(bytes, value);
        EXPECT_EQ(xxh64_of_u64(value), reference_xxh64(bytes)) << value;
    }
}

INSTANTIATE_TEST_SUITE_P(Checksums, ChecksumLoops, both_loops(), [](const auto& info) {
    return info.param == Loops::Vector ? "Vector" : "Portable";
});

}  // namespace
}  // namespace dral_core
