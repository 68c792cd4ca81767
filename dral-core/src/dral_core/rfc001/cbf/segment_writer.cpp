// The segment encoder. Segments are written in place: a composite's header is reserved in its
// short form, the payload written after it (children included), and the length filled in at the
// end; the rare payload of 0xFFFFFF bytes or more is moved up to make room for the long form.
// Offset tables are reserved the same way and filled as the items are written. Nothing is
// written past a cap: an inlined root may stand for far more bytes than its document.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/encoding/float_text.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/rfc001/cbf/segment.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::cbf {
namespace {

[[gnu::cold]] DralError missing_symbol(std::string_view symbol) {
    return DralError::invalid_data("missing symbol table entry '" + std::string(symbol) + "'");
}

[[gnu::cold]] DralError missing_field(std::string_view name) {
    return DralError::invalid_data("missing symbol table entry for field '" + std::string(name) +
                                   "'");
}

// The text of a tensor value in a message: shortest round-trip digits, as CTN writes numbers.
[[gnu::cold]] std::string number_text(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    std::string text;
    append_float_positional(text, value);
    return text;
}

template <class Number>
[[gnu::cold]] DralError misfit(Number value, std::string_view type) {
    std::string text;
    if constexpr (std::is_floating_point_v<Number>)
        text = number_text(value);
    else
        text = std::to_string(value);
    return DralError::invalid_data("tensor value " + text + " does not fit element type " +
                                   std::string(type));
}

std::uint8_t element_code(std::string_view element_type) {
    if (element_type == "f32") return kElementF32;
    if (element_type == "f64") return kElementF64;
    if (element_type == "i64") return kElementI64;
    if (element_type == "u64") return kElementU64;
    return kElementOther;
}

// Members report failure by returning false after recording the error: a bool keeps the frames
// of the recursion small, and it runs as deep as the inlined root nests.
class Writer {
public:
    Writer(const ResolvedRoot& resolved, const CbfEncodeContext& context, ByteBuffer& out,
           MemoryMeter& meter)
        : resolved_(resolved),
          context_(context),
          out_(out),
          meter_(meter),
          start_(out.size()),
          cap_(start_ + static_cast<std::size_t>(std::min<std::uint64_t>(
                            meter.remaining() / kOutputCopies, SIZE_MAX - start_))) {}

    std::optional<DralError>& error() { return error_; }

    bool value(const Value& input) {
        if (error_) [[unlikely]]
            return false;
        const Value& v = resolved_.through(input);
        switch (v.kind()) {
            case ValueKind::Scalar:
                return scalar(v.scalar());
            case ValueKind::Product:
                return product(v.product());
            case ValueKind::Sum:
                return sum(v.sum());
            case ValueKind::Sequence:
                return sequence(v.sequence());
            case ValueKind::Association:
                return association(v.association());
            case ValueKind::Reference:
                return reference(v.reference());
            case ValueKind::Tensor:
                return tensor(v.tensor());
            case ValueKind::Stream:
                return stream(v.stream());
            case ValueKind::Opaque:
                two_parts(tag::kOpaque, v.opaque().type_tag,
                          {reinterpret_cast<const char*>(v.opaque().bytes.data()),
                           v.opaque().bytes.size()});
                return true;
        }
        return true;
    }

private:
    // Out of line, so that no frame of the recursion holds an error being built.
    [[gnu::cold, gnu::noinline]] bool failed(const char* detail) {
        error_ = DralError::invalid_data(detail);
        return false;
    }
    [[gnu::cold, gnu::noinline]] bool failed_symbol(std::string_view symbol) {
        error_ = missing_symbol(symbol);
        return false;
    }
    [[gnu::cold, gnu::noinline]] bool failed_field(std::string_view name) {
        error_ = missing_field(name);
        return false;
    }
    template <class Number>
    [[gnu::cold, gnu::noinline]] bool failed_misfit(Number value, std::string_view type) {
        error_ = misfit(value, type);
        return false;
    }

