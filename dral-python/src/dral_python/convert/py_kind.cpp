#include "dral_python/convert/py_kind.hpp"

#include <string>

#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_classes.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {
namespace {

// " at {path}" for anything below the root.
std::string where(std::string_view path) {
    return path.size() > 1 ? " at " + std::string(path) : std::string();
}

bool raise_type_error_text(const std::string& text) {
    PyRef message(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (message) raise_type_error(message.get());
    return false;
}

}  // namespace

PyKind classify_other(PyObject* object) {
    const ClassRules* rules;
    return classify_other(object, rules);
}

PyKind classify_other(PyObject* object, const ClassRules*& rules) {
    rules = nullptr;
    PyTypeObject* type = Py_TYPE(object);
    // bool is exact: it cannot be subclassed.
    if (PyType_FastSubclass(type, Py_TPFLAGS_LONG_SUBCLASS)) return PyKind::Int;
    if (PyType_FastSubclass(type, Py_TPFLAGS_UNICODE_SUBCLASS)) return PyKind::Str;
    if (PyType_FastSubclass(type, Py_TPFLAGS_BYTES_SUBCLASS)) return PyKind::Bytes;
    if (PyType_FastSubclass(type, Py_TPFLAGS_LIST_SUBCLASS)) return PyKind::List;
    if (PyType_FastSubclass(type, Py_TPFLAGS_TUPLE_SUBCLASS)) return PyKind::Tuple;
    if ((rules = cached_rules(type)) != nullptr) return rules->kind;
    ClassRules worked_out;
    if (!rules_for(type, worked_out)) return PyKind::Failed;
    rules = cached_rules(type);  // null when the cache was full
    return worked_out.kind;
}

bool raise_unconvertible(PyObject* object, std::string_view path, std::string_view detail) {
    PyRef name(type_name(object));
    if (!name) return false;
    // str(): a metaclass may make __name__ anything, not only a str.
    PyRef text(PyObject_Str(name.get()));
    if (!text) return false;
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) return false;
    std::string message = "cannot convert " + std::string(utf8, static_cast<std::size_t>(size)) +
                          " to Dral value" + where(path);
    if (!detail.empty()) message.append(" (").append(detail).append(")");
    return raise_type_error_text(message);
}

bool raise_bad_key(std::string_view path) {
    PyErr_Clear();  // a str without a UTF-8 form is reported as any other bad key
    return raise_type_error_text("dict keys must be strings" + where(path));
}

}  // namespace dral_python
