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
// Every file the writer produces shares no bytes between segments and passes all three.
#include <bit>
#include <cstring>

#include "encoding/checksum.hpp"
#include "encoding/utf8.hpp"
#include "encoding/utf8_fault.hpp"
#include "encoding/varint.hpp"
#include "rfc001/cbf/little_endian.hpp"
#include "rfc001/cbf/segment.hpp"

namespace dral_core::rfc001::cbf {
namespace {

using ByteSpan = std::span<const std::uint8_t>;

inline constexpr std::uint64_t kSymbolTextFactor = 64;
inline constexpr std::uint64_t kSymbolTextAllowance = std::uint64_t{64} << 20;

[[gnu::cold]] DralError data_error(const char* detail) { return DralError::invalid_data(detail); }

[[gnu::cold]] DralError unsupported(std::uint8_t segment_tag) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string detail = "unsupported segment type/config: 0x";
    detail += kHex[segment_tag >> 4];
    detail += "/0x";
    detail += kHex[segment_tag & 0x0F];
    return DralError::invalid_data(std::move(detail));
}

[[gnu::cold]] DralError expected_string(const char* what) {
    return DralError::invalid_data(std::string("expected string scalar for ") + what);
}

std::string to_string(ByteSpan bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A segment's header as read, its payload located in the slice that holds it.
struct Segment {
    std::uint8_t tag;
    ByteSpan payload;
    std::size_t payload_start;  // in the enclosing slice
    std::uint64_t size;         // header and payload
};

// A text and the size of the segment it came from.
struct Name {
    std::string text;
    std::uint64_t size;
};

class Reader {
public:
    Reader(std::span<const std::string> symbols, std::size_t body_size)
        : symbols_(symbols),
          segments_left_(body_size / 4 > 0 ? body_size / 4 : 1),
          payload_bytes_left_(body_size),
          symbol_text_left_(body_size > (UINT64_MAX - kSymbolTextAllowance) / kSymbolTextFactor
                                ? UINT64_MAX
                                : body_size * kSymbolTextFactor + kSymbolTextAllowance) {}

    Result<DecodedSegment> segment(ByteSpan bytes, std::size_t offset, std::size_t depth) {
        DRAL_ASSIGN_OR_RETURN(const Segment s, header(bytes, offset, depth));
        DRAL_ASSIGN_OR_RETURN(Value value, payload(s, depth));
        return DecodedSegment{std::move(value), s.size};
    }

private:
    // ---- framing and budgets

    Result<Segment> header(ByteSpan bytes, std::size_t offset, std::size_t depth) {
        if (depth > kMaxSegmentDepth) [[unlikely]]
            return fail(DralError::depth_exceeded(depth, kMaxSegmentDepth));
        if (segments_left_ == 0) [[unlikely]]
            return fail(data_error("segment count exceeds body size"));
        --segments_left_;
        if (offset > bytes.size() || bytes.size() - offset < kShortHeaderSize)
            return fail(DralError::unexpected_eof(offset));
        const std::uint8_t* p = bytes.data() + offset;
        std::uint64_t length = load_u24_le(p + 1);
        std::size_t header_size = kShortHeaderSize;
        if (length == kLongLength) {
            if (bytes.size() - offset < kLongHeaderSize)
                return fail(DralError::unexpected_eof(offset + kShortHeaderSize));
            length = load_u64_le(p + kShortHeaderSize);
            header_size = kLongHeaderSize;
        }
        const std::size_t start = offset + header_size;
        if (length > SIZE_MAX - start) return fail(DralError::length_overflow(length));
        const std::size_t end = start + length;
        if (end > bytes.size()) return fail(DralError::unexpected_eof(end));
        return Segment{p[0], bytes.subspan(start, length), start, header_size + length};
    }

    Status spend_payload(std::uint64_t n) {
        if (n > payload_bytes_left_) [[unlikely]]
            return fail(data_error("decoded bytes exceed body size"));
        payload_bytes_left_ -= n;
        return {};
    }

    Result<const std::string*> symbol_entry(const Segment& s) {
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint index, decode_varint(s.payload, 0));
        if (index.length != s.payload.size())
            return fail(data_error("symbol segment has trailing payload"));
        if (index.value >= symbols_.size())
            return fail(DralError::invalid_reference(index.value, symbols_.size()));
        const std::string& entry = symbols_[index.value];
        if (entry.size() > symbol_text_left_) [[unlikely]]
            return fail(data_error("decoded symbol text exceeds limit"));
        symbol_text_left_ -= entry.size();
        return &entry;
    }

    Result<std::string> utf8_text(const Segment& s) {
        DRAL_TRY(spend_payload(s.payload.size()));
        if (!is_valid_utf8(s.payload.data(), s.payload.size()))
            return fail(DralError::invalid_utf8(s.payload_start));
        return to_string(s.payload);
    }

    // ---- names

    // A segment that must decode to a Str or a Sym, for a name. Texts are taken straight from the
    // payload or the table; anything else is decoded in full first, as any segment would be.
    template <class Refuse>
    Result<Name> text_segment(ByteSpan bytes, std::size_t offset, std::size_t depth,
                              Refuse refuse) {
        DRAL_ASSIGN_OR_RETURN(const Segment s, header(bytes, offset, depth));
        switch (s.tag >> 4) {
            case 1: {
                DRAL_ASSIGN_OR_RETURN(std::string text, utf8_text(s));
                return Name{std::move(text), s.size};
            }
            case 3: {
                DRAL_ASSIGN_OR_RETURN(const std::string* entry, symbol_entry(s));
                return Name{*entry, s.size};
            }
            default:
                break;
        }
        DRAL_ASSIGN_OR_RETURN(const Value value, payload(s, depth));
        if (!value.is_scalar() || !value.scalar().is_text()) return fail(refuse());
        return Name{value.scalar().text(), s.size};
    }

    Result<Name> name(ByteSpan bytes, std::size_t offset, std::size_t depth, const char* what) {
        return text_segment(bytes, offset, depth, [what] { return expected_string(what); });
    }

    Result<Name> field_name(ByteSpan bytes, std::size_t offset, std::size_t depth) {
        return text_segment(bytes, offset, depth,
                            [] { return data_error("field name segment must be str or sym"); });
    }

    // ---- payloads

    Result<Value> payload(const Segment& s, std::size_t depth);
    Result<Value> primitive(const Segment& s);
    Result<Value> product(ByteSpan p, std::size_t depth);
    Result<Value> sum(ByteSpan p, std::size_t depth);
    Result<Value> sequence(ByteSpan p, bool indexed, std::size_t depth);
    Result<Value> association(ByteSpan p, bool indexed, std::size_t depth);
    Result<Value> tensor(ByteSpan p);
    Result<Value> reference(ByteSpan p, std::size_t depth);
    Result<Value> stream(ByteSpan p, std::size_t depth);
    Result<Value> annotation(ByteSpan p, std::size_t depth);
    Result<Value> opaque(ByteSpan p, bool tagged);
    Result<std::vector<Field>> fields(ByteSpan p, std::size_t& position, std::uint64_t count,
                                      std::size_t depth);
    Result<std::vector<std::uint64_t>> dimensions(ByteSpan p, std::size_t& position, int count);

    // Room for `count` elements of at least `min_size` bytes each among `left` bytes: a count
    // the bytes cannot hold fails on reading anyway, and must not reserve first.
    static std::size_t capped(std::uint64_t count, std::size_t left, std::size_t min_size) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(count, left / min_size));
    }

    std::span<const std::string> symbols_;
    std::uint64_t segments_left_;
    std::uint64_t payload_bytes_left_;
    std::uint64_t symbol_text_left_;
};

