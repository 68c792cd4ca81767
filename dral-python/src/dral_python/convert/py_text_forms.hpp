// The text that dates, times and UUIDs convert to: RFC 3339 (as orjson writes it) and the
// canonical 36 characters.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dral_python {

enum class PyKind : std::uint8_t;

struct FormText {
    char data[40];
    std::size_t size = 0;
    std::string_view view() const { return {data, size}; }
};

enum class Form {
    Written,
    NeedsPython,  // only Python code can tell (a tzinfo of Python's), and `run_python` was false
    Refused,      // it has no such text; `reason` says why
    Failed,       // an exception is set (raised by Python code it ran)
};

// The text of a datetime, date or time (`kind` says which): naive values without an offset,
// aware ones with the offset their tzinfo gives (whole minutes only), microseconds when not 0.
Form time_text(PyObject* object, PyKind kind, bool run_python, FormText& out, const char*& reason);

// The text of a uuid.UUID, read from its `int`: the object at `int_slot` when that is not -1.
Form uuid_text(PyObject* object, Py_ssize_t int_slot, FormText& out, const char*& reason);

}  // namespace dral_python
