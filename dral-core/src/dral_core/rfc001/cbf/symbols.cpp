#include "dral_core/rfc001/cbf/symbols.hpp"

#include <algorithm>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/string_sort.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::cbf {
namespace {

// Walks the inlined root once per node it holds, except that a binding inlined at several places
// is walked at its first only: both walks below gather into sets, which a second visit cannot
// change. Alias chains are followed in a loop, so recursion stays within the inlined depth that
// resolve_references bounded.
class InlinedWalk {
public:
    explicit InlinedWalk(const ResolvedRoot& resolved)
        : resolved_(resolved), seen_(resolved.document().bindings.size(), false) {}

    // The value to visit in place of `value`, or nullptr when it was visited already.
    const Value* enter(const Value& value) {
        const Value* at = &value;
        for (std::size_t target; (target = resolved_.target_of(*at)) != ResolvedRoot::kNoBinding;) {
            if (seen_[target]) return nullptr;
            seen_[target] = true;
            at = &resolved_.document().bindings[target].value;
        }
        return at;
    }

private:
    const ResolvedRoot& resolved_;
    std::vector<bool> seen_;
};

class Collector {
public:
    Collector(const ResolvedRoot& resolved, SymbolTable& table) : walk_(resolved), table_(table) {}

    void value(const Value& input) {
        const Value* at = walk_.enter(input);
        if (at == nullptr) return;
        const Value& v = *at;
        switch (v.kind()) {
            case ValueKind::Scalar:
                scalar(v.scalar());
                break;
            case ValueKind::Product: {
                const Product& p = v.product();
                fields(p.fields);
                name(p.type_name);
                break;
            }
            case ValueKind::Sum: {
                const Sum& s = v.sum();
                add(s.variant);
                name(s.type_name);
                for (const Value& item : s.payload.items) value(item);
                fields(s.payload.fields);
                break;
            }
            case ValueKind::Sequence:
                name(v.sequence().elem_type);
                for (const Value& item : v.sequence().items) value(item);
                break;
            case ValueKind::Association:
                for (const auto& [key, item] : v.association().pairs) {
                    value(key);
                    value(item);
                }
                break;
            case ValueKind::Reference:
                if (v.reference().kind == ReferenceKind::Binding)
                    add(v.reference().name);  // a name no binding has: kept as a reference
                else
                    value(**v.reference().boxed);
                break;
            case ValueKind::Tensor:
                add(v.tensor().element_type);
                annotations(v.tensor().annotations);
                break;
            case ValueKind::Stream:
                add(v.stream().item_type);
                annotations(v.stream().annotations);
                break;
            case ValueKind::Opaque:
                add(v.opaque().type_tag);
                break;
        }
    }

private:
    void add(std::string_view text) { table_.add(text); }
    void name(const std::optional<std::string>& text) {
        if (text) add(*text);
    }
    void scalar(const Scalar& s) {
        if (s.type() == ScalarType::Sym) add(s.text());
    }
    void fields(const std::vector<Field>& fields) {
        for (const Field& f : fields) {
            add(f.name);
            value(f.value);
        }
    }
    void annotations(const std::vector<Annotation>& annotations) {
        for (const Annotation& a : annotations) {
            add(a.name);
            if (a.value) scalar(*a.value);
        }
    }

    InlinedWalk walk_;
    SymbolTable& table_;
};

class SymbolFinder {
public:
    explicit SymbolFinder(const ResolvedRoot& resolved) : walk_(resolved) {}

    bool value(const Value& input) {
        const Value* at = walk_.enter(input);
        if (at == nullptr) return false;
        const Value& v = *at;
        switch (v.kind()) {
            case ValueKind::Scalar:
                return v.scalar().type() == ScalarType::Sym;
            case ValueKind::Product:
                return fields(v.product().fields);
            case ValueKind::Sum:
                return any(v.sum().payload.items) || fields(v.sum().payload.fields);
            case ValueKind::Sequence:
                return any(v.sequence().items);
            case ValueKind::Association:
                for (const auto& [key, item] : v.association().pairs)
                    if (value(key) || value(item)) return true;
                return false;
            case ValueKind::Reference:
                return v.reference().kind == ReferenceKind::ById && value(**v.reference().boxed);
            case ValueKind::Tensor:
                return annotations(v.tensor().annotations);
            case ValueKind::Stream:
                return annotations(v.stream().annotations);
            case ValueKind::Opaque:
                return false;
        }
        return false;
    }

private:
    bool any(const std::vector<Value>& values) {
        for (const Value& item : values)
            if (value(item)) return true;
        return false;
    }
    bool fields(const std::vector<Field>& fields) {
        for (const Field& f : fields)
            if (value(f.value)) return true;
        return false;
    }
    static bool annotations(const std::vector<Annotation>& annotations) {
        for (const Annotation& a : annotations)
            if (a.value && a.value->type() == ScalarType::Sym) return true;
        return false;
    }

    InlinedWalk walk_;
};

}  // namespace

void collect_symbols(const ResolvedRoot& resolved, SymbolTable& table) {
    Collector(resolved, table).value(resolved.root());
}

bool contains_symbol_value(const ResolvedRoot& resolved) {
    return SymbolFinder(resolved).value(resolved.root());
}

void SymbolTable::number() {
    std::vector<SortedString> sorted;
    sorted.reserve(texts_.size());
    for (std::size_t n = 0; n < texts_.size(); ++n)
        sorted.push_back({texts_[n], static_cast<std::uint32_t>(n)});
    StringSortMemory memory;
    sort_strings(sorted, memory);
    table_.resize(sorted.size());
    positions_.resize(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        table_[i] = sorted[i].text;
        positions_[sorted[i].index] = static_cast<std::uint32_t>(i);
    }
}

void write_symbol_table(std::span<const std::string_view> entries, ByteBuffer& out) {
    store_u32_le(out.prepare(4), static_cast<std::uint32_t>(entries.size()));
    out.advance(4);
    for (std::string_view entry : entries) {
        encode_varint_vec(entry.size(), out);
        out.append(entry.data(), entry.size());
    }
}

Result<std::vector<std::string>> read_symbol_table(std::span<const std::uint8_t> body,
                                                   std::uint32_t offset, MemoryMeter& meter) {
    if (std::uint64_t{offset} + 4 > body.size()) return fail(DralError::unexpected_eof(offset));
    const std::uint32_t count = load_u32_le(body.data() + offset);
    std::size_t position = std::size_t{offset} + 4;
    std::vector<std::string> entries;
    // Every entry takes at least its one-byte length: the bytes left bound the reservation.
    entries.reserve(std::min<std::size_t>(count, body.size() - position));
    for (std::uint32_t i = 0; i < count; ++i) {
        DRAL_ASSIGN_OR_RETURN(const DecodedVarint length, decode_varint(body, position));
        const std::size_t start = position + length.length;
        if (length.value > SIZE_MAX - start) return fail(DralError::length_overflow(length.value));
        const std::size_t end = start + length.value;
        if (end > body.size()) return fail(DralError::unexpected_eof(end));
        if (!is_valid_utf8(body.data() + start, length.value))
            return fail(DralError::invalid_utf8(start));
        DRAL_TRY(meter.charge(kLineCost + length.value));
        entries.emplace_back(reinterpret_cast<const char*>(body.data() + start), length.value);
        position = end;
    }
    return entries;
}

}  // namespace dral_core::rfc001::cbf
