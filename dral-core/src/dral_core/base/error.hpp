// The one error type of the core: a kind, the data it carries, and one text form.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <utility>

namespace dral_core {

enum class ErrorKind : std::uint8_t {
    Io,
    InvalidMagic,
    UnsupportedVersion,
    InvalidWireType,
    VarintOverflow,
    UnexpectedEof,
    ChecksumMismatch,
    InvalidUtf8,
    DepthExceeded,
    BlockTooLarge,
    TooManyItems,
    UnknownCompression,
    DecompressionFailed,
    InvalidBlockType,
    TextParse,
    SchemaMismatch,
    MemoryLimitExceeded,
    InvalidBase64,
    InvalidData,
    LengthOverflow,
    InvalidReference,
    DecompressionRatioExceeded,
    StringTooLong,
    Count,
};

class DralError {
public:
    // Builders are out of line and cold: errors are the rare path.
    [[gnu::cold]] static DralError io(std::string detail);
    [[gnu::cold]] static DralError invalid_magic();
    [[gnu::cold]] static DralError unsupported_version(std::uint8_t version);
    [[gnu::cold]] static DralError invalid_wire_type(std::uint8_t tag);
    [[gnu::cold]] static DralError varint_overflow();
    [[gnu::cold]] static DralError unexpected_eof(std::uint64_t offset);
    [[gnu::cold]] static DralError checksum_mismatch(std::uint64_t expected, std::uint64_t actual);
    [[gnu::cold]] static DralError invalid_utf8(std::uint64_t offset);
    [[gnu::cold]] static DralError depth_exceeded(std::uint64_t depth, std::uint64_t max);
    [[gnu::cold]] static DralError block_too_large(std::uint64_t size, std::uint64_t max);
    [[gnu::cold]] static DralError too_many_items(std::uint64_t count, std::uint64_t max);
    [[gnu::cold]] static DralError unknown_compression(std::uint8_t code);
    [[gnu::cold]] static DralError decompression_failed(std::string detail);
    [[gnu::cold]] static DralError invalid_block_type(std::uint8_t code);
    [[gnu::cold]] static DralError text_parse(std::string detail, std::uint64_t line,
                                              std::uint64_t col);
    [[gnu::cold]] static DralError schema_mismatch(std::string detail);
    [[gnu::cold]] static DralError memory_limit_exceeded(std::uint64_t requested,
                                                         std::uint64_t limit);
    [[gnu::cold]] static DralError invalid_base64(std::string detail);
    [[gnu::cold]] static DralError invalid_data(std::string detail);
    [[gnu::cold]] static DralError length_overflow(std::uint64_t length);
    [[gnu::cold]] static DralError invalid_reference(std::uint64_t index, std::uint64_t size);
    [[gnu::cold]] static DralError decompression_ratio_exceeded(double ratio, std::uint64_t max,
                                                                std::uint64_t compressed,
                                                                std::uint64_t uncompressed);
    [[gnu::cold]] static DralError string_too_long(std::uint64_t length, std::uint64_t max);

    ErrorKind kind() const { return kind_; }

    // The same error with its input offset (of a cut or of invalid UTF-8) counted from
    // `origin` bytes earlier: for readers that see their input in windows.
    [[gnu::cold]] DralError moved_by(std::uint64_t origin) &&;

    // The text form users see; the binding passes it on unchanged.
    std::string message() const;

private:
    DralError(ErrorKind kind, std::uint64_t a = 0, std::uint64_t b = 0, std::uint64_t c = 0,
              double ratio = 0.0, std::string text = {})
        : kind_(kind), a_(a), b_(b), c_(c), ratio_(ratio), text_(std::move(text)) {}

    ErrorKind kind_;
    std::uint64_t a_, b_, c_;
    double ratio_;
    std::string text_;
};

template <class T>
using Result = std::expected<T, DralError>;
using Status = Result<void>;

inline std::unexpected<DralError> fail(DralError error) {
    return std::unexpected(std::move(error));
}

}  // namespace dral_core

#define DRAL_CONCAT_INNER(a, b) a##b
#define DRAL_CONCAT(a, b) DRAL_CONCAT_INNER(a, b)

// Returns the error of a failed Result/Status from the enclosing function.
#define DRAL_TRY(expr)                                                    \
    do {                                                                  \
        if (auto dral_try_result = (expr); !dral_try_result) [[unlikely]] \
            return ::dral_core::fail(std::move(dral_try_result.error())); \
    } while (0)

// `DRAL_ASSIGN_OR_RETURN(auto x, f());` binds the value or returns the error.
#define DRAL_ASSIGN_OR_RETURN(lhs, expr) \
    DRAL_ASSIGN_OR_RETURN_IMPL(DRAL_CONCAT(dral_aor_, __LINE__), lhs, expr)
#define DRAL_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)        \
    auto tmp = (expr);                                    \
    if (!tmp) [[unlikely]]                                \
        return ::dral_core::fail(std::move(tmp.error())); \
    lhs = std::move(*tmp)