Result<Value> Reader::payload(const Segment& s, std::size_t depth) {
    const std::uint8_t config = s.tag & 0x0F;
    const std::size_t inner = depth + 1;
    switch (s.tag >> 4) {
        case 0:
            return primitive(s);
        case 1: {
            DRAL_ASSIGN_OR_RETURN(std::string text, utf8_text(s));
            return Value(Scalar::str(std::move(text)));
        }
        case 2:
            DRAL_TRY(spend_payload(s.payload.size()));
            return Value(Scalar::bytes(Bytes(s.payload.begin(), s.payload.end())));
        case 3: {
            DRAL_ASSIGN_OR_RETURN(const std::string* entry, symbol_entry(s));
            return Value(Scalar::sym(*entry));
        }
        case 4:
            return product(s.payload, inner);
        case 5:
            return sum(s.payload, inner);
        case 6:
            return sequence(s.payload, config >= 8, inner);
        case 7:
            return association(s.payload, config >= 8, inner);
        case 8:
            return tensor(s.payload);
        case 9:
            return reference(s.payload, inner);
        case 10:
            return stream(s.payload, inner);
        case 11:
            return annotation(s.payload, inner);
        case 13:
            return opaque(s.payload, config == 0);
        case 15:
            switch (config) {
                case 0:
                    return Value(Scalar::null());
                case 1:
                    return Value(Scalar::unit());
                case 2:
                    return Value(Scalar::boolean(true));
                case 3:
                    return Value(Scalar::boolean(false));
                case 4:
                    return Value(Sequence{});
                case 5:
                    return Value(Association{});
                case 6:
                    return Value(Scalar::str({}));
                case 7:
                    return Value(Scalar::bytes({}));
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return fail(unsupported(s.tag));
}

Result<Value> Reader::primitive(const Segment& s) {
    const ByteSpan p = s.payload;
    auto fixed = [&](std::size_t size, const char* message) -> Status {
        if (p.size() != size) return fail(data_error(message));
        return {};
    };
    auto whole_varint = [&]() -> Result<std::uint64_t> {
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint v, decode_varint(p, 0));
        if (v.length != p.size()) return fail(data_error("varint primitive trailing bytes"));
        return v.value;
    };
    switch (s.tag & 0x0F) {
        case 3:
            DRAL_TRY(fixed(8, "invalid i64 primitive payload size"));
            return Value(Scalar::i64(static_cast<std::int64_t>(load_u64_le(p.data()))));
        case 8:
            DRAL_TRY(fixed(8, "invalid u64 primitive payload size"));
            return Value(Scalar::u64(load_u64_le(p.data())));
        case 10: {
            DRAL_ASSIGN_OR_RETURN(const std::uint64_t u, whole_varint());
            return Value(Scalar::vi64(zigzag_decode(u)));
        }
        case 11: {
            DRAL_ASSIGN_OR_RETURN(const std::uint64_t u, whole_varint());
            return Value(Scalar::vu64(u));
        }
        case 12:
            DRAL_TRY(fixed(4, "invalid f32 primitive payload size"));
            return Value(Scalar::f32(std::bit_cast<float>(load_u32_le(p.data()))));
        case 13:
            DRAL_TRY(fixed(8, "invalid f64 primitive payload size"));
            return Value(Scalar::f64(std::bit_cast<double>(load_u64_le(p.data()))));
        default:
            return fail(unsupported(s.tag));
    }
}

Result<std::vector<Field>> Reader::fields(ByteSpan p, std::size_t& position, std::uint64_t count,
                                          std::size_t depth) {
    std::vector<Field> list;
    // A field is two segments of at least four bytes each.
    list.reserve(capped(count, p.size() - position, 2 * kShortHeaderSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        DRAL_ASSIGN_OR_RETURN(Name field, field_name(p, position, depth));
        position += field.size;
        DRAL_ASSIGN_OR_RETURN(DecodedSegment item, segment(p, position, depth));
        position += item.size;
        list.push_back(Field{std::move(field.text), std::move(item.value)});
    }
    return list;
}

Result<Value> Reader::product(ByteSpan p, std::size_t depth) {
    if (p.empty()) return fail(DralError::unexpected_eof(0));
    Product product;
    std::size_t position = 1;
    if (p[0] == 1) {
        DRAL_ASSIGN_OR_RETURN(Name type_name, name(p, position, depth, "struct type name"));
        position += type_name.size;
        product.type_name = std::move(type_name.text);
    }
    DRAL_ASSIGN_OR_RETURN(const DecodedVarint count, decode_varint(p, position));
    position += count.length;
    DRAL_ASSIGN_OR_RETURN(product.fields, fields(p, position, count.value, depth));
    if (position != p.size()) return fail(data_error("struct payload has trailing bytes"));
    return Value(std::move(product));
}

Result<Value> Reader::sum(ByteSpan p, std::size_t depth) {
    if (p.empty()) return fail(DralError::unexpected_eof(0));
    Sum sum;
    std::size_t position = 1;
    if (p[0] == 1) {
        DRAL_ASSIGN_OR_RETURN(Name type_name, name(p, position, depth, "enum type name"));
        position += type_name.size;
        sum.type_name = std::move(type_name.text);
    }
    DRAL_ASSIGN_OR_RETURN(Name variant, name(p, position, depth, "enum variant"));
    position += variant.size;
    sum.variant = std::move(variant.text);
    if (position >= p.size()) return fail(DralError::unexpected_eof(position));
    const std::uint8_t kind = p[position++];
    if (kind == 1) {
        sum.payload.kind = SumPayloadKind::Tuple;
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint count, decode_varint(p, position));
        position += count.length;
        sum.payload.items.reserve(capped(count.value, p.size() - position, kShortHeaderSize));
        for (std::uint64_t i = 0; i < count.value; ++i) {
            DRAL_ASSIGN_OR_RETURN(DecodedSegment item, segment(p, position, depth));
            position += item.size;
            sum.payload.items.push_back(std::move(item.value));
        }
    } else if (kind == 2) {
        sum.payload.kind = SumPayloadKind::Struct;
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint count, decode_varint(p, position));
        position += count.length;
        DRAL_ASSIGN_OR_RETURN(sum.payload.fields, fields(p, position, count.value, depth));
    } else if (kind != 0) {
        return fail(DralError::invalid_data("unknown enum payload kind " + std::to_string(kind)));
    }
    if (position != p.size()) return fail(data_error("enum payload trailing bytes"));
    return Value(std::move(sum));
}

