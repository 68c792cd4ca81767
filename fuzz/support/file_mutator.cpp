#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/bytes.hpp"
#include "dral_core/checksum/crc64.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"
#include "support/mutators.hpp"

namespace dral_fuzz {
namespace {

using dral_core::Bytes;
namespace cbf = dral_core::rfc001::cbf;

constexpr std::size_t kTrailerSize = 8;
constexpr std::size_t kRootOffsetField = 16;

// Magic, cbf_version 1, ctn_version 1, flags 0x01, alignment 0; all offsets 0.
Bytes default_header() {
    Bytes header(cbf::kHeaderSize, 0);
    std::memcpy(header.data(), cbf::kMagic.data(), cbf::kMagic.size());
    header[4] = 1;
    header[5] = 1;
    header[6] = 0x01;
    return header;
}

}  // namespace

std::size_t mutate_file(std::uint8_t* data, std::size_t size, std::size_t max_size, unsigned seed) {
    std::minstd_rand random(seed);
    const std::size_t framing = cbf::kHeaderSize + kTrailerSize;
    if (max_size < framing || random() % 16 == 0) return LLVMFuzzerMutate(data, size, max_size);

    Bytes header;
    Bytes body;
    if (size >= framing && std::memcmp(data, cbf::kMagic.data(), cbf::kMagic.size()) == 0) {
        header.assign(data, data + cbf::kHeaderSize);
        body.assign(data + cbf::kHeaderSize, data + size - kTrailerSize);
    } else {
        header = default_header();
        body.assign(data, data + std::min(size, max_size - framing));
    }

    switch (random() % 16) {
        case 0:  // one header byte after the magic and the version
            header[5 + random() % (cbf::kHeaderSize - 5)] = static_cast<std::uint8_t>(random());
            break;
        case 1:  // the flags: a symbol table or none
            header[6] ^= 0x02;
            break;
        case 2:  // the root somewhere else in the body
            dral_core::store_u64_le(header.data() + kRootOffsetField,
                                    body.empty() ? 0 : random() % body.size());
            break;
        default: {
            const std::size_t used = body.size();
            body.resize(max_size - framing);
            body.resize(LLVMFuzzerMutate(body.data(), used, body.size()));
            break;
        }
    }

    Bytes out = std::move(header);
    out.insert(out.end(), body.begin(), body.end());
    std::uint8_t trailer[kTrailerSize];
    dral_core::store_u64_le(trailer, dral_core::crc64(out));
    out.insert(out.end(), trailer, trailer + kTrailerSize);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

}  // namespace dral_fuzz
