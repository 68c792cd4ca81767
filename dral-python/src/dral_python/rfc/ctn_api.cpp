#include "dral_python/rfc/ctn_api.hpp"

#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/counted_results.hpp"
#include "dral_python/rfc/models/models.hpp"
#include "dral_python/rfc/typed_dict.hpp"
#include "dral_python/rfc/typed_dict_size.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {
namespace {

namespace ctn = dral_core::rfc001::ctn;
using dral_core::MemoryMeter;

constexpr const char* kTextNames[] = {"text"};

// Parses the one `text` argument of `signature` and hands the parsed document, the meter that
// counts what the call builds, and the size of its text, to `use`.
template <class Use>
PyObject* with_document(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, Use use) {
    PyObject* parsed[1];
    if (!parse_arguments(signature, args, nargs, kwnames, parsed) ||
        !check_str_argument(signature, 0, parsed[0]))
        return nullptr;
    auto text = utf8_of(parsed[0]);
    if (!text) return nullptr;
    MemoryMeter meter(dral_core::rfc001::kMemoryLimit);
    auto document = ctn::parse_document(*text, meter);
    if (!document) return map_rfc_error(document.error());
    return use(std::move(*document), meter, text->size());
}

constexpr Signature kParse{"rfc_parse_ctn", kTextNames, 1, 1, 1};

PyObject* rfc_parse_ctn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_document(
        kParse, args, nargs, kwnames,
        [](dral_core::rfc001::Document document, MemoryMeter& meter, std::size_t) -> PyObject* {
            if (!charge_result(meter, typed_dict_size(document))) return nullptr;
            return rfc_document_to_py(document);
        });
}

constexpr Signature kFormat{"rfc_format_ctn", kTextNames, 1, 1, 1};

PyObject* rfc_format_ctn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_document(kFormat, args, nargs, kwnames,
                         [](dral_core::rfc001::Document document, MemoryMeter& meter,
                            std::size_t text_size) -> PyObject* {
                             auto text = ctn::format_document(document, meter, text_size);
                             if (!text) return map_rfc_error(text.error());
                             return new_counted_text(*text, meter);
                         });
}

constexpr Signature kParseModel{"rfc_parse_ctn_model", kTextNames, 1, 1, 1};

PyObject* rfc_parse_ctn_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return with_document(
        kParseModel, args, nargs, kwnames,
        [](dral_core::rfc001::Document document, MemoryMeter&, std::size_t) {
            return new_rfc_document(
                std::make_shared<const dral_core::rfc001::Document>(std::move(document)));
        });
}

PyMethodDef kFunctions[] = {
    {"rfc_parse_ctn", fastcall(guarded<rfc_parse_ctn>), kFastcallKeywords,
     "rfc_parse_ctn(text)\n--\n\n"
     "Parse an RFC-001 CTN document into a typed Python dictionary."},
    {"rfc_format_ctn", fastcall(guarded<rfc_format_ctn>), kFastcallKeywords,
     "rfc_format_ctn(text)\n--\n\n"
     "Parse and format an RFC-001 CTN document."},
    {"rfc_parse_ctn_model", fastcall(guarded<rfc_parse_ctn_model>), kFastcallKeywords,
     "rfc_parse_ctn_model(text)\n--\n\n"
     "Parse an RFC-001 CTN document into a native-backed RfcDocument model."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* ctn_functions() { return kFunctions; }

}  // namespace dral_python
