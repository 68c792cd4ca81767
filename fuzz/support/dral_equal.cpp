#include "support/dral_equal.hpp"

#include <bit>
#include <cstdint>

namespace dral_fuzz {

using dral_core::Kind;
using dral_core::Value;

namespace {

// A positive Int as the text notation reads it back.
bool positive_int(const Value& v) { return v.kind() == Kind::Int && v.as_int() > 0; }

}  // namespace

bool same_value(const Value& a, const Value& b, Equality equality) {
    if (equality == Equality::TextNotation) {
        if (positive_int(a) && b.kind() == Kind::UInt)
            return static_cast<std::uint64_t>(a.as_int()) == b.as_uint();
        if (positive_int(b) && a.kind() == Kind::UInt)
            return static_cast<std::uint64_t>(b.as_int()) == a.as_uint();
    }
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Kind::Null:
            return true;
        case Kind::Bool:
            return a.as_bool() == b.as_bool();
        case Kind::UInt:
            return a.as_uint() == b.as_uint();
        case Kind::Int:
            return a.as_int() == b.as_int();
        case Kind::Float:
            return std::bit_cast<std::uint64_t>(a.as_float()) ==
                   std::bit_cast<std::uint64_t>(b.as_float());
        case Kind::Str:
            return a.as_str() == b.as_str();
        case Kind::Bytes:
            return a.as_bytes() == b.as_bytes();
        case Kind::Array: {
            const auto& x = a.as_array();
            const auto& y = b.as_array();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!same_value(x[i], y[i], equality)) return false;
            return true;
        }
        case Kind::Object: {
            const auto& x = a.as_object();
            const auto& y = b.as_object();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (x[i].first != y[i].first || !same_value(x[i].second, y[i].second, equality))
                    return false;
            return true;
        }
    }
    return false;
}

bool holds_empty_bytes(const Value& value) {
    switch (value.kind()) {
        case Kind::Bytes:
            return value.as_bytes().empty();
        case Kind::Array:
            for (const Value& item : value.as_array())
                if (holds_empty_bytes(item)) return true;
            return false;
        case Kind::Object:
            for (const auto& entry : value.as_object())
                if (holds_empty_bytes(entry.second)) return true;
            return false;
        default:
            return false;
    }
}

}  // namespace dral_fuzz