Result<Value> Reader::sequence(ByteSpan p, bool indexed, std::size_t depth) {
    if (p.empty()) return fail(DralError::unexpected_eof(0));
    Sequence sequence;
    std::size_t position = 1;
    if (p[0] == 1) {
        DRAL_ASSIGN_OR_RETURN(Name elem_type, name(p, position, depth, "sequence element type"));
        position += elem_type.size;
        sequence.elem_type = std::move(elem_type.text);
    }
    DRAL_ASSIGN_OR_RETURN(const DecodedVarint count, decode_varint(p, position));
    position += count.length;
    std::vector<Value>& items = sequence.items;
    if (indexed) {
        if (count.value > UINT64_MAX / 4) return fail(DralError::length_overflow(count.value));
        const std::uint64_t table_end = position + count.value * 4;
        if (table_end > p.size()) return fail(DralError::unexpected_eof(table_end));
        items.reserve(count.value);  // the table holds four bytes per item
        for (std::uint64_t i = 0; i < count.value; ++i) {
            const std::uint64_t at = table_end + load_u32_le(p.data() + position + i * 4);
            if (at >= p.size()) return fail(DralError::unexpected_eof(at));
            DRAL_ASSIGN_OR_RETURN(DecodedSegment item, segment(p, at, depth));
            items.push_back(std::move(item.value));
        }
    } else {
        items.reserve(capped(count.value, p.size() - position, kShortHeaderSize));
        for (std::uint64_t i = 0; i < count.value; ++i) {
            DRAL_ASSIGN_OR_RETURN(DecodedSegment item, segment(p, position, depth));
            position += item.size;
            items.push_back(std::move(item.value));
        }
        if (position != p.size()) return fail(data_error("sequence payload has trailing bytes"));
    }
    return Value(std::move(sequence));
}

