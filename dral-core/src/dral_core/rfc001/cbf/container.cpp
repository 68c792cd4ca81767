#include "dral_core/rfc001/cbf/container.hpp"

#include <algorithm>
#include <cstring>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/checksum/crc64.hpp"

namespace dral_core::rfc001::cbf {

std::size_t begin_file(ByteBuffer& out) {
    const std::size_t start = out.size();
    std::memset(out.prepare(kHeaderSize), 0, kHeaderSize);
    out.advance(kHeaderSize);
    return start;
}

void finish_file(ByteBuffer& out, std::size_t start, bool has_symtab, std::uint8_t alignment,
                 std::uint64_t root_offset) {
    std::uint8_t* header = out.data() + start;
    std::memcpy(header, kMagic.data(), kMagic.size());
    header[4] = kCbfVersion;
    header[5] = kCtnVersion;
    header[6] = has_symtab ? kFlagSelfDescribing | kFlagHasSymtab : kFlagSelfDescribing;
    header[7] = alignment;
    std::memset(header + 8, 0, 8);  // schema hash prefix
    store_u64_le(header + 16, root_offset);
    std::memset(header + 24, 0, 8);  // symbol table and index offsets
    const std::uint64_t crc = crc64(out.span().subspan(start));
    store_u64_le(out.prepare(kTrailerSize), crc);
    out.advance(kTrailerSize);
}

namespace {

std::uint64_t checksum(std::span<const std::uint8_t> covered, ChecksumObserver* observer) {
    if (observer == nullptr) return crc64(covered);
    std::uint64_t crc = 0;
    while (!covered.empty()) {
        const auto piece = covered.first(std::min(covered.size(), kChecksumPiece));
        crc = crc64_update(crc, piece);
        observer->checked(piece);
        covered = covered.subspan(piece.size());
    }
    return crc;
}

}  // namespace

CbfHeader read_header(std::span<const std::uint8_t> file) {
    const std::uint8_t* p = file.data();
    CbfHeader header;
    header.cbf_version = p[4];
    header.ctn_version = p[5];
    header.flags = p[6];
    header.alignment = p[7];
    std::memcpy(header.schema_hash_prefix.data(), p + 8, 8);
    header.root_offset = load_u64_le(p + 16);
    header.symtab_offset = load_u32_le(p + 24);
    header.index_offset = load_u32_le(p + 28);
    return header;
}

Trailer read_trailer(std::span<const std::uint8_t> file, ChecksumObserver* observer) {
    const std::size_t covered = file.size() - kTrailerSize;
    return {load_u64_le(file.data() + covered), checksum(file.first(covered), observer)};
}

Result<OpenedFile> open_file(std::span<const std::uint8_t> file, ChecksumObserver* observer) {
    if (file.size() < kHeaderSize + kTrailerSize)
        return fail(DralError::unexpected_eof(file.size()));
    const std::uint8_t* p = file.data();
    if (std::memcmp(p, kMagic.data(), kMagic.size()) != 0) return fail(DralError::invalid_magic());
    if (p[4] != kCbfVersion) return fail(DralError::unsupported_version(p[4]));
    OpenedFile opened{read_header(file), {}};
    const Trailer trailer = read_trailer(file, observer);
    if (trailer.stored != trailer.computed)
        return fail(DralError::checksum_mismatch(trailer.stored, trailer.computed));
    opened.body = file.subspan(kHeaderSize, file.size() - kTrailerSize - kHeaderSize);
    return opened;
}

}  // namespace dral_core::rfc001::cbf
