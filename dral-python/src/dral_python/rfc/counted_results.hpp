// The Python results of the RFC-001 functions, counted against the call's memory meter before
// they are made (see rfc001/memory.hpp), so that a call raises DralRfcError with the memory-limit
// message instead of building what its limit does not allow.
#pragma once

#include <Python.h>

#include <cstdint>

#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"

namespace dral_python {

// A model object handed out by a query, which shares its tree.
inline constexpr std::uint64_t kModelResultSize = 96;

// Whether `bytes` more are within the limit; false with DralRfcError set when not.
bool charge_result(dral_core::MemoryMeter& meter, std::uint64_t bytes);

// The str of formatted `text`, which the formatter counted at kOutputCopies bytes per byte: a
// str that takes more (two or four bytes per character) counts the rest first. nullptr with an
// exception set on failure.
PyObject* new_counted_text(const dral_core::rfc001::ctn::FormattedText& text,
                           dral_core::MemoryMeter& meter);

// The CTN text of a tree a model holds, as a str, within a limit of its own: the text may be far
// larger than the tree.
PyObject* ctn_str_of(const dral_core::rfc001::Value& value);
PyObject* ctn_str_of(const dral_core::rfc001::Document& document);

}  // namespace dral_python
