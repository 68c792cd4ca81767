// Dral streams, read to their end under the default limits or, built with
// DRAL_FUZZ_LIFTED_LIMITS, with every limit but nesting lifted. Whatever reads without error must
// read back the same after it is written again, with deduplication for inputs of odd length and
// without for the others, and each compression in turn (one round trip per input keeps the
// campaigns fast).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dral_core/binary/decoder.hpp"
#include "dral_core/binary/encoder.hpp"
#include "support/check.hpp"
#include "support/dral_equal.hpp"
#include "support/mutators.hpp"

namespace {

using namespace dral_core;

DecodeLimits limits() {
#ifdef DRAL_FUZZ_LIFTED_LIMITS
    return DecodeLimits::unlimited(UINT64_MAX);
#else
    return DecodeLimits{};
#endif
}

// One stream of all `values`, or nothing when the encoder refuses them: it writes containers
// only as deep and as large as the default limits allow, and lifted limits read more.
std::optional<ByteBuffer> write(const std::vector<Value>& values, bool dedup,
                                CompressionType compression) {
    Encoder encoder;
    encoder.set_dedup(dedup);
    encoder.set_compression(compression);
    for (const Value& value : values) {
        Status status = encoder.encode_value(value);
        if (status) continue;
        const ErrorKind kind = status.error().kind();
        FUZZ_CHECK(kind == ErrorKind::DepthExceeded || kind == ErrorKind::TooManyItems,
                   "the encoder refuses only deep or large containers", status.error().message());
        return std::nullopt;
    }
    return encoder.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Decoder decoder({data, size}, limits());
    auto values = decoder.decode_all_owned();
    if (!values) return 0;
    std::optional<ByteBuffer> stream =
        write(*values, size % 2 == 1, static_cast<CompressionType>(size / 2 % 4));
    if (!stream) return 0;
    Decoder again({stream->data(), stream->size()}, limits());
    auto reread = again.decode_all_owned();
    // Strings behind references count in full against the limits, so the same values fit them
    // again; only a data block of many such strings may outgrow the block limit.
    if (!reread && reread.error().kind() == ErrorKind::BlockTooLarge) return 0;
    FUZZ_CHECK(reread, "a written stream reads back", reread.error().message());
    FUZZ_CHECK(
        reread->size() == values->size(), "as many values read back as were written",
        std::to_string(values->size()) + " written, " + std::to_string(reread->size()) + " read");
    for (std::size_t i = 0; i < values->size(); ++i)
        FUZZ_CHECK(dral_fuzz::same_value((*values)[i], (*reread)[i], dral_fuzz::Equality::Exact),
                   "a value reads back as it was written",
                   debug_string((*values)[i]) + "\nread back as\n" + debug_string((*reread)[i]));
    return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned seed) {
    return dral_fuzz::mutate_stream(data, size, max_size, seed);
}
