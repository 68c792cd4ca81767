// The value of an int read from the object itself, for the writers' hot loops.
#pragma once

#include <Python.h>

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

}  // namespace dral_python