Result<Value> Reader::association(ByteSpan p, bool indexed, std::size_t depth) {
    DRAL_ASSIGN_OR_RETURN(const DecodedVarint count, decode_varint(p, 0));
    std::size_t position = count.length;
    Association association;
    auto& pairs = association.pairs;
    auto entry = [&](std::size_t at) -> Result<std::uint64_t> {
        DRAL_ASSIGN_OR_RETURN(DecodedSegment key, segment(p, at, depth));
        DRAL_ASSIGN_OR_RETURN(DecodedSegment item, segment(p, at + key.size, depth));
        pairs.emplace_back(std::move(key.value), std::move(item.value));
        return key.size + item.size;
    };
    if (indexed) {
        if (count.value > UINT64_MAX / 4) return fail(DralError::length_overflow(count.value));
        const std::uint64_t table_end = position + count.value * 4;
        if (table_end > p.size()) return fail(DralError::unexpected_eof(table_end));
        pairs.reserve(count.value);
        for (std::uint64_t i = 0; i < count.value; ++i) {
            const std::uint64_t at = table_end + load_u32_le(p.data() + position + i * 4);
            if (at >= p.size()) return fail(DralError::unexpected_eof(at));
            DRAL_TRY(entry(at));
        }
    } else {
        pairs.reserve(capped(count.value, p.size() - position, 2 * kShortHeaderSize));
        for (std::uint64_t i = 0; i < count.value; ++i) {
            DRAL_ASSIGN_OR_RETURN(const std::uint64_t size, entry(position));
            position += size;
        }
        if (position != p.size()) return fail(data_error("map payload has trailing bytes"));
    }
    return Value(std::move(association));
}

