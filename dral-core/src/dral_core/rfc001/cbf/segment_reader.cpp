// The segment decoder. It reads straight from the file's bytes, copying each text and byte string
// once into the tree, and trusts nothing it reads: every length and offset is checked against
// the slice it points into, reservations are capped by the bytes left, and recursion stops at
// the segment depth limit.
//
// Offsets in indexed layouts may point anywhere, so segments can share bytes, and a few hundred
// bytes of sequences whose items all point at one child would stand for an astronomically large
// tree. Three budgets keep any decode within a constant factor of its input:
// - segments: a file in which no two segments share bytes holds at most one segment per four
//   bytes of body (every segment has a header of at least four bytes, and headers do not
//   overlap), so no decode may visit more segments than that;
// - payload bytes copied out (texts, byte strings, tensor data): in such a file those payloads
//   are disjoint parts of the body, so no decode may copy more than the body holds;
// - text copied out of the symbol table by symbol segments: one short segment may copy a long
//   entry, so this is bounded by a multiple of the body instead.
// Every file the writer produces shares no bytes between segments and passes all three. Besides,
// each value and stream annotation (kNodeCost), tensor dimension (kElementCost) and symbol text
// copied out is charged to the call's memory meter, which bounds the tree absolutely.
#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/encoding/utf8_fault.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/rfc001/cbf/segment.hpp"
#include "dral_core/rfc001/cbf/segment_walker.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_core/rfc001/names.hpp"

