#include "dral_python/rfc/cql_api.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_core/rfc001/cbf/query.hpp"
#include "dral_core/rfc001/cql/cql.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_core/rfc001/query_text.hpp"
#include "dral_python/convert/py_decode.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/mapped_file.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/counted_results.hpp"
#include "dral_python/rfc/models/models.hpp"
#include "dral_python/rfc/typed_dict.hpp"
#include "dral_python/rfc/typed_dict_size.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

namespace cbf = dral_core::rfc001::cbf;
namespace ctn = dral_core::rfc001::ctn;
using dral_core::MemoryMeter;
using dral_core::Result;
using dral_core::rfc001::Value;

enum class Source {
    Cbf,         // bytes, queried where they lie
    CbfFile,     // a path, mapped and queried where it lies
    CbfDecoded,  // bytes, decoded whole before the query runs: the reference for the others
    Ctn,         // text
};

// How each selected value goes back to Python.
enum class Form { Dict, Ctn, Model };

// Models share what holds the results instead of copying each result out of it.
template <class Owner>
PyObject* convert(const Value& value, Form form, const std::shared_ptr<const Owner>& owner,
                  MemoryMeter& meter) {
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

PyObject* convert_all(Result<std::vector<Value>> selected, Form form, MemoryMeter& meter) {
    if (!selected) return map_rfc_error(selected.error());
    const auto owner = std::make_shared<const std::vector<Value>>(std::move(*selected));
    GcPause pause;
    return build_list(owner->size(),
                      [&](std::size_t i) { return convert((*owner)[i], form, owner, meter); });
}

PyObject* query_ctn(std::string_view text, std::string_view expression, Form form,
                    MemoryMeter& meter) {
    return convert_all(
        dral_core::rfc001::query_text(text, expression, {true, 0, module_state().hash_seed}, meter),
        form, meter);
}

// The query over the whole decoded document, converted result by result.
PyObject* query_decoded(std::span<const std::uint8_t> data, std::string_view expression, Form form,
                        MemoryMeter& meter) {
    auto decoded = cbf::decode_document(data, meter);
    if (!decoded) return map_rfc_error(decoded.error());
    const auto owner = std::make_shared<const cbf::DecodedDocument>(std::move(*decoded));
    const Value* root = owner->document.effective_root_ptr();
    if (root == nullptr) return map_rfc_error(dral_core::rfc001::no_root_error());
    auto selected = dral_core::rfc001::cql::query(*root, expression);
    if (!selected) return map_rfc_error(selected.error());
    GcPause pause;
    return build_list(selected->size(),
                      [&](std::size_t i) { return convert(*(*selected)[i], form, owner, meter); });
}

// Each piece of a mapped file leaves memory once its checksum is taken, so that checking a
// large file keeps little of it resident.
class ReleaseChecked final : public cbf::ChecksumObserver {
public:
    explicit ReleaseChecked(const MappedFile& file) : file_(file) {}
    void checked(std::span<const std::uint8_t> piece) override { file_.release(piece); }

private:
    const MappedFile& file_;
};

PyObject* query_file(PyObject* path, std::string_view expression, Form form, MemoryMeter& meter) {
    MappedFile file;
    if (!file.open(path)) return nullptr;
    ReleaseChecked release(file);
    return convert_all(cbf::query_document(file.bytes(), expression, meter, &release), form, meter);
}

// Reads the arguments of any of the query functions: the document (`data` bytes, `path` or
// `text` str), the `query` str and, unless the form is fixed to models, the keyword-only
// `as_ctn` bool.
PyObject* query_entry(const Signature& signature, Source source, bool models, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(signature, args, nargs, kwnames, parsed)) return nullptr;
    const bool document_ok = source == Source::Ctn ? check_str_argument(signature, 0, parsed[0])
                             : source == Source::CbfFile
                                 ? true  // converted when opened
                                 : check_bytes_argument(signature, 0, parsed[0]);
    if (!document_ok || !check_str_argument(signature, 1, parsed[1])) return nullptr;
    Form form = Form::Model;
    if (!models) {
        std::optional<bool> as_ctn = bool_argument(signature, 2, parsed[2], false);
        if (!as_ctn) return nullptr;
        form = *as_ctn ? Form::Ctn : Form::Dict;
    }
    // Both texts are read before any stage runs: a str without a UTF-8 form is an argument
    // fault, not a fault of the document or of the query.
    std::optional<std::string_view> text;
    if (source == Source::Ctn && !(text = utf8_of(parsed[0]))) return nullptr;
    auto expression = utf8_of(parsed[1]);
    if (!expression) return nullptr;
    // The stages run in order: a faulty document is reported before a faulty query.
    MemoryMeter meter(dral_core::rfc001::kMemoryLimit);
    switch (source) {
        case Source::Cbf:
            return convert_all(cbf::query_document(bytes_span(parsed[0]), *expression, meter), form,
                               meter);
        case Source::CbfFile:
            return query_file(parsed[0], *expression, form, meter);
        case Source::CbfDecoded:
            return query_decoded(bytes_span(parsed[0]), *expression, form, meter);
        default:
            return query_ctn(*text, *expression, form, meter);
    }
}