    // Whether `n` more bytes stay within the cap. Past it the error is kept and nothing more
    // is written; the next value sees the error.
    bool fits(std::size_t n) {
        if (out_.size() <= cap_ && n <= cap_ - out_.size()) [[likely]]
            return true;
        return past_cap(n);
    }
    [[gnu::cold, gnu::noinline]] bool past_cap(std::size_t n) {
        if (!error_) {
            const std::uint64_t wanted = out_.size() - start_ + n;
            error_ = DralError::memory_limit_exceeded(meter_.used() + kOutputCopies * wanted,
                                                      meter_.limit());
        }
        return false;
    }

    // ---- framing

    void header(std::uint8_t segment_tag, std::uint64_t length) {
        if (length < kLongLength) {
            std::uint8_t* p = out_.prepare(kShortHeaderSize);
            p[0] = segment_tag;
            p[1] = static_cast<std::uint8_t>(length);
            p[2] = static_cast<std::uint8_t>(length >> 8);
            p[3] = static_cast<std::uint8_t>(length >> 16);
            out_.advance(kShortHeaderSize);
        } else {
            std::uint8_t* p = out_.prepare(kLongHeaderSize);
            p[0] = segment_tag;
            p[1] = p[2] = p[3] = 0xFF;
            store_u64_le(p + 4, length);
            out_.advance(kLongHeaderSize);
        }
    }

    void constant(std::uint8_t segment_tag) { header(segment_tag, 0); }

    // Starts a segment whose length is known only at its end; returns where it starts.
    std::size_t open() {
        std::size_t start = out_.size();
        out_.prepare(kShortHeaderSize);
        out_.advance(kShortHeaderSize);
        return start;
    }

    void close(std::size_t start, std::uint8_t segment_tag) {
        const std::uint64_t length = out_.size() - start - kShortHeaderSize;
        if (length >= kLongLength) [[unlikely]] {
            out_.prepare(kLongHeaderSize - kShortHeaderSize);
            std::uint8_t* payload = out_.data() + start + kShortHeaderSize;
            std::memmove(payload + (kLongHeaderSize - kShortHeaderSize), payload, length);
            out_.advance(kLongHeaderSize - kShortHeaderSize);
            std::uint8_t* p = out_.data() + start;
            p[1] = p[2] = p[3] = 0xFF;
            store_u64_le(p + 4, length);
        } else {
            std::uint8_t* p = out_.data() + start;
            p[1] = static_cast<std::uint8_t>(length);
            p[2] = static_cast<std::uint8_t>(length >> 8);
            p[3] = static_cast<std::uint8_t>(length >> 16);
        }
        out_.data()[start] = segment_tag;
    }

    void byte(std::uint8_t b) { out_.push_back(b); }
    void varint(std::uint64_t n) { encode_varint_vec(n, out_); }
    void raw(std::string_view bytes) {
        if (fits(bytes.size())) out_.append(bytes.data(), bytes.size());
    }
    void u64(std::uint64_t n) {
        store_u64_le(out_.prepare(8), n);
        out_.advance(8);
    }

    // ---- scalars

    void fixed8(std::uint8_t segment_tag, std::uint64_t bits) {
        std::uint8_t* p = out_.prepare(kShortHeaderSize + 8);
        p[0] = segment_tag;
        p[1] = 8;
        p[2] = p[3] = 0;
        store_u64_le(p + kShortHeaderSize, bits);
        out_.advance(kShortHeaderSize + 8);
    }

    void varint_segment(std::uint8_t segment_tag, std::uint64_t n) {
        std::uint8_t* p = out_.prepare(kShortHeaderSize + kMaxVarintBytes);
        const std::size_t length = write_varint(p + kShortHeaderSize, n);
        p[0] = segment_tag;
        p[1] = static_cast<std::uint8_t>(length);
        p[2] = p[3] = 0;
        out_.advance(kShortHeaderSize + length);
    }

