// Equality of typed document trees, which the core does not define, for the round-trip
// properties, and the documented ways in which CTN text does not read back.
#pragma once

#include "rfc001/ast.hpp"

namespace dral_fuzz {

enum class RfcEquality {
    Exact,  // same kinds, names and payloads; floats by their bits
    // A compiled file writes an empty sequence as a constant without its element type.
    Compiled,
};

bool same_value(const dral_core::rfc001::Value& a, const dral_core::rfc001::Value& b,
                RfcEquality equality);

// Whether the canonical text of `document` may read back as something else, as the notation
// allows: a sum without a type name is written as its variant alone, which reads as a symbol
// (or a product); a tensor's element type is written as it stands, so one holding a '[' moves
// the start of the shape that follows it; and a double quote inside quoted text need not be
// escaped in the source, where it pairs with others and so decides where a line splits into
// items (and what the names around it hold), while the canonical text escapes it. Names holding
// brackets that do not pair up, which only a line of their own keeps, are left out the same way.
bool has_unreadable_ctn(const dral_core::rfc001::Document& document);

}  // namespace dral_fuzz