namespace dral_core::rfc001::cbf {
namespace {

using ByteSpan = std::span<const std::uint8_t>;

std::string to_string(ByteSpan bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Members report failure by returning false after recording the error: a bool keeps the frames
// of the recursion small, and no frame holds an error being built. Values are decoded into the
// place that keeps them (a vector slot, a field), never moved up through return values.
class Reader {
public:
    Reader(std::span<const std::string> symbols, std::size_t body_size, MemoryMeter& meter)
        : meter_(meter),
          symbols_(symbols),
          segments_left_(body_size / 4 > 0 ? body_size / 4 : 1),
          payload_bytes_left_(body_size),
          symbol_text_left_(body_size > (UINT64_MAX - kSymbolTextAllowance) / kSymbolTextFactor
                                ? UINT64_MAX
                                : body_size * kSymbolTextFactor + kSymbolTextAllowance) {}

    std::optional<DralError>& error() { return error_; }

    // The segment at `offset` of `bytes` into `out`; its size into `size`.
    bool segment(ByteSpan bytes, std::size_t offset, std::size_t depth, Value& out,
                 std::uint64_t& size) {
        Segment s{};
        if (!header(bytes, offset, depth, s) || !charge(kNodeCost) || !payload(s, depth, out))
            return false;
        size = s.size;
        return true;
    }

private:
    friend class cbf::SegmentWalker;  // its pieces, for partial readers

    // ---- failures

    [[gnu::cold, gnu::noinline]] bool failed(DralError error) {
        error_ = std::move(error);
        return false;
    }
    [[gnu::cold, gnu::noinline]] bool failed(const char* detail) {
        return failed(DralError::invalid_data(detail));
    }
    [[gnu::cold, gnu::noinline]] bool eof(std::uint64_t offset) {
        return failed(DralError::unexpected_eof(offset));
    }
    [[gnu::cold, gnu::noinline]] bool overflow(std::uint64_t length) {
        return failed(DralError::length_overflow(length));
    }
    [[gnu::cold, gnu::noinline]] bool bad_utf8(std::uint64_t offset) {
        return failed(DralError::invalid_utf8(offset));
    }
    [[gnu::cold, gnu::noinline]] bool detail(std::string text) {
        return failed(DralError::invalid_data(std::move(text)));
    }
    [[gnu::cold, gnu::noinline]] bool over_memory() { return failed(meter_.refusal()); }
    [[gnu::cold, gnu::noinline]] bool unsupported(std::uint8_t segment_tag) {
        static constexpr char kHex[] = "0123456789abcdef";
        std::string text = "unsupported segment type/config: 0x";
        text += kHex[type_of(segment_tag)];
        text += "/0x";
        text += kHex[config_of(segment_tag)];
        return detail(std::move(text));
    }

    // ---- framing and budgets

    bool varint(ByteSpan bytes, std::size_t offset, DecodedVarint& out) {
        if (offset < bytes.size() && bytes[offset] < 0x80) [[likely]] {
            out = {bytes[offset], 1};
            return true;
        }
        return slow_varint(bytes, offset, out);
    }

    [[gnu::noinline]] bool slow_varint(ByteSpan bytes, std::size_t offset, DecodedVarint& out) {
        auto decoded = decode_varint(bytes, offset);
        if (!decoded) return failed(std::move(decoded.error()));
        out = *decoded;
        return true;
    }

    bool header(ByteSpan bytes, std::size_t offset, std::size_t depth, Segment& s) {
        if (depth > kMaxSegmentDepth) [[unlikely]]
            return failed(DralError::depth_exceeded(depth, kMaxSegmentDepth));
        if (offset > bytes.size() || bytes.size() - offset < kShortHeaderSize) return eof(offset);
        const std::uint8_t* p = bytes.data() + offset;
        std::uint64_t length = load_u24_le(p + 1);
        std::size_t header_size = kShortHeaderSize;
        if (length == kLongLength) {
            if (bytes.size() - offset < kLongHeaderSize) return eof(offset + kShortHeaderSize);
            length = load_u64_le(p + kShortHeaderSize);
            header_size = kLongHeaderSize;
        }
        const std::size_t start = offset + header_size;
        if (length > SIZE_MAX - start) return overflow(length);
        const std::size_t end = start + length;
        if (end > bytes.size()) return eof(end);
        // Only a segment that is all there counts: a file cut short reports the truncation.
        if (segments_left_ == 0) [[unlikely]]
            return failed("segment count exceeds body size");
        --segments_left_;
        s = Segment{p[0], bytes.subspan(start, length), start, header_size + length};
        return true;
    }

    bool charge(std::uint64_t bytes) {
        if (meter_.try_charge(bytes)) [[likely]]
            return true;
        return over_memory();
    }

    bool spend_payload(std::uint64_t n) {
        if (n > payload_bytes_left_) [[unlikely]]
            return failed("decoded bytes exceed body size");
        payload_bytes_left_ -= n;
        return true;
    }

    bool symbol_entry(const Segment& s, const std::string*& entry) {
        DecodedVarint index{};
        if (!varint(s.payload, 0, index)) return false;
        if (index.length != s.payload.size()) return failed("symbol segment has trailing payload");
        if (index.value >= symbols_.size())
            return failed(DralError::invalid_reference(index.value, symbols_.size()));
        entry = &symbols_[index.value];
        if (entry->size() > symbol_text_left_) [[unlikely]]
            return failed("decoded symbol text exceeds limit");
        symbol_text_left_ -= entry->size();
        return charge(entry->size());
    }

    bool utf8_text(const Segment& s, std::string& out) {
        if (!spend_payload(s.payload.size())) return false;
        if (!is_valid_utf8(s.payload.data(), s.payload.size())) return bad_utf8(s.payload_start);
        out.assign(reinterpret_cast<const char*>(s.payload.data()), s.payload.size());
        return true;
    }

    // ---- names

    // A segment that must decode to a Str or a Sym, for a name; `refusal` is the error's detail
    // otherwise. Texts are taken straight from the payload or the table; anything else is
    // decoded in full first, as any segment would be.
    bool name(ByteSpan bytes, std::size_t& position, std::size_t depth, const char* refusal,
              NameKind kind, std::string& out) {
        Segment s{};
        if (!header(bytes, position, depth, s)) return false;
        position += s.size;
        return named(s, depth, refusal, kind, out);
    }

    // The text of a name segment whose header has been read, checked as a name of `kind` when
    // one is given.
    bool named(const Segment& s, std::size_t depth, const char* refusal,
               std::optional<NameKind> kind, std::string& out) {
        if (type_of(s.tag) == type::kStr) {
            if (!utf8_text(s, out)) return false;
        } else if (type_of(s.tag) == type::kSymbol) {
            const std::string* entry = nullptr;
            if (!symbol_entry(s, entry)) return false;
            out = *entry;
        } else if (!other_text(s, depth, refusal, out)) {
            return false;
        }
        return !kind || name_ok(*kind, out);
    }

    // Names are taken only where the formatter writes them back as the same names.
    bool name_ok(NameKind kind, std::string_view text) {
        Status status = check_name(kind, text);
        return status ? true : failed(std::move(status.error()));
    }

    [[gnu::noinline]] bool other_text(const Segment& s, std::size_t depth, const char* refusal,
                                      std::string& out) {
        Value value(Scalar::null());
        if (!payload(s, depth, value)) return false;
        if (!value.is_scalar() || !value.scalar().is_text()) return failed(refusal);
        out = value.scalar().text();
        return true;
    }

    bool field_name(ByteSpan bytes, std::size_t& position, std::size_t depth, std::string& out) {
        return name(bytes, position, depth, "field name segment must be str or sym",
                    NameKind::Field, out);
    }

    // The next segment at `position` into `out`, moving `position` past it.
    bool next(ByteSpan bytes, std::size_t& position, std::size_t depth, Value& out) {
        std::uint64_t size;
        if (!segment(bytes, position, depth, out, size)) return false;
        position += size;
        return true;
    }

    // ---- payloads

    bool payload(const Segment& s, std::size_t depth, Value& out);
    bool primitive(const Segment& s, Value& out);
    bool product(ByteSpan p, std::size_t depth, Value& out);
    bool sum(ByteSpan p, std::size_t depth, Value& out);
    bool sequence(ByteSpan p, bool indexed, std::size_t depth, Value& out);
    bool association(ByteSpan p, bool indexed, std::size_t depth, Value& out);
    bool tensor(ByteSpan p, Value& out);
    bool reference(ByteSpan p, std::size_t depth, Value& out);
    bool stream(ByteSpan p, std::size_t depth, Value& out);
    bool annotation(ByteSpan p, std::size_t depth, Value& out);
    bool opaque(ByteSpan p, bool tagged, Value& out);
    bool fields(ByteSpan p, std::size_t& position, std::uint64_t count, std::size_t depth,
                std::vector<Field>& out);
    bool count_and_table(ByteSpan p, std::size_t& position, bool indexed, DecodedVarint& count,
                         std::uint64_t& table_end);
    // The parts of a payload before its children, read and checked; `position` ends at the
    // first child (or at the offset table of an indexed layout).
    bool product_head(ByteSpan p, std::size_t depth, std::optional<std::string>& type_name,
                      std::size_t& position, std::uint64_t& count);
    bool sum_head(ByteSpan p, std::size_t depth, Sum& sum, std::uint8_t& kind,
                  std::size_t& position, std::uint64_t& count);
    bool sequence_head(ByteSpan p, bool indexed, std::size_t depth,
                       std::optional<std::string>& elem_type, std::size_t& position,
                       DecodedVarint& count, std::uint64_t& table_end);
    // Where entry `i` of an indexed layout starts, checked to lie within the payload; `table` is
    // where its offset table starts.
    bool entry_at(ByteSpan p, std::size_t table, std::uint64_t table_end, std::uint64_t i,
                  std::size_t& at);
    bool part(ByteSpan p, std::size_t& position, ByteSpan& out);

    // Room for `count` elements of at least `min_size` bytes each among `left` bytes: a count
    // the bytes cannot hold fails on reading anyway, and must not reserve first.
    static std::size_t capped(std::uint64_t count, std::size_t left, std::size_t min_size) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(count, left / min_size));
    }

