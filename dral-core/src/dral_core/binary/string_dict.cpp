#include "dral_core/binary/string_dict.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/limits.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/encoding/varint.hpp"

namespace dral_core {
namespace {

std::size_t shared_prefix(std::string_view previous, std::string_view current) {
    std::size_t n = std::min(previous.size(), current.size());
    std::size_t common = 0;
    while (common < n) {
        if (n - common >= 8) {
            std::uint64_t a, b;
            std::memcpy(&a, previous.data() + common, 8);
            std::memcpy(&b, current.data() + common, 8);
            if (a != b) {
                common += first_nonzero_byte(a ^ b);
                break;
            }
            common += 8;
        } else if (previous[common] == current[common]) {
            ++common;
        } else {
            break;
        }
    }
    // Shared prefixes end on whole characters so that every suffix is UTF-8 on its own.
    return utf8_floor_boundary(reinterpret_cast<const std::uint8_t*>(current.data()),
                               current.size(), common);
}

// No fewer than the bytes the `count` entries from `pos` expand to, read from their lengths alone
// (what a shared prefix loses to a character boundary aside); what does not parse ends it.
std::uint64_t expanded_size_bound(std::span<const std::uint8_t> payload, std::size_t pos,
                                  std::uint64_t count) {
    std::uint64_t total = 0, previous = 0;
    for (std::uint64_t n = 0; n < count; ++n) {
        auto original_idx = decode_varint(payload, pos);
        if (!original_idx) break;
        auto shared = decode_varint(payload, pos += original_idx->length);
        if (!shared) break;
        auto suffix = decode_varint(payload, pos += shared->length);
        if (!suffix) break;
        pos += suffix->length;
        if (suffix->value > payload.size() - pos) break;
        pos += suffix->value;
        previous = std::min(shared->value, previous) + suffix->value;
        if (__builtin_add_overflow(total, previous, &total)) return UINT64_MAX;
    }
    return total;
}

}  // namespace

std::span<const std::uint8_t> build_string_dict(const StringIndex& index, const ByteBuffer& block,
                                                StringDictMemory& memory) {
    const auto& entries = index.entries();
    std::vector<SortedString>& sorted = memory.strings;
    sorted.clear();
    for (std::uint32_t i = 0; i < entries.size(); ++i)
        sorted.push_back({block.view(entries[i].offset, entries[i].length), i});
    sort_strings(sorted, memory.sort);

    // Suffixes are at most the strings; the three varints of an entry rarely take 16 bytes.
    std::size_t text_bytes = 0;
    for (const auto& entry : entries) text_bytes += entry.length;
    ByteBuffer& payload = memory.payload;
    payload.clear();
    payload.reserve(text_bytes + 16 * entries.size() + kMaxVarintBytes);
    encode_varint_vec(entries.size(), payload);
    std::string_view previous;
    for (const auto& [text, original_idx] : sorted) {
        std::size_t shared = shared_prefix(previous, text);
        encode_varint_vec(original_idx, payload);
        encode_varint_vec(shared, payload);
        encode_varint_vec(text.size() - shared, payload);
        payload.append(text.data() + shared, text.size() - shared);
        previous = text;
    }
    return payload.span();
}

Result<StringDict> parse_string_dict(std::span<const std::uint8_t> payload, std::uint64_t max_items,
                                     MemoryMeter& memory) {
    DRAL_ASSIGN_OR_RETURN(auto count, decode_varint(payload, 0));
    if (count.value > max_items) return fail(DralError::too_many_items(count.value, max_items));

    struct Placed {
        std::uint64_t original_idx;
        std::size_t offset;
        std::size_t length;
    };
    std::vector<Placed> placed;
    placed.reserve(std::min<std::uint64_t>(count.value, kMaxReservedDictionaryEntries));
    StringDict dict;
    // Storage taken once at the size the entries declare, as far as the budget goes: grown by
    // doubling, the old and the new storage would both be resident at the last step, half as
    // much again as the budget.
    dict.storage.reserve(
        static_cast<std::size_t>(std::min({expanded_size_bound(payload, count.length, count.value),
                                           memory.remaining(), kMaxReservedDictionaryBytes})));
    std::size_t pos = count.length;
    std::size_t previous_offset = 0, previous_length = 0;
    std::uint64_t largest_idx = 0;
    for (std::uint64_t n = 0; n < count.value; ++n) {
        DRAL_ASSIGN_OR_RETURN(auto original_idx, decode_varint(payload, pos));
        pos += original_idx.length;
        if (original_idx.value >= count.value)
            return fail(DralError::invalid_data("StringDict entry has original_idx " +
                                                std::to_string(original_idx.value) + " >= count " +
                                                std::to_string(count.value)));
        DRAL_ASSIGN_OR_RETURN(auto shared, decode_varint(payload, pos));
        pos += shared.length;
        DRAL_ASSIGN_OR_RETURN(auto suffix_length, decode_varint(payload, pos));
        pos += suffix_length.length;
        if (suffix_length.value > payload.size() - pos) return fail(DralError::unexpected_eof(pos));
        const std::uint8_t* suffix = payload.data() + pos;
        pos += suffix_length.value;
        if (!is_valid_utf8(suffix, suffix_length.value)) return fail(DralError::invalid_utf8(pos));

        std::size_t prefix_length =
            utf8_floor_boundary(dict.storage.data() + previous_offset, previous_length,
                                std::min<std::uint64_t>(shared.value, previous_length));
        std::size_t length = prefix_length + suffix_length.value;
        DRAL_TRY(memory.charge(length));
        std::size_t offset = dict.storage.size();
        // Not zeroed on growth, and grown in place where the allocator can.
        std::uint8_t* entry = dict.storage.prepare(length);
        if (prefix_length != 0)
            std::memcpy(entry, dict.storage.data() + previous_offset, prefix_length);
        if (suffix_length.value != 0)
            std::memcpy(entry + prefix_length, suffix, suffix_length.value);
        dict.storage.advance(length);
        previous_offset = offset;
        previous_length = length;
        placed.push_back({original_idx.value, offset, previous_length});
        largest_idx = std::max(largest_idx, original_idx.value);
    }

    // Every entry took at least three payload bytes, so this size is bounded by the input.
    dict.strings.assign(count.value == 0 ? 1 : largest_idx + 1, std::string_view());
    for (const Placed& p : placed)
        dict.strings[p.original_idx] = dict.storage.view(p.offset, p.length);
    return dict;
}

}  // namespace dral_core