Result<Value> Reader::tensor(ByteSpan p) {
    if (p.size() < 4) return fail(DralError::unexpected_eof(p.size()));
    Tensor tensor;
    const std::uint8_t code = p[0];
    const int dimensions = p[1];
    std::size_t position = 4;
    tensor.shape.reserve(dimensions);
    for (int i = 0; i < dimensions; ++i) {
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint extent, decode_varint(p, position));
        position += extent.length;
        tensor.shape.push_back(extent.value == 0 ? std::nullopt
                                                 : std::optional<std::uint64_t>(extent.value));
    }
    if (p.size() - position < 8)
        return fail(DralError::unexpected_eof(dimensions == 0 ? 4 : position));
    const std::uint64_t count = load_u64_le(p.data() + position);
    position += 8;
    auto dense = [&](auto element) -> Status {
        using Element = decltype(element);
        if (count >= (std::uint64_t{1} << 61)) return fail(DralError::length_overflow(count));
        const std::uint64_t end = position + count * 8;
        if (end > p.size()) return fail(DralError::unexpected_eof(end));
        DRAL_TRY(spend_payload(count * 8));
        std::vector<Element> elements(count);
        for (std::uint64_t i = 0; i < count; ++i)
            elements[i] = std::bit_cast<Element>(load_u64_le(p.data() + position + i * 8));
        tensor.data.storage = std::move(elements);
        return {};
    };
    switch (code) {
        case kElementF32:
        case kElementF64:
            tensor.element_type = code == kElementF32 ? "f32" : "f64";
            DRAL_TRY(dense(double{}));
            break;
        case kElementI64:
            tensor.element_type = "i64";
            DRAL_TRY(dense(std::int64_t{}));
            break;
        case kElementU64:
            tensor.element_type = "u64";
            DRAL_TRY(dense(std::uint64_t{}));
            break;
        default:
            tensor.element_type = "bytes";
            DRAL_TRY(spend_payload(p.size() - position));
            tensor.data.storage = Bytes(p.begin() + position, p.end());
            break;
    }
    return Value(std::move(tensor));
}

Result<Value> Reader::reference(ByteSpan p, std::size_t depth) {
    if (p.empty()) return fail(DralError::unexpected_eof(0));
    if (p[0] == 0) {
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint length, decode_varint(p, 1));
        const std::size_t start = 1 + length.length;
        if (length.value > SIZE_MAX - start) return fail(DralError::length_overflow(length.value));
        const std::size_t end = start + length.value;
        if (end > p.size()) return fail(DralError::unexpected_eof(end));
        DRAL_TRY(spend_payload(length.value));
        const ByteSpan text = p.subspan(start, length.value);
        if (!is_valid_utf8(text.data(), text.size())) return fail(DralError::invalid_utf8(start));
        return Value(Reference::to_binding(to_string(text)));
    }
    if (p[0] == 1) {
        DRAL_ASSIGN_OR_RETURN(DecodedSegment boxed, segment(p, 1, depth));
        if (1 + boxed.size != p.size())
            return fail(data_error("reference-by-id payload trailing bytes"));
        return Value(Reference::by_id(std::move(boxed.value)));
    }
    return fail(DralError::invalid_data("unknown reference kind " + std::to_string(p[0])));
}

