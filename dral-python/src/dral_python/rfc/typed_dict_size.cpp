#include "dral_python/rfc/typed_dict_size.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/encoding/utf8.hpp"

namespace dral_python {
namespace {

namespace rfc = dral_core::rfc001;
using rfc::ValueKind;

// A dict of at most five keys (3.10 makes it largest), a list of `n` items with its item
// array, a float, an int of 64 bits, a bytes object of `n` bytes.
constexpr std::uint64_t kDict = 240;
constexpr std::uint64_t list(std::uint64_t n) { return 80 + 8 * n; }
constexpr std::uint64_t kFloat = 32;
constexpr std::uint64_t kInt = 48;
constexpr std::uint64_t bytes(std::uint64_t n) { return 48 + n; }

// A str of the UTF-8 `text`: one byte per character when it is ASCII, at most four otherwise.
std::uint64_t str(std::string_view text) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    return dral_core::is_ascii(data, text.size()) ? 64 + text.size() : 96 + 4 * text.size();
}

std::uint64_t optional_str(const std::optional<std::string>& text) { return text ? str(*text) : 0; }

std::uint64_t scalar_value(const rfc::Scalar& scalar) {
    switch (scalar.type()) {
        case rfc::ScalarType::I64:
        case rfc::ScalarType::VI64:
        case rfc::ScalarType::U64:
        case rfc::ScalarType::VU64:
            return kInt;
        case rfc::ScalarType::F32:
        case rfc::ScalarType::F64:
            return kFloat;
        case rfc::ScalarType::Str:
        case rfc::ScalarType::Sym:
            return str(scalar.text());
        case rfc::ScalarType::Bytes:
            return bytes(scalar.as_bytes().size());
        case rfc::ScalarType::Tagged:
            return str(scalar.tag()) + str(scalar.text());
        default:
            return 0;
    }
}

std::uint64_t annotations(const std::vector<rfc::Annotation>& list_of) {
    std::uint64_t size = list(list_of.size());
    for (const rfc::Annotation& a : list_of)
        size += kDict + str(a.name) + (a.value ? kDict + scalar_value(*a.value) : 0);
    return size;
}

std::uint64_t values(const std::vector<rfc::Value>& items);

std::uint64_t fields(const std::vector<rfc::Field>& list_of) {
    std::uint64_t size = list(list_of.size());
    for (const rfc::Field& f : list_of) size += kDict + str(f.name) + typed_dict_size(f.value);
    return size;
}

std::uint64_t values(const std::vector<rfc::Value>& items) {
    std::uint64_t size = list(items.size());
    for (const rfc::Value& item : items) size += typed_dict_size(item);
    return size;
}

std::uint64_t tensor(const rfc::Tensor& t) {
    std::uint64_t size = str(t.element_type) + list(t.shape.size()) + kInt * t.shape.size() +
                         annotations(t.annotations) + kDict;
    const std::uint64_t n = t.data.size();
    switch (t.data.kind()) {
        case rfc::TensorDataKind::DenseF64:
            return size + list(n) + kFloat * n;
        case rfc::TensorDataKind::BinaryBlob:
            return size + bytes(n);
        default:
            return size + list(n) + kInt * n;
    }
}

}  // namespace

// Recursion follows the tree, which its reader bounded in depth.
std::uint64_t typed_dict_size(const rfc::Value& value) {
    switch (value.kind()) {
        case ValueKind::Scalar:
            return kDict + scalar_value(value.scalar());
        case ValueKind::Product:
            return kDict + optional_str(value.product().type_name) + fields(value.product().fields);
        case ValueKind::Sum: {
            const rfc::Sum& s = value.sum();
            const std::uint64_t names = optional_str(s.type_name) + str(s.variant);
            switch (s.payload.kind) {
                case rfc::SumPayloadKind::Tuple:
                    return kDict + names + kDict + values(s.payload.items);
                case rfc::SumPayloadKind::Struct:
                    return kDict + names + kDict + fields(s.payload.fields);
                default:
                    return kDict + names + kDict;
            }
        }
        case ValueKind::Sequence:
            return kDict + optional_str(value.sequence().elem_type) +
                   values(value.sequence().items);
        case ValueKind::Association: {
            const auto& pairs = value.association().pairs;
            std::uint64_t size = kDict + list(pairs.size());
            for (const auto& [key, item] : pairs)
                size += list(2) + typed_dict_size(key) + typed_dict_size(item);
            return size;
        }
        case ValueKind::Reference: {
            const rfc::Reference& r = value.reference();
            return kDict + (r.kind == rfc::ReferenceKind::Binding ? str(r.name)
                                                                  : typed_dict_size(**r.boxed));
        }
        case ValueKind::Tensor:
            return kDict + tensor(value.tensor());
        case ValueKind::Stream:
            return kDict + str(value.stream().item_type) + annotations(value.stream().annotations);
        case ValueKind::Opaque:
            return kDict + str(value.opaque().type_tag) + bytes(value.opaque().bytes.size());
    }
    return kDict;
}

std::uint64_t typed_dict_size(const rfc::Document& document) {
    std::uint64_t size = kDict + annotations(document.annotations) + list(document.uses.size()) +
                         list(document.bindings.size());
    for (const std::string& use : document.uses) size += str(use);
    for (const rfc::Binding& b : document.bindings)
        size += kDict + str(b.name) + typed_dict_size(b.value);
    if (document.root) size += typed_dict_size(*document.root);
    return size;
}

std::uint64_t typed_dict_size(const rfc::cbf::DecodedDocument& decoded) {
    // The outer dict and the header's, of twelve entries.
    constexpr std::uint64_t kHeader = 1024;
    std::uint64_t size = kDict + kHeader + list(decoded.symbols.size());
    for (const std::string& symbol : decoded.symbols) size += str(symbol);
    return size + typed_dict_size(decoded.document);
}

}  // namespace dral_python
