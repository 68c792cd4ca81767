// Equality of typed document trees, which the core does not define, for the round-trip
// properties, and the documented ways in which CTN text does not read back.
#pragma once

#include "dral_core/rfc001/ast.hpp"

namespace dral_fuzz {

enum class RfcEquality {
    Exact,  // same kinds, names and payloads; floats by their bits
    // A compiled file writes an empty sequence as a constant without its element type.
    Compiled,
    // As Compiled, and as CTN text keeps a tree: a VU64 within the signed range reads back as a
    // VI64, a sequence written on one line loses its element type (and one written as a block
    // without one gains "any"), a NaN its payload bits, a binary blob its bytes (not their
    // count).
    ReadBack,
};

bool same_value(const dral_core::rfc001::Value& a, const dral_core::rfc001::Value& b,
                RfcEquality equality);

// Whether the canonical text of `document` may read back as something else, as the README says
// CTN text does: a sum without a type name is written as its variant alone, a product without
// fields as its type name alone, a struct payload without fields as a tuple or unit payload;
// opaque values are not written, integer tensor data reads back as floats; a value where one
// line must hold it (a tuple payload, a reference by id, a map key, a struct payload under an
// empty variant) has no such line when it is a product, tensor, stream or opaque value; and in a
// tuple payload a sum's " :: " or a struct payload's ':' reads as the mark of a struct payload.
bool has_unreadable_ctn(const dral_core::rfc001::Document& document);

}  // namespace dral_fuzz