    void text(std::uint8_t segment_tag, std::uint8_t empty_tag, std::string_view bytes) {
        if (bytes.empty()) return constant(empty_tag);
        header(segment_tag, bytes.size());
        raw(bytes);
    }

    // A name that is part of a value: always a Str segment.
    void name(std::string_view text_value) { text(tag::kStr, tag::kEmptyStr, text_value); }

    void two_parts(std::uint8_t segment_tag, std::string_view first, std::string_view second) {
        std::uint8_t scratch[kMaxVarintBytes];
        const std::uint64_t length = write_varint(scratch, first.size()) + first.size() +
                                     write_varint(scratch, second.size()) + second.size();
        header(segment_tag, length);
        varint(first.size());
        raw(first);
        varint(second.size());
        raw(second);
    }

    bool symbol(std::string_view symbol_text) {
        if (!context_.has_symtab) return failed("symbol encoding requires symbol table");
        const std::int64_t index = context_.index_of(symbol_text);
        if (index < 0) return failed_symbol(symbol_text);
        varint_segment(tag::kSym, static_cast<std::uint64_t>(index));
        return true;
    }

    bool field_name(std::string_view field) {
        if (!context_.has_symtab) {
            name(field);
            return true;
        }
        const std::int64_t index = context_.index_of(field);
        if (index < 0) return failed_field(field);
        varint_segment(tag::kSym, static_cast<std::uint64_t>(index));
        return true;
    }

