// Equality of Value trees, which the core does not define, for the round-trip properties.
#pragma once

#include "dral_core/value/value.hpp"

namespace dral_fuzz {

enum class Equality {
    Exact,  // same kinds, same payloads; floats by their bits
    // The text notation writes a positive Int without a sign, which reads back as UInt.
    TextNotation,
};

bool same_value(const dral_core::Value& a, const dral_core::Value& b, Equality equality);

// Whether `value` holds an empty byte string anywhere (the text notation cannot read it back).
bool holds_empty_bytes(const dral_core::Value& value);

}  // namespace dral_fuzz
