// What the typed dictionaries of a tree take as Python objects, counted before they are built
// (see typed_dict.hpp for their shape), so that a call can refuse a result its memory limit
// does not allow. Each figure is at least what the interpreter allocates for the object,
// rounded as its small-object allocator rounds, on every supported version.
#pragma once

#include <cstdint>

#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"

namespace dral_python {

std::uint64_t typed_dict_size(const dral_core::rfc001::Value& value);
std::uint64_t typed_dict_size(const dral_core::rfc001::Document& document);
// The dictionary of rfc_decode_cbf, its "ctn" text aside.
std::uint64_t typed_dict_size(const dral_core::rfc001::cbf::DecodedDocument& decoded);

}  // namespace dral_python
