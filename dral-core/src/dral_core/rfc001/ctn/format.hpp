// The formatter's pieces, for writers that append CTN text to a buffer of their own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::ctn {

// `text` with carriage return, line feed, tab, double quote and backslash escaped; every other
// character as it is.
void append_escaped(std::string& out, std::string_view text);

// One literal: "null", "42", "42i64", "1.5f64", "Inff32", a quoted string, b64"...", 'sym,
// tag"...".
void append_scalar(std::string& out, const Scalar& scalar);

// "@name" or "@name value".
void append_annotation(std::string& out, const Annotation& annotation);

}  // namespace dral_core::rfc001::ctn