constexpr const char* kCbfNames[] = {"data", "query", "as_ctn"};
constexpr const char* kFileNames[] = {"path", "query", "as_ctn"};
constexpr const char* kCtnNames[] = {"text", "query", "as_ctn"};

constexpr Signature kQueryCbf{"rfc_query_cbf", kCbfNames, 3, 2, 2};
constexpr Signature kQueryCbfFile{"rfc_query_cbf_file", kFileNames, 3, 2, 2};
constexpr Signature kQueryCtn{"rfc_query_ctn", kCtnNames, 3, 2, 2};
constexpr Signature kQueryCbfModel{"rfc_query_cbf_model", kCbfNames, 2, 2, 2};
constexpr Signature kQueryCbfFileModel{"rfc_query_cbf_file_model", kFileNames, 2, 2, 2};
constexpr Signature kQueryCtnModel{"rfc_query_ctn_model", kCtnNames, 2, 2, 2};
constexpr Signature kQueryCbfReference{"_rfc_query_cbf_reference", kCbfNames, 3, 2, 2};

template <const Signature& kSignature, Source kSource, bool kModels>
PyObject* query_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return query_entry(kSignature, kSource, kModels, args, nargs, kwnames);
}

#define DRAL_FILE_CAVEAT                                                                        \
    "\n\nThe file is mapped, not read: only the pages the query reads stay in memory. It must " \
    "not change while the call runs."
#define DRAL_PARTIAL_CAVEAT                                                                     \
    "\n\nThe checksum covers the whole file, but only the segments the query reads are "        \
    "decoded and checked: a file whose only fault lies off the queried path (possible only in " \
    "a crafted file) may answer."

PyMethodDef kFunctions[] = {
    {"rfc_query_cbf", fastcall(guarded<query_function<kQueryCbf, Source::Cbf, false>>),
     kFastcallKeywords,
     "rfc_query_cbf(data, query, *, as_ctn=False)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CBF bytes." DRAL_PARTIAL_CAVEAT},
    {"rfc_query_ctn", fastcall(guarded<query_function<kQueryCtn, Source::Ctn, false>>),
     kFastcallKeywords,
     "rfc_query_ctn(text, query, *, as_ctn=False)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CTN text."},
    {"rfc_query_cbf_file", fastcall(guarded<query_function<kQueryCbfFile, Source::CbfFile, false>>),
     kFastcallKeywords,
     "rfc_query_cbf_file(path, query, *, as_ctn=False)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over a CBF file." DRAL_FILE_CAVEAT
         DRAL_PARTIAL_CAVEAT},
    {"rfc_query_cbf_model", fastcall(guarded<query_function<kQueryCbfModel, Source::Cbf, true>>),
     kFastcallKeywords,
     "rfc_query_cbf_model(data, query)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CBF bytes and return RfcValue "
     "models." DRAL_PARTIAL_CAVEAT},
    {"rfc_query_ctn_model", fastcall(guarded<query_function<kQueryCtnModel, Source::Ctn, true>>),
     kFastcallKeywords,
     "rfc_query_ctn_model(text, query)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over CTN text and return RfcValue models."},
    {"rfc_query_cbf_file_model",
     fastcall(guarded<query_function<kQueryCbfFileModel, Source::CbfFile, true>>),
     kFastcallKeywords,
     "rfc_query_cbf_file_model(path, query)\n--\n\n"
     "Execute a baseline RFC-001 CQL path query over a CBF file and return RfcValue "
     "models." DRAL_FILE_CAVEAT DRAL_PARTIAL_CAVEAT},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef kPrivateFunctions[] = {
    {"_rfc_query_cbf_reference",
     fastcall(guarded<query_function<kQueryCbfReference, Source::CbfDecoded, false>>),
     kFastcallKeywords,
     "_rfc_query_cbf_reference(data, query, *, as_ctn=False)\n--\n\n"
     "rfc_query_cbf() after decoding the whole file; the behaviour rfc_query_cbf() must match "
     "for every file that decodes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* cql_functions() { return kFunctions; }

int init_cql_private(PyObject* module) { return PyModule_AddFunctions(module, kPrivateFunctions); }

}  // namespace dral_python