    bool scalar(const Scalar& s) {
        switch (s.type()) {
            case ScalarType::Null:
                constant(tag::kNull);
                break;
            case ScalarType::Unit:
                constant(tag::kUnit);
                break;
            case ScalarType::Bool:
                constant(s.as_bool() ? tag::kTrue : tag::kFalse);
                break;
            case ScalarType::I64:
                fixed8(tag::kI64, static_cast<std::uint64_t>(s.as_signed()));
                break;
            case ScalarType::U64:
                fixed8(tag::kU64, s.as_unsigned());
                break;
            case ScalarType::VI64:
                varint_segment(tag::kVI64, zigzag_encode(s.as_signed()));
                break;
            case ScalarType::VU64:
                varint_segment(tag::kVU64, s.as_unsigned());
                break;
            case ScalarType::F32: {
                std::uint8_t* p = out_.prepare(kShortHeaderSize + 4);
                p[0] = tag::kF32;
                p[1] = 4;
                p[2] = p[3] = 0;
                const auto bits = std::bit_cast<std::uint32_t>(s.as_f32());
                store_u32_le(p + kShortHeaderSize, bits);
                out_.advance(kShortHeaderSize + 4);
                break;
            }
            case ScalarType::F64:
                fixed8(tag::kF64, std::bit_cast<std::uint64_t>(s.as_f64()));
                break;
            case ScalarType::Str:
                text(tag::kStr, tag::kEmptyStr, s.text());
                break;
            case ScalarType::Bytes: {
                const Bytes& bytes = s.as_bytes();
                text(tag::kBytes, tag::kEmptyBytes,
                     {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
                break;
            }
            case ScalarType::Sym:
                return symbol(s.text());
            case ScalarType::Tagged:
                two_parts(tag::kTagged, s.tag(), s.text());
                break;
        }
        return true;
    }

    // ---- composites

    void optional_name(const std::optional<std::string>& text_value) {
        byte(text_value ? 1 : 0);
        if (text_value) name(*text_value);
    }

    bool fields(const std::vector<Field>& list) {
        varint(list.size());
        for (const Field& field : list) {
            if (!field_name(field.name)) return false;
            if (!value(field.value)) return false;
        }
        return true;
    }

    bool product(const Product& p) {
        const std::size_t start = open();
        optional_name(p.type_name);
        if (!fields(p.fields)) return false;
        close(start, tag::kProduct);
        return true;
    }

    bool sum(const Sum& s) {
        const std::size_t start = open();
        optional_name(s.type_name);
        name(s.variant);
        byte(payload_kind_byte(s.payload.kind));
        if (s.payload.kind == SumPayloadKind::Tuple) {
            varint(s.payload.items.size());
            for (const Value& item : s.payload.items)
                if (!value(item)) return false;
        } else if (s.payload.kind == SumPayloadKind::Struct) {
            if (!fields(s.payload.fields)) return false;
        }
        close(start, tag::kSum);
        return true;
    }

    // The offset table of `count` entries, reserved in place; entries are set as items are
    // written, counted from the first byte after the table.
    struct OffsetTable {
        std::size_t start;
        std::size_t data_start;
    };

    OffsetTable reserve_offsets(std::size_t count) {
        const std::size_t start = out_.size();
        out_.prepare(count * 4);
        out_.advance(count * 4);
        return {start, out_.size()};
    }

    bool set_offset(const OffsetTable& table, std::size_t index, const char* overflow) {
        const std::size_t offset = out_.size() - table.data_start;
        if (offset > 0xFFFFFFFFu) [[unlikely]]
            return failed(overflow);
        store_u32_le(out_.data() + table.start + index * 4, static_cast<std::uint32_t>(offset));
        return true;
    }

    bool sequence(const Sequence& s) {
        if (s.items.empty()) {
            constant(tag::kEmptySequence);
            return true;
        }
        const std::size_t start = open();
        optional_name(s.elem_type);
        varint(s.items.size());
        if (!fits(s.items.size() * 4)) return false;
        const OffsetTable table = reserve_offsets(s.items.size());
        for (std::size_t i = 0; i < s.items.size(); ++i) {
            if (!set_offset(table, i, "sequence segment payload exceeds u32 offsets")) return false;
            if (!value(s.items[i])) return false;
        }
        close(start, tag::kSequence);
        return true;
    }

    bool association(const Association& a) {
        if (a.pairs.empty()) {
            constant(tag::kEmptyAssociation);
            return true;
        }
        const std::size_t start = open();
        varint(a.pairs.size());
        if (!fits(a.pairs.size() * 4)) return false;
        const OffsetTable table = reserve_offsets(a.pairs.size());
        for (std::size_t i = 0; i < a.pairs.size(); ++i) {
            if (!set_offset(table, i, "map segment payload exceeds u32 offsets")) return false;
            if (!value(a.pairs[i].first)) return false;
            if (!value(a.pairs[i].second)) return false;
        }
        close(start, tag::kAssociation);
        return true;
    }

    // Only references the document cannot resolve reach here: those to names no binding has,
    // and references by id, whose boxed value is written resolved.
    bool reference(const Reference& r) {
        const std::size_t start = open();
        byte(reference_kind_byte(r.kind));
        if (r.kind == ReferenceKind::Binding) {
            varint(r.name.size());
            raw(r.name);
        } else {
            if (!value(**r.boxed)) return false;
        }
        close(start, tag::kReference);
        return true;
    }

    bool stream(const Stream& s) {
        const std::size_t start = open();
        name(s.item_type);
        varint(s.annotations.size());
        for (const Annotation& a : s.annotations) {
            if (error_) return false;
            name(a.name);
            byte(a.value ? 1 : 0);
            if (a.value)
                if (!scalar(*a.value)) return false;
        }
        close(start, tag::kStream);
        return true;
    }

    [[gnu::noinline]] bool tensor(const Tensor& t);
    bool tensor_data(const TensorData& data, std::uint8_t code, std::string_view type);

    const ResolvedRoot& resolved_;
    const CbfEncodeContext& context_;
    ByteBuffer& out_;
    MemoryMeter& meter_;
    std::size_t start_;
    std::size_t cap_;
    std::optional<DralError> error_;
};

bool Writer::tensor(const Tensor& t) {
    if (t.shape.size() > 255) return failed("tensor dimensionality exceeds u8");
    // Raw bytes have no element count for a numeric code to announce: they are written as
    // bytes, which is what they read back as.
    const std::uint8_t code =
        t.data.kind() == TensorDataKind::BinaryBlob ? kElementOther : element_code(t.element_type);
    const std::size_t start = open();
    byte(code);
    byte(static_cast<std::uint8_t>(t.shape.size()));
    byte(1);
    byte(0);
    for (const auto& extent : t.shape) varint(extent.value_or(0));
    u64(t.data.size());
    if (!tensor_data(t.data, code, t.element_type)) return false;
    close(start, tag::kTensor);
    return true;
}

// The elements as the code declares them: binary64 for f32 and f64, two's complement for i64,
// unsigned for u64, each converted exactly or refused; under any other code the storage's own
// bit patterns. Each converter sets `bits` and says whether the element fits.
bool Writer::tensor_data(const TensorData& data, std::uint8_t code, std::string_view type) {
    auto as_f64 = [](auto element, std::uint64_t& bits) {
        using Element = decltype(element);
        const auto d = static_cast<double>(element);
        bits = std::bit_cast<std::uint64_t>(d);
        if constexpr (std::is_floating_point_v<Element>) {
            return true;
        } else {
            // 2^63 and 2^64 are the first doubles past each integer range.
            const double limit = std::is_signed_v<Element> ? 0x1p63 : 0x1p64;
            return d < limit && static_cast<Element>(d) == element;
        }
    };
    auto as_i64 = [](auto element, std::uint64_t& bits) {
        using Element = decltype(element);
        if constexpr (std::is_floating_point_v<Element>) {
            if (!(element >= -0x1p63 && element < 0x1p63) || std::trunc(element) != element)
                return false;
            bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(element));
            return true;
        } else {
            bits = static_cast<std::uint64_t>(element);
            return std::is_signed_v<Element> || bits <= static_cast<std::uint64_t>(INT64_MAX);
        }
    };
    auto as_u64 = [](auto element, std::uint64_t& bits) {
        using Element = decltype(element);
        if constexpr (std::is_floating_point_v<Element>) {
            if (!(element >= 0 && element < 0x1p64) || std::trunc(element) != element) return false;
            bits = static_cast<std::uint64_t>(element);
            return true;
        } else {
            bits = static_cast<std::uint64_t>(element);
            return !std::is_signed_v<Element> || element >= 0;
        }
    };
    auto as_stored = [](auto element, std::uint64_t& bits) {
        if constexpr (std::is_floating_point_v<decltype(element)>)
            bits = std::bit_cast<std::uint64_t>(element);
        else
            bits = static_cast<std::uint64_t>(element);
        return true;
    };
    auto each = [&](const auto& elements, auto convert) {
        if (!fits(elements.size() * 8)) return false;
        std::uint8_t* p = out_.prepare(elements.size() * 8);
        for (const auto& element : elements) {
            std::uint64_t bits = 0;
            if (!convert(element, bits)) return failed_misfit(element, type);
            store_u64_le(p, bits);
            p += 8;
        }
        out_.advance(elements.size() * 8);
        return true;
    };
    return std::visit(
        [&](const auto& elements) {
            if constexpr (std::is_same_v<std::decay_t<decltype(elements)>, Bytes>) {
                if (!fits(elements.size())) return false;
                out_.append(elements.data(), elements.size());
                return true;
            } else {
                switch (code) {
                    case kElementF32:
                    case kElementF64:
                        return each(elements, as_f64);
                    case kElementI64:
                        return each(elements, as_i64);
                    case kElementU64:
                        return each(elements, as_u64);
                    default:
                        return each(elements, as_stored);
                }
            }
        },
        data.storage);
}

}  // namespace

Status encode_segment(const ResolvedRoot& resolved, const Value& value,
                      const CbfEncodeContext& context, ByteBuffer& out, MemoryMeter& meter) {
    const std::size_t start = out.size();
    Writer writer(resolved, context, out, meter);
    if (writer.value(value) && !writer.error()) return {};
    out.truncate(start);
    return fail(std::move(*writer.error()));
}

}  // namespace dral_core::rfc001::cbf
