#include "dral_python/convert/py_text_forms.hpp"

#include <datetime.h>

#include "dral_python/convert/py_classes.hpp"
#include "dral_python/convert/py_kind.hpp"
#include "dral_python/cpython/py_long.hpp"
#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {
namespace {

// Writes `value` as exactly `width` decimal digits at `out`; returns the end.
char* digits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
    return out + width;
}

char* date_part(char* out, PyObject* date) {
    out = digits(out, PyDateTime_GET_YEAR(date), 4);
    *out++ = '-';
    out = digits(out, PyDateTime_GET_MONTH(date), 2);
    *out++ = '-';
    return digits(out, PyDateTime_GET_DAY(date), 2);
}

char* time_part(char* out, int hour, int minute, int second, int microsecond) {
    out = digits(out, hour, 2);
    *out++ = ':';
    out = digits(out, minute, 2);
    *out++ = ':';
    out = digits(out, second, 2);
    if (microsecond == 0) return out;
    *out++ = '.';
    return digits(out, microsecond, 6);
}

// Whether asking `tzinfo` for its offset runs no Python code: a method of C on a class whose
// objects have no attributes of their own to override it (datetime.timezone, zoneinfo.ZoneInfo).
bool offset_is_native(PyObject* tzinfo, PyObject* name) {
    PyTypeObject* type = Py_TYPE(tzinfo);
    if (type->tp_dictoffset != 0 || type->tp_getattro != PyObject_GenericGetAttr) return false;
    PyObject* method = _PyType_Lookup(type, name);
    return method != nullptr && Py_IS_TYPE(method, &PyMethodDescr_Type);
}

constexpr const char* kOffsetSeconds = "its UTC offset is not a whole number of minutes";

// Appends the UTC offset of an aware value to `out` (nothing for a naive one), as the datetime
// module validates it: `argument` is what its tzinfo's utcoffset is called with.
Form offset_part(PyObject* tzinfo, PyObject* argument, bool run_python, char*& out,
                 const char*& reason) {
    const KnownClasses& classes = found_classes();  // the datetime classes among them
    if (tzinfo == Py_None) return Form::Written;
    int total_seconds = 0;
    if (tzinfo != classes.utc) {
        const AttributeNames* names = attribute_names();
        if (names == nullptr) return Form::Failed;
        if (!run_python && !offset_is_native(tzinfo, names->utcoffset)) return Form::NeedsPython;
        PyRef offset(PyObject_CallMethodOneArg(tzinfo, names->utcoffset, argument));
        if (!offset) return Form::Failed;
        if (offset.get() == Py_None) return Form::Written;
        if (classes.delta == nullptr || !PyObject_TypeCheck(offset.get(), classes.delta)) {
            PyErr_Format(PyExc_TypeError,
                         "tzinfo.utcoffset() must return None or timedelta, not '%.200s'",
                         Py_TYPE(offset.get())->tp_name);
            return Form::Failed;
        }
        const int days = PyDateTime_DELTA_GET_DAYS(offset.get());
        const int seconds = PyDateTime_DELTA_GET_SECONDS(offset.get());
        const int microseconds = PyDateTime_DELTA_GET_MICROSECONDS(offset.get());
        if (days < -1 || days > 0 || (days == -1 && seconds == 0 && microseconds == 0)) {
            PyErr_Format(PyExc_ValueError,
                         "offset must be a timedelta strictly between -timedelta(hours=24) and "
                         "timedelta(hours=24), not %R.",
                         offset.get());
            return Form::Failed;
        }
        if (microseconds != 0 || seconds % 60 != 0) {
            reason = kOffsetSeconds;
            return Form::Refused;
        }
        total_seconds = days * 86400 + seconds;
    }
    *out++ = total_seconds < 0 ? '-' : '+';
    const int minutes = (total_seconds < 0 ? -total_seconds : total_seconds) / 60;
    out = digits(out, minutes / 60, 2);
    *out++ = ':';
    out = digits(out, minutes % 60, 2);
    return Form::Written;
}

char hex_digit(unsigned value) { return "0123456789abcdef"[value & 0xF]; }

}  // namespace

Form time_text(PyObject* object, PyKind kind, bool run_python, FormText& out, const char*& reason) {
    char* end = out.data;
    Form form = Form::Written;
    if (kind == PyKind::Date) {
        end = date_part(end, object);
    } else if (kind == PyKind::DateTime) {
        end = date_part(end, object);
        *end++ = 'T';
        end =
            time_part(end, PyDateTime_DATE_GET_HOUR(object), PyDateTime_DATE_GET_MINUTE(object),
                      PyDateTime_DATE_GET_SECOND(object), PyDateTime_DATE_GET_MICROSECOND(object));
        form = offset_part(PyDateTime_DATE_GET_TZINFO(object), object, run_python, end, reason);
    } else {
        end =
            time_part(end, PyDateTime_TIME_GET_HOUR(object), PyDateTime_TIME_GET_MINUTE(object),
                      PyDateTime_TIME_GET_SECOND(object), PyDateTime_TIME_GET_MICROSECOND(object));
        form = offset_part(PyDateTime_TIME_GET_TZINFO(object), Py_None, run_python, end, reason);
    }
    out.size = static_cast<std::size_t>(end - out.data);
    return form;
}

Form uuid_text(PyObject* object, Py_ssize_t int_slot, FormText& out, const char*& reason) {
    PyRef number;
    if (int_slot >= 0) {
        number = PyRef::borrow(
            *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(object) + int_slot));
    } else if (const AttributeNames* names = attribute_names()) {
        number = PyRef(PyObject_GetAttr(object, names->uuid_int));
    }
    if (!number) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_AttributeError, "int");  // an empty slot
        return Form::Failed;
    }
    unsigned __int128 value;
    if (!PyLong_Check(number.get()) || !long_value_u128(number.get(), value)) {
        reason = "its int is not a 128-bit unsigned integer";
        return Form::Refused;
    }
    unsigned char bytes[16];
    for (int i = 15; i >= 0; --i, value >>= 8) bytes[i] = static_cast<unsigned char>(value);
    char* end = out.data;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) *end++ = '-';
        *end++ = hex_digit(bytes[i] >> 4);
        *end++ = hex_digit(bytes[i]);
    }
    out.size = static_cast<std::size_t>(end - out.data);
    return Form::Written;
}

}  // namespace dral_python
