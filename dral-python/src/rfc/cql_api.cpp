#include "rfc/cql_api.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "cpython/arguments.hpp"
#include "cpython/bad_alloc_guard.hpp"
#include "cpython/gc_pause.hpp"
#include "cpython/py_list.hpp"
#include "cpython/py_str.hpp"
#include "module/errors.hpp"
#include "module/hash_seed.hpp"
#include "module/module_attributes.hpp"
#include "rfc/counted_results.hpp"
#include "rfc/models/models.hpp"
#include "rfc/typed_dict.hpp"
#include "rfc/typed_dict_size.hpp"
#include "rfc001/cbf/cbf.hpp"
#include "rfc001/cql/cql.hpp"
#include "rfc001/ctn/ctn.hpp"
#include "rfc001/memory.hpp"

namespace dral_python {
namespace {

namespace cbf = dral_core::rfc001::cbf;
namespace ctn = dral_core::rfc001::ctn;
using dral_core::MemoryMeter;
using dral_core::Result;
using dral_core::rfc001::Value;

enum class Source { Cbf, Ctn };

// How each selected value goes back to Python.
enum class Form { Dict, Ctn, Model };

// CTN text is compiled and decoded again, so that a query over text sees exactly the tree a
// query over the compiled bytes would: the effective root, with binding references inlined.
// Every stage charges the call's one meter.
Result<cbf::DecodedDocument> decode_ctn(std::string_view text, MemoryMeter& meter) {
    DRAL_ASSIGN_OR_RETURN(const dral_core::rfc001::Document document,
                          ctn::parse_document(text, meter));
    DRAL_ASSIGN_OR_RETURN(const dral_core::Bytes compiled,
                          cbf::encode_document(document, {true, 0, process_hash_seed}, meter));
    return cbf::decode_document(compiled, meter);
}

Result<cbf::DecodedDocument> decode_cbf(PyObject* data, MemoryMeter& meter) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data));
    return cbf::decode_document(
        std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(PyBytes_GET_SIZE(data))),
        meter);
}

// Models share the decoded document instead of copying each result out of it.
using SharedDocument = std::shared_ptr<const cbf::DecodedDocument>;

PyObject* convert(const Value& value, Form form, const SharedDocument& owner, MemoryMeter& meter) {
    switch (form) {
        case Form::Dict:
            if (!charge_result(meter, typed_dict_size(value))) return nullptr;
            return rfc_value_to_py(value);
        case Form::Ctn: {
            auto text = ctn::format_value(value, meter);
            if (!text) return map_rfc_error(text.error());
            return new_counted_text(*text, meter);
        }
        default:
            if (!charge_result(meter, kModelResultSize)) return nullptr;
            return new_rfc_value(share(owner, value));
    }
}

// The query over a decoded document, converted result by result.
PyObject* run_query(cbf::DecodedDocument decoded, std::string_view expression, Form form,
                    MemoryMeter& meter) {
    const SharedDocument owner = std::make_shared<const cbf::DecodedDocument>(std::move(decoded));
    const Value* root = owner->document.effective_root_ptr();
    if (root == nullptr) return map_rfc_error(dral_core::rfc001::no_root_error());
    auto selected = dral_core::rfc001::cql::query(*root, expression);
    if (!selected) return map_rfc_error(selected.error());
    GcPause pause;
    return build_list(selected->size(),
                      [&](std::size_t i) { return convert(*(*selected)[i], form, owner, meter); });
}

// Reads the arguments of any of the four functions: the document (`data` bytes or `text` str),
// the `query` str and, unless the form is fixed to models, the keyword-only `as_ctn` bool.
PyObject* query_entry(const Signature& signature, Source source, bool models, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(signature, args, nargs, kwnames, parsed)) return nullptr;
    const bool document_ok = source == Source::Cbf ? check_bytes_argument(signature, 0, parsed[0])
                                                   : check_str_argument(signature, 0, parsed[0]);
    if (!document_ok || !check_str_argument(signature, 1, parsed[1])) return nullptr;
    Form form = Form::Model;
    if (!models) {
        std::optional<bool> as_ctn = bool_argument(signature, 2, parsed[2], false);
        if (!as_ctn) return nullptr;
        form = *as_ctn ? Form::Ctn : Form::Dict;
    }
    return guard_bad_alloc([&]() -> PyObject* {
        // Both texts are read before any stage runs: a str without a UTF-8 form is an argument
        // fault, not a fault of the document or of the query.
        std::optional<std::string_view> text;
        if (source == Source::Ctn && !(text = utf8_of(parsed[0]))) return nullptr;
        auto expression = utf8_of(parsed[1]);
        if (!expression) return nullptr;
        // The stages run in order: a faulty document is reported before a faulty query.
        MemoryMeter meter(dral_core::rfc001::kMemoryLimit);
        auto decoded =
            source == Source::Cbf ? decode_cbf(parsed[0], meter) : decode_ctn(*text, meter);
        if (!decoded) return map_rfc_error(decoded.error());
        return run_query(std::move(*decoded), *expression, form, meter);
    });
}

constexpr const char* kCbfNames[] = {"data", "query", "as_ctn"};
constexpr const char* kCtnNames[] = {"text", "query", "as_ctn"};

constexpr Signature kQueryCbf{"rfc_query_cbf", kCbfNames, 3, 2, 2};
constexpr Signature kQueryCtn{"rfc_query_ctn", kCtnNames, 3, 2, 2};
constexpr Signature kQueryCbfModel{"rfc_query_cbf_model", kCbfNames, 2, 2, 2};
constexpr Signature kQueryCtnModel{"rfc_query_ctn_model", kCtnNames, 2, 2, 2};

PyObject* rfc_query_cbf(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return query_entry(kQueryCbf, Source::Cbf, false, args, nargs, kwnames);
}

PyObject* rfc_query_ctn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return query_entry(kQueryCtn, Source::Ctn, false, args, nargs, kwnames);
}

PyObject* rfc_query_cbf_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return query_entry(kQueryCbfModel, Source::Cbf, true, args, nargs, kwnames);
}

PyObject* rfc_query_ctn_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return query_entry(kQueryCtnModel, Source::Ctn, true, args, nargs, kwnames);
}

PyMethodDef kFunctions[] = {
    {"rfc_query_cbf", fastcall(rfc_query_cbf), kFastcallKeywords,
     "rfc_query_cbf(data, query, *, as_ctn=False)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CBF bytes."},
    {"rfc_query_ctn", fastcall(rfc_query_ctn), kFastcallKeywords,
     "rfc_query_ctn(text, query, *, as_ctn=False)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CTN text."},
    {"rfc_query_cbf_model", fastcall(rfc_query_cbf_model), kFastcallKeywords,
     "rfc_query_cbf_model(data, query)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CBF bytes and return RfcValue models."},
    {"rfc_query_ctn_model", fastcall(rfc_query_ctn_model), kFastcallKeywords,
     "rfc_query_ctn_model(text, query)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CTN text and return RfcValue models."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* cql_functions() { return kFunctions; }

}  // namespace dral_python
