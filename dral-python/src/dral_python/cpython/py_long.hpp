// The value of an int read from the object itself, for the writers' hot loops.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace dral_python {

// Sets `out` to the value of the int (or int subclass) `object` and returns true when it fits a
// long long; false, with no exception set, when it does not. Runs no Python code. Ints of up to
// two digits are read from their digits (the interpreter's own call costs more than the rest of
// writing them); others through the interpreter.
inline bool long_value(PyObject* object, long long& out) {
    auto* number = reinterpret_cast<PyLongObject*>(object);
#if PY_VERSION_HEX >= 0x030C0000
    if (PyUnstable_Long_IsCompact(number)) {
        out = PyUnstable_Long_CompactValue(number);
        return true;
    }
#else
    // Until 3.12 the signed digit count is the object's size; a zero has no digit at all.
    static_assert(2 * PyLong_SHIFT < 63);
    const digit* digits = number->ob_digit;
    switch (Py_SIZE(object)) {
        case 0:
            out = 0;
            return true;
        case 1:
            out = static_cast<long long>(digits[0]);
            return true;
        case -1:
            out = -static_cast<long long>(digits[0]);
            return true;
        case 2:
            out = static_cast<long long>(
                digits[0] | (static_cast<unsigned long long>(digits[1]) << PyLong_SHIFT));
            return true;
        case -2:
            out = -static_cast<long long>(
                digits[0] | (static_cast<unsigned long long>(digits[1]) << PyLong_SHIFT));
            return true;
        default:
            break;
    }
#endif
    int overflow;
    out = PyLong_AsLongLongAndOverflow(object, &overflow);
    return overflow == 0;
}

// Sets `out` to the value of the int (or int subclass) `object` when it lies in 0 .. 2**128 - 1,
// read from its digits; false otherwise. Runs no Python code.
inline bool long_value_u128(PyObject* object, unsigned __int128& out) {
    auto* number = reinterpret_cast<PyLongObject*>(object);
#if PY_VERSION_HEX >= 0x030C0000
    const std::uintptr_t tag = number->long_value.lv_tag;
    if ((tag & _PyLong_SIGN_MASK) == 2) return false;  // negative
    const std::size_t count = tag >> _PyLong_NON_SIZE_BITS;
    const digit* digits = number->long_value.ob_digit;
#else
    if (Py_SIZE(object) < 0) return false;
    const auto count = static_cast<std::size_t>(Py_SIZE(object));
    const digit* digits = number->ob_digit;
#endif
    unsigned __int128 value = 0;
    for (std::size_t i = count; i-- > 0;) {
        if ((value >> (128 - PyLong_SHIFT)) != 0) return false;
        value = (value << PyLong_SHIFT) | digits[i];
    }
    out = value;
    return true;
}

}  // namespace dral_python
