// The frame of a compiled file: the 32-byte header before the body and the CRC-64 trailer after
// it. Framing writes it around a body built in place; opening checks it before any body byte is
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"

namespace dral_core::rfc001::cbf {

inline constexpr std::size_t kTrailerSize = 8;
inline constexpr std::uint8_t kCbfVersion = 1;
inline constexpr std::uint8_t kCtnVersion = 1;
inline constexpr std::uint8_t kFlagSelfDescribing = 0x01;
inline constexpr std::uint8_t kFlagHasSymtab = 0x02;

// Reserves the header at the end of `out`, where the file starts; the body follows it. Returns
// where the file starts.
std::size_t begin_file(ByteBuffer& out);

// Fills in the header of the file begun at `start` whose body now ends `out`, and appends the
// trailer. `root_offset` counts from the start of the body.
void finish_file(ByteBuffer& out, std::size_t start, bool has_symtab, std::uint8_t alignment,
                 std::uint64_t root_offset);

struct OpenedFile {
    CbfHeader header;
    std::span<const std::uint8_t> body;
};

// Told of each piece of the file the checksum pass has read, in order, once the pass is done with
// it: a caller that mapped the file can let those pages go, so that checking a large file does
// not keep all of it resident.
class ChecksumObserver {
public:
    virtual void checked(std::span<const std::uint8_t> piece) = 0;

protected:
    ~ChecksumObserver() = default;
};

inline constexpr std::size_t kChecksumPiece = std::size_t{4} << 20;

// The header as it lies in the first 32 bytes of `file` (at least that long), unchecked.
CbfHeader read_header(std::span<const std::uint8_t> file);

// The CRC-64 the trailer of `file` stores and the one its bytes give (`file` at least as long as
// a header and a trailer).
struct Trailer {
    std::uint64_t stored;
    std::uint64_t computed;
};
Trailer read_trailer(std::span<const std::uint8_t> file, ChecksumObserver* observer = nullptr);

// Checks, in order, the length, the magic, the format version and the checksum; reads nothing of
// the body.
Result<OpenedFile> open_file(std::span<const std::uint8_t> file,
                             ChecksumObserver* observer = nullptr);

}  // namespace dral_core::rfc001::cbf
