// parse_text / pretty_print / to_value / loads_value / parse_text_value.
#include "dral_python/text/text_api.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_core/binary/decoder.hpp"
#include "dral_core/text/text.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_decode.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/text/dral_value.hpp"
#include "dral_python/text/py_pretty.hpp"
#include "dral_python/text/py_text.hpp"

namespace dral_python {
namespace {

using dral_core::Value;

// Nullopt with the exception set when `text` is not UTF-8 encodable or does not parse.
std::optional<Value> parse_str(PyObject* text) {
    auto utf8 = utf8_of(text);
    if (!utf8) return std::nullopt;
    // Valid by construction, as parse_text_to_py explains.
    auto parsed = dral_core::parse_valid(*utf8, PyUnicode_IS_ASCII(text));
    if (!parsed) {
        raise_parse_error(parsed.error());
        return std::nullopt;
    }
    return std::move(*parsed);
}

constexpr const char* kTextNames[] = {"text"};
constexpr Signature kParseText{"parse_text", kTextNames, 1, 1, 1};

PyObject* parse_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kParseText, args, nargs, kwnames, parsed) ||
        !check_str_argument(kParseText, 0, parsed[0]))
        return nullptr;
    return parse_text_to_py(parsed[0]);
}

constexpr Signature kParseTextValue{"parse_text_value", kTextNames, 1, 1, 1};

PyObject* parse_text_value(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kParseTextValue, args, nargs, kwnames, parsed) ||
        !check_str_argument(kParseTextValue, 0, parsed[0]))
        return nullptr;
    auto value = parse_str(parsed[0]);
    return value ? new_dral_value(std::move(*value)) : nullptr;
}

constexpr const char* kPrettyPrintNames[] = {"obj", "indent", "default"};
constexpr Signature kPrettyPrint{"pretty_print", kPrettyPrintNames, 3, 2, 1};

// The indent, or nullopt with the exception set.
std::optional<std::size_t> indent_argument(const Signature& signature, PyObject* value) {
    auto indent = u64_argument(signature, 1, value, 2);
    if (!indent) return std::nullopt;
    if (*indent > dral_core::kMaxIndent) {
        PyErr_Format(PyExc_ValueError, "indent must be at most %llu",
                     static_cast<unsigned long long>(dral_core::kMaxIndent));
        return std::nullopt;
    }
    return static_cast<std::size_t>(*indent);
}

using PrettyPrint = PyObject* (*)(PyObject*, std::size_t, const ConvertOptions&);

template <PrettyPrint kWrite, const Signature& kSignature>
PyObject* pretty_print_with(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    ConvertOptions options;
    if (!parse_arguments(kSignature, args, nargs, kwnames, parsed) ||
        !read_convert_arguments(kSignature, parsed, 2, -1, options))
        return nullptr;
    auto indent = indent_argument(kSignature, parsed[1]);
    return indent ? kWrite(parsed[0], *indent, options) : nullptr;
}

constexpr Signature kPrettyPrintReference{"_pretty_print_reference", kPrettyPrintNames, 3, 2, 1};
constexpr auto pretty_print = pretty_print_with<pretty_print_to_str, kPrettyPrint>;
constexpr auto pretty_print_reference_function =
    pretty_print_with<pretty_print_reference, kPrettyPrintReference>;

constexpr const char* kToValueNames[] = {"obj", "sort_keys", "default"};
constexpr Signature kToValue{"to_value", kToValueNames, 3, 1, 1};

PyObject* to_value(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    ConvertOptions options;
    if (!parse_arguments(kToValue, args, nargs, kwnames, parsed) ||
        !read_convert_arguments(kToValue, parsed, 2, -1, options))
        return nullptr;
    auto sort_keys = bool_argument(kToValue, 1, parsed[1], false);
    if (!sort_keys) return nullptr;
    options.sort_keys = *sort_keys;
    auto value = py_to_value(parsed[0], options);
    return value ? new_dral_value(std::move(*value)) : nullptr;
}

constexpr const char* kLoadsValueNames[] = {"data", "strict", "max_depth"};
constexpr Signature kLoadsValue{"loads_value", kLoadsValueNames, 3, 1, 1};

// One view for a stream of exactly one value, else a list of views, as loads() shapes its result.
PyObject* views_of(std::vector<Value>&& values) {
    if (values.size() == 1) return new_dral_value(std::move(values.front()));
    return build_list(values.size(),
                      [&](std::size_t i) { return new_dral_value(std::move(values[i])); });
}

PyObject* loads_value(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(kLoadsValue, args, nargs, kwnames, parsed) ||
        !check_bytes_argument(kLoadsValue, 0, parsed[0]))
        return nullptr;
    auto limits = decode_options(kLoadsValue, parsed, 1);
    if (!limits) return nullptr;
    LockReleasingWork long_work;
    auto values = dral_core::Decoder(bytes_span(parsed[0]), *limits, &long_work).decode_all_owned();
    if (!values) return map_decode_error(values.error());
    return views_of(std::move(*values));
}

constexpr int kFlags = kFastcallKeywords;

PyMethodDef kFunctions[] = {
    {"parse_text", fastcall(guarded<parse_text>), kFlags,
     "parse_text(text)\n--\n\n"
     "Parse Dral human-readable text notation into a Python object.\n\n"
     "Args:\n"
     "    text: A string in Dral text format.\n\n"
     "Returns:\n"
     "    The parsed Python object.\n\n"
     "Raises:\n"
     "    ValueError: If the text cannot be parsed."},
    {"pretty_print", fastcall(guarded<pretty_print>), kFlags,
     "pretty_print(obj, indent=2, *, default=None)\n--\n\n"
     "Pretty-print a Python object in Dral human-readable text notation.\n\n"
     "Args:\n"
     "    obj: The Python object to format.\n"
     "    indent: Number of spaces per indentation level (default: 2).\n"
     "        At most 1024.\n"
     "    default: Called with each object that cannot be converted otherwise; what it\n"
     "        returns is converted in its place.\n\n"
     "Returns:\n"
     "    A string in Dral text format.\n\n"
     "Raises:\n"
     "    DralTypeError: If the object cannot be converted to a Dral value.\n"
     "    ValueError: If indent is larger than 1024."},
    {"to_value", fastcall(guarded<to_value>), kFlags,
     "to_value(obj, *, sort_keys=False, default=None)\n--\n\n"
     "Convert a Python object into a native-backed DralValue view.\n\n"
     "sort_keys and default are as for dumps()."},
    {"loads_value", fastcall(guarded<loads_value>), kFlags,
     "loads_value(data, *, strict=True, max_depth=128)\n--\n\n"
     "Deserialize Dral binary data into native-backed DralValue view objects."},
    {"parse_text_value", fastcall(guarded<parse_text_value>), kFlags,
     "parse_text_value(text)\n--\n\n"
     "Parse Dral text notation into a native-backed DralValue view."},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef kPrivateFunctions[] = {
    {"_pretty_print_reference", fastcall(guarded<pretty_print_reference_function>), kFlags,
     "_pretty_print_reference(obj, indent=2, *, default=None)\n--\n\n"
     "pretty_print() through the Value tree, for differential tests."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int init_text_api(PyObject* module) { return add_public_functions(module, kFunctions); }

int init_text_api_private(PyObject* module) {
    return PyModule_AddFunctions(module, kPrivateFunctions);
}

}  // namespace dral_python