Result<Value> Reader::stream(ByteSpan p, std::size_t depth) {
    Stream stream;
    DRAL_ASSIGN_OR_RETURN(Name item_type, name(p, 0, depth, "stream item type"));
    std::size_t position = item_type.size;
    stream.item_type = std::move(item_type.text);
    DRAL_ASSIGN_OR_RETURN(const DecodedVarint count, decode_varint(p, position));
    position += count.length;
    // An annotation is a name segment and a flag byte.
    stream.annotations.reserve(capped(count.value, p.size() - position, kShortHeaderSize + 1));
    for (std::uint64_t i = 0; i < count.value; ++i) {
        if (position >= p.size()) return fail(DralError::unexpected_eof(position));
        DRAL_ASSIGN_OR_RETURN(Name annotation_name, name(p, position, depth, "annotation name"));
        position += annotation_name.size;
        if (position >= p.size()) return fail(DralError::unexpected_eof(position));
        Annotation annotation{std::move(annotation_name.text), std::nullopt};
        if (p[position++] == 1) {
            DRAL_ASSIGN_OR_RETURN(DecodedSegment value, segment(p, position, depth));
            if (!value.value.is_scalar())
                return fail(data_error("stream annotation value must be scalar"));
            position += value.size;
            annotation.value = value.value.scalar();
        }
        stream.annotations.push_back(std::move(annotation));
    }
    if (position != p.size()) return fail(data_error("stream payload trailing bytes"));
    return Value(std::move(stream));
}

Result<Value> Reader::annotation(ByteSpan p, std::size_t depth) {
    DRAL_ASSIGN_OR_RETURN(Name annotation_name, name(p, 0, depth, "annotation name"));
    std::size_t position = annotation_name.size;
    if (position >= p.size()) return fail(DralError::unexpected_eof(position));
    const bool has_value = p[position++] == 1;
    if (has_value) {
        DRAL_ASSIGN_OR_RETURN(const DecodedSegment value, segment(p, position, depth));
        if (!value.value.is_scalar()) return fail(data_error("annotation value must be scalar"));
        position += value.size;
    }
    if (position != p.size()) return fail(data_error("annotation payload trailing bytes"));
    std::string text = std::move(annotation_name.text);
    text += has_value ? "=true" : "=false";
    return Value(Opaque{"annotation", Bytes(text.begin(), text.end())});
}

Result<Value> Reader::opaque(ByteSpan p, bool tagged) {
    // A varint length and the bytes it announces, checked against the payload.
    std::size_t position = 0;
    auto part = [&]() -> Result<ByteSpan> {
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint length, decode_varint(p, position));
        const std::size_t start = position + length.length;
        if (length.value > SIZE_MAX - start) return fail(DralError::length_overflow(length.value));
        const std::size_t end = start + length.value;
        if (end > p.size()) return fail(DralError::unexpected_eof(end));
        DRAL_TRY(spend_payload(length.value));
        position = end;
        return p.subspan(start, length.value);
    };
    DRAL_ASSIGN_OR_RETURN(const ByteSpan first, part());
    if (!is_valid_utf8(first.data(), first.size()))
        return fail(DralError::invalid_utf8(static_cast<std::size_t>(first.data() - p.data())));
    DRAL_ASSIGN_OR_RETURN(const ByteSpan second, part());
    if (position != p.size()) return fail(data_error("opaque payload trailing bytes"));
    if (tagged) {
        if (!is_valid_utf8(second.data(), second.size()))
            return fail(DralError::invalid_data("invalid opaque tagged utf8: " +
                                                describe_utf8_fault(second.data(), second.size())));
        return Value(Scalar::tagged(to_string(first), to_string(second)));
    }
    return Value(Opaque{to_string(first), Bytes(second.begin(), second.end())});
}

}  // namespace

Result<DecodedSegment> decode_root_segment(std::span<const std::uint8_t> body, std::size_t offset,
                                           std::span<const std::string> symbols) {
    return Reader(symbols, body.size()).segment(body, offset, 0);
}

}  // namespace dral_core::rfc001::cbf