    MemoryMeter& meter_;
    std::span<const std::string> symbols_;
    std::uint64_t segments_left_;
    std::uint64_t payload_bytes_left_;
    std::uint64_t symbol_text_left_;
    std::optional<DralError> error_;
};

bool Reader::payload(const Segment& s, std::size_t depth, Value& out) {
    const std::uint8_t config = config_of(s.tag);
    const std::size_t inner = depth + 1;
    switch (type_of(s.tag)) {
        case type::kPrimitive:
            return primitive(s, out);
        case type::kStr: {
            std::string text;
            if (!utf8_text(s, text)) return false;
            out = Value(Scalar::str(std::move(text)));
            return true;
        }
        case type::kBytes:
            if (!spend_payload(s.payload.size())) return false;
            out = Value(Scalar::bytes(Bytes(s.payload.begin(), s.payload.end())));
            return true;
        case type::kSymbol: {
            const std::string* entry = nullptr;
            if (!symbol_entry(s, entry) || !name_ok(NameKind::Symbol, *entry)) return false;
            out = Value(Scalar::sym(std::string(*entry)));
            return true;
        }
        case type::kProduct:
            return product(s.payload, inner, out);
        case type::kSum:
            return sum(s.payload, inner, out);
        case type::kSequence:
            return sequence(s.payload, config >= config::kIndexed, inner, out);
        case type::kAssociation:
            return association(s.payload, config >= config::kIndexed, inner, out);
        case type::kTensor:
            return tensor(s.payload, out);
        case type::kReference:
            return reference(s.payload, inner, out);
        case type::kStream:
            return stream(s.payload, inner, out);
        case type::kAnnotation:
            return annotation(s.payload, inner, out);
        case type::kOpaque:
            return opaque(s.payload, config == config::kTagged, out);
        case type::kConstant:
            switch (config) {
                case config::kNull:
                    out = Value(Scalar::null());
                    return true;
                case config::kUnit:
                    out = Value(Scalar::unit());
                    return true;
                case config::kTrue:
                    out = Value(Scalar::boolean(true));
                    return true;
                case config::kFalse:
                    out = Value(Scalar::boolean(false));
                    return true;
                case config::kEmptySequence:
                    out = Value(Sequence{});
                    return true;
                case config::kEmptyAssociation:
                    out = Value(Association{});
                    return true;
                case config::kEmptyStr:
                    out = Value(Scalar::str({}));
                    return true;
                case config::kEmptyBytes:
                    out = Value(Scalar::bytes({}));
                    return true;
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return unsupported(s.tag);
}

bool Reader::primitive(const Segment& s, Value& out) {
    const ByteSpan p = s.payload;
    DecodedVarint v{};
    switch (config_of(s.tag)) {
        case config::kI64:
            if (p.size() != 8) return failed("invalid i64 primitive payload size");
            out = Value(Scalar::i64(static_cast<std::int64_t>(load_u64_le(p.data()))));
            return true;
        case config::kU64:
            if (p.size() != 8) return failed("invalid u64 primitive payload size");
            out = Value(Scalar::u64(load_u64_le(p.data())));
            return true;
        case config::kVI64:
        case config::kVU64:
            if (!varint(p, 0, v)) return false;
            if (v.length != p.size()) return failed("varint primitive trailing bytes");
            out = Value(config_of(s.tag) == config::kVI64 ? Scalar::vi64(zigzag_decode(v.value))
                                                          : Scalar::vu64(v.value));
            return true;
        case config::kF32:
            if (p.size() != 4) return failed("invalid f32 primitive payload size");
            out = Value(Scalar::f32(std::bit_cast<float>(load_u32_le(p.data()))));
            return true;
        case config::kF64:
            if (p.size() != 8) return failed("invalid f64 primitive payload size");
            out = Value(Scalar::f64(std::bit_cast<double>(load_u64_le(p.data()))));
            return true;
        default:
            return unsupported(s.tag);
    }
}

bool Reader::fields(ByteSpan p, std::size_t& position, std::uint64_t count, std::size_t depth,
                    std::vector<Field>& out) {
    // A field is two segments of at least four bytes each.
    out.reserve(capped(count, p.size() - position, 2 * kShortHeaderSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        Field& field = out.emplace_back(Field{{}, Value(Scalar::null())});
        if (!field_name(p, position, depth, field.name) || !next(p, position, depth, field.value))
            return false;
    }
    return true;
}

bool Reader::product_head(ByteSpan p, std::size_t depth, std::optional<std::string>& type_name,
                          std::size_t& position, std::uint64_t& count) {
    if (p.empty()) return eof(0);
    position = 1;
    if (p[0] == 1 && !name(p, position, depth, "expected string scalar for struct type name",
                           NameKind::TypeName, type_name.emplace()))
        return false;
    DecodedVarint n{};
    if (!varint(p, position, n)) return false;
    position += n.length;
    count = n.value;
    return true;
}

bool Reader::product(ByteSpan p, std::size_t depth, Value& out) {
    Product product;
    std::size_t position = 0;
    std::uint64_t count = 0;
    if (!product_head(p, depth, product.type_name, position, count) ||
        !fields(p, position, count, depth, product.fields))
        return false;
    if (position != p.size()) return failed("struct payload has trailing bytes");
    out = Value(std::move(product));
    return true;
}

bool Reader::sum_head(ByteSpan p, std::size_t depth, Sum& sum, std::uint8_t& kind,
                      std::size_t& position, std::uint64_t& count) {
    if (p.empty()) return eof(0);
    position = 1;
    if (p[0] == 1 && !name(p, position, depth, "expected string scalar for enum type name",
                           NameKind::SumTypeName, sum.type_name.emplace()))
        return false;
    if (!name(p, position, depth, "expected string scalar for enum variant",
              NameKind::PayloadVariant, sum.variant))
        return false;
    if (position >= p.size()) return eof(position);
    kind = p[position++];
    count = 0;
    constexpr std::uint8_t kUnit = payload_kind_byte(SumPayloadKind::Unit);
    if (kind == kUnit && !name_ok(NameKind::Variant, sum.variant)) return false;
    if (kind == payload_kind_byte(SumPayloadKind::Tuple) ||
        kind == payload_kind_byte(SumPayloadKind::Struct)) {
        DecodedVarint n{};
        if (!varint(p, position, n)) return false;
        position += n.length;
        count = n.value;
    } else if (kind != kUnit) {
        return detail("unknown enum payload kind " + std::to_string(kind));
    }
    return true;
}

bool Reader::sum(ByteSpan p, std::size_t depth, Value& out) {
    Sum sum;
    std::uint8_t kind = 0;
    std::size_t position = 0;
    std::uint64_t count = 0;
    if (!sum_head(p, depth, sum, kind, position, count)) return false;
    if (kind == payload_kind_byte(SumPayloadKind::Tuple)) {
        sum.payload.kind = SumPayloadKind::Tuple;
        auto& items = sum.payload.items;
        items.reserve(capped(count, p.size() - position, kShortHeaderSize));
        for (std::uint64_t i = 0; i < count; ++i)
            if (!next(p, position, depth, items.emplace_back(Scalar::null()))) return false;
    } else if (kind == payload_kind_byte(SumPayloadKind::Struct)) {
        sum.payload.kind = SumPayloadKind::Struct;
        if (!fields(p, position, count, depth, sum.payload.fields)) return false;
    }
    if (position != p.size()) return failed("enum payload trailing bytes");
    out = Value(std::move(sum));
    return true;
}

// The count of an indexed or inline layout at `position`, moved past it, and for the indexed
// layout the end of its offset table, checked to lie within the payload.
bool Reader::count_and_table(ByteSpan p, std::size_t& position, bool indexed, DecodedVarint& count,
                             std::uint64_t& table_end) {
    if (!varint(p, position, count)) return false;
    position += count.length;
    if (!indexed) return true;
    // Neither the table's size nor its end may wrap around: a count just below 2^62 would
    // otherwise pass as a small table and reserve room for all of its items.
    if (count.value > (UINT64_MAX - position) / 4) return overflow(count.value);
    table_end = position + count.value * 4;
    if (table_end > p.size()) return eof(table_end);
    return true;
}

bool Reader::entry_at(ByteSpan p, std::size_t table, std::uint64_t table_end, std::uint64_t i,
                      std::size_t& at) {
    at = table_end + load_u32_le(p.data() + table + i * 4);
    if (at >= p.size()) return eof(at);
    return true;
}

bool Reader::sequence_head(ByteSpan p, bool indexed, std::size_t depth,
                           std::optional<std::string>& elem_type, std::size_t& position,
                           DecodedVarint& count, std::uint64_t& table_end) {
    if (p.empty()) return eof(0);
    position = 1;
    if (p[0] == 1 && !name(p, position, depth, "expected string scalar for sequence element type",
                           NameKind::ElementType, elem_type.emplace()))
        return false;
    return count_and_table(p, position, indexed, count, table_end);
}

bool Reader::sequence(ByteSpan p, bool indexed, std::size_t depth, Value& out) {
    Sequence sequence;
    std::size_t position = 0;
    DecodedVarint count{};
    std::uint64_t table_end = 0;
    if (!sequence_head(p, indexed, depth, sequence.elem_type, position, count, table_end))
        return false;
    std::vector<Value>& items = sequence.items;
    if (indexed) {
        items.reserve(count.value);  // the table holds four bytes per item
        for (std::uint64_t i = 0; i < count.value; ++i) {
            std::size_t at = 0;
            if (!entry_at(p, position, table_end, i, at) ||
                !next(p, at, depth, items.emplace_back(Scalar::null())))
                return false;
        }
    } else {
        items.reserve(capped(count.value, p.size() - position, kShortHeaderSize));
        for (std::uint64_t i = 0; i < count.value; ++i)
            if (!next(p, position, depth, items.emplace_back(Scalar::null()))) return false;
        if (position != p.size()) return failed("sequence payload has trailing bytes");
    }
    out = Value(std::move(sequence));
    return true;
}

bool Reader::association(ByteSpan p, bool indexed, std::size_t depth, Value& out) {
    Association association;
    std::size_t position = 0;
    DecodedVarint count{};
    std::uint64_t table_end = 0;
    if (!count_and_table(p, position, indexed, count, table_end)) return false;
    auto& pairs = association.pairs;
    // An entry is a key segment directly followed by its value's.
    auto entry = [&](std::size_t& at) {
        auto& pair = pairs.emplace_back(Value(Scalar::null()), Value(Scalar::null()));
        return next(p, at, depth, pair.first) && next(p, at, depth, pair.second);
    };
    if (indexed) {
        pairs.reserve(count.value);
        for (std::uint64_t i = 0; i < count.value; ++i) {
            std::size_t at = 0;
            if (!entry_at(p, position, table_end, i, at) || !entry(at)) return false;
        }
    } else {
        pairs.reserve(capped(count.value, p.size() - position, 2 * kShortHeaderSize));
        for (std::uint64_t i = 0; i < count.value; ++i)
            if (!entry(position)) return false;
        if (position != p.size()) return failed("map payload has trailing bytes");
    }
    out = Value(std::move(association));
    return true;
}

bool Reader::tensor(ByteSpan p, Value& out) {
    if (p.size() < 4) return eof(p.size());
    Tensor tensor;
    const std::uint8_t code = p[0];
    const int dimensions = p[1];
    std::size_t position = 4;
    if (!charge(kElementCost * static_cast<std::uint64_t>(dimensions))) return false;
    tensor.shape.reserve(dimensions);
    for (int i = 0; i < dimensions; ++i) {
        DecodedVarint extent{};
        if (!varint(p, position, extent)) return false;
        position += extent.length;
        // Past it, the file would convert to text that does not read back.
        if (extent.value > kMaxTensorDimension) return failed("tensor dimension out of range");
        tensor.shape.push_back(extent.value == 0 ? std::nullopt
                                                 : std::optional<std::uint64_t>(extent.value));
    }
    if (p.size() - position < 8) return eof(position);
    const std::uint64_t count = load_u64_le(p.data() + position);
    position += 8;
    auto dense = [&](auto element) {
        using Element = decltype(element);
        if (count >= (std::uint64_t{1} << 61) || count * 8 > UINT64_MAX - position)
            return overflow(count);
        const std::uint64_t end = position + count * 8;
        if (end > p.size()) return eof(end);
        if (!spend_payload(count * 8)) return false;
        std::vector<Element> elements(count);
        for (std::uint64_t i = 0; i < count; ++i)
            elements[i] = std::bit_cast<Element>(load_u64_le(p.data() + position + i * 8));
        tensor.data.storage = std::move(elements);
        return true;
    };
    bool ok;
    switch (code) {
        case kElementF32:
        case kElementF64:
            tensor.element_type = code == kElementF32 ? "f32" : "f64";
            ok = dense(double{});
            break;
        case kElementI64:
            tensor.element_type = "i64";
            ok = dense(std::int64_t{});
            break;
        case kElementU64:
            tensor.element_type = "u64";
            ok = dense(std::uint64_t{});
            break;
        default:
            tensor.element_type = "bytes";
            ok = spend_payload(p.size() - position);
            if (ok) tensor.data.storage = Bytes(p.begin() + position, p.end());
            break;
    }
    if (!ok) return false;
    out = Value(std::move(tensor));
    return true;
}

bool Reader::reference(ByteSpan p, std::size_t depth, Value& out) {
    if (p.empty()) return eof(0);
    if (p[0] == reference_kind_byte(ReferenceKind::Binding)) {
        DecodedVarint length{};
        if (!varint(p, 1, length)) return false;
        const std::size_t start = 1 + length.length;
        if (length.value > SIZE_MAX - start) return overflow(length.value);
        const std::size_t end = start + length.value;
        if (end > p.size()) return eof(end);
        if (!spend_payload(length.value)) return false;
        const ByteSpan text = p.subspan(start, length.value);
        if (!is_valid_utf8(text.data(), text.size())) return bad_utf8(start);
        std::string name = to_string(text);
        if (!name_ok(NameKind::BindingName, name)) return false;
        out = Value(Reference::to_binding(std::move(name)));
        return true;
    }
    if (p[0] == reference_kind_byte(ReferenceKind::ById)) {
        Value boxed(Scalar::null());
        std::size_t position = 1;
        if (!next(p, position, depth, boxed)) return false;
        if (position != p.size()) return failed("reference-by-id payload trailing bytes");
        out = Value(Reference::by_id(std::move(boxed)));
        return true;
    }
    return detail("unknown reference kind " + std::to_string(p[0]));
}

bool Reader::stream(ByteSpan p, std::size_t depth, Value& out) {
    Stream stream;
    std::size_t position = 0;
    if (!name(p, position, depth, "expected string scalar for stream item type", NameKind::ItemType,
              stream.item_type))
        return false;
    DecodedVarint count{};
    if (!varint(p, position, count)) return false;
    position += count.length;
    // An annotation is a name segment and a flag byte.
    stream.annotations.reserve(capped(count.value, p.size() - position, kShortHeaderSize + 1));
    for (std::uint64_t i = 0; i < count.value; ++i) {
        if (position >= p.size()) return eof(position);
        if (!charge(kNodeCost)) return false;
        Annotation& annotation = stream.annotations.emplace_back();
        if (!name(p, position, depth, "expected string scalar for annotation name",
                  NameKind::Annotation, annotation.name))
            return false;
        if (position >= p.size()) return eof(position);
        if (p[position++] == 1) {
            Value value(Scalar::null());
            if (!next(p, position, depth, value)) return false;
            if (!value.is_scalar()) return failed("stream annotation value must be scalar");
            annotation.value = value.scalar();
        }
    }
    if (position != p.size()) return failed("stream payload trailing bytes");
    out = Value(std::move(stream));
    return true;
}

bool Reader::annotation(ByteSpan p, std::size_t depth, Value& out) {
    std::string text;
    std::size_t position = 0;
    if (!name(p, position, depth, "expected string scalar for annotation name",
              NameKind::Annotation, text))
        return false;
    if (position >= p.size()) return eof(position);
    const bool has_value = p[position++] == 1;
    if (has_value) {
        Value value(Scalar::null());
        if (!next(p, position, depth, value)) return false;
        if (!value.is_scalar()) return failed("annotation value must be scalar");
    }
    if (position != p.size()) return failed("annotation payload trailing bytes");
    text += has_value ? "=true" : "=false";
    out = Value(Opaque{"annotation", Bytes(text.begin(), text.end())});
    return true;
}

// A varint length at `position` and the bytes it announces, checked against the payload.
bool Reader::part(ByteSpan p, std::size_t& position, ByteSpan& out) {
    DecodedVarint length{};
    if (!varint(p, position, length)) return false;
    const std::size_t start = position + length.length;
    if (length.value > SIZE_MAX - start) return overflow(length.value);
    const std::size_t end = start + length.value;
    if (end > p.size()) return eof(end);
    if (!spend_payload(length.value)) return false;
    position = end;
    out = p.subspan(start, length.value);
    return true;
}

bool Reader::opaque(ByteSpan p, bool tagged, Value& out) {
    std::size_t position = 0;
    ByteSpan first, second;
    if (!part(p, position, first)) return false;
    if (!is_valid_utf8(first.data(), first.size()))
        return bad_utf8(static_cast<std::size_t>(first.data() - p.data()));
    if (!part(p, position, second)) return false;
    if (position != p.size()) return failed("opaque payload trailing bytes");
    const std::string_view first_text(reinterpret_cast<const char*>(first.data()), first.size());
    if (!name_ok(tagged ? NameKind::Tag : NameKind::TypeTag, first_text)) return false;
    if (tagged) {
        if (!is_valid_utf8(second.data(), second.size()))
            return detail("invalid opaque tagged utf8: " +
                          describe_utf8_fault(second.data(), second.size()));
        out = Value(Scalar::tagged(to_string(first), to_string(second)));
    } else {
        out = Value(Opaque{to_string(first), Bytes(second.begin(), second.end())});
    }
    return true;
}

}  // namespace

Result<DecodedSegment> decode_root_segment(std::span<const std::uint8_t> body, std::size_t offset,
                                           std::span<const std::string> symbols,
                                           MemoryMeter& meter) {
    Reader reader(symbols, body.size(), meter);
    DecodedSegment root{Value(Scalar::null()), 0};
    if (!reader.segment(body, offset, 0, root.value, root.size))
        return fail(std::move(*reader.error()));
    return root;
}

struct SegmentWalker::State {
    Reader reader;
    std::optional<std::string> name;  // type names and element types, read only to be checked
    Sum sum;
};

SegmentWalker::SegmentWalker(std::span<const std::string> symbols, std::size_t body_size,
                             MemoryMeter& meter)
    : state_(std::make_unique<State>(State{Reader(symbols, body_size, meter), {}, {}})) {}

SegmentWalker::~SegmentWalker() = default;

bool SegmentWalker::locate(std::span<const std::uint8_t> bytes, std::size_t offset,
                           std::size_t depth, Segment& out) {
    return state_->reader.header(bytes, offset, depth, out);
}

bool SegmentWalker::decode(const Segment& segment, std::size_t depth, Value& out) {
    return state_->reader.payload(segment, depth, out);
}

bool SegmentWalker::product_children(const Segment& product, std::size_t depth, Children& out) {
    out = Children{};
    return state_->reader.product_head(product.payload, depth + 1, state_->name, out.position,
                                       out.count);
}

bool SegmentWalker::sum_children(const Segment& sum, std::size_t depth, std::uint8_t& kind,
                                 Children& out) {
    out = Children{};
    return state_->reader.sum_head(sum.payload, depth + 1, state_->sum, kind, out.position,
                                   out.count);
}

bool SegmentWalker::sequence_children(const Segment& sequence, std::size_t depth, Children& out) {
    out = Children{};
    out.indexed = config_of(sequence.tag) >= config::kIndexed;
    DecodedVarint count{};
    if (!state_->reader.sequence_head(sequence.payload, out.indexed, depth + 1, state_->name,
                                      out.position, count, out.table_end))
        return false;
    out.count = count.value;
    return true;
}

bool SegmentWalker::association_children(const Segment& association, Children& out) {
    out = Children{};
    out.indexed = config_of(association.tag) >= config::kIndexed;
    DecodedVarint count{};
    if (!state_->reader.count_and_table(association.payload, out.position, out.indexed, count,
                                        out.table_end))
        return false;
    out.count = count.value;
    return true;
}

bool SegmentWalker::child_at(const Segment& parent, const Children& children, std::uint64_t i,
                             std::size_t& at) {
    return state_->reader.entry_at(parent.payload, children.position, children.table_end, i, at);
}

bool SegmentWalker::field_name(const Segment& parent, std::size_t& position, std::size_t depth,
                               std::string& out) {
    return state_->reader.field_name(parent.payload, position, depth + 1, out);
}

bool SegmentWalker::key_text(const Segment& key, std::size_t depth, std::string& out,
                             bool& is_text) {
    // What decodes to a Str or a Sym scalar: text and symbol segments, and the empty text.
    const std::uint8_t type = type_of(key.tag);
    is_text = type == type::kStr || type == type::kSymbol || key.tag == tag::kEmptyStr;
    // A symbol is a name wherever it stands, a text key any text (as the decoder reads them).
    const auto kind = type == type::kSymbol ? std::optional(NameKind::Symbol) : std::nullopt;
    return !is_text || state_->reader.named(key, depth, "", kind, out);
}

bool SegmentWalker::failed(const char* detail) { return state_->reader.failed(detail); }

DralError SegmentWalker::take_error() { return std::move(*state_->reader.error()); }

Result<DecodedSegment> decode_root_segment(std::span<const std::uint8_t> body, std::size_t offset,
                                           std::span<const std::string> symbols) {
    MemoryMeter meter(kMemoryLimit);
    return decode_root_segment(body, offset, symbols, meter);
}

}  // namespace dral_core::rfc001::cbf
