#include "dral_python/rfc/cbf_api.hpp"

#include <memory>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/rfc001/cbf/container.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_python/convert/py_decode.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/counted_results.hpp"
#include "dral_python/rfc/models/cbf_models.hpp"
#include "dral_python/rfc/typed_dict.hpp"
#include "dral_python/rfc/typed_dict_size.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

namespace rfc = dral_core::rfc001;
namespace cbf = dral_core::rfc001::cbf;
using dral_core::MemoryMeter;

// Stores `value` (a new reference, or nullptr after a failure) under `key`.
bool put(PyObject* dict, const char* key, PyObject* value) {
    PyRef owned(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* new_bytes(const std::uint8_t* data, std::size_t size) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                     static_cast<Py_ssize_t>(size));
}

// ---- rfc_compile_ctn

constexpr const char* kCompileNames[] = {"text", "with_symtab", "alignment"};
constexpr Signature kCompile{"rfc_compile_ctn", kCompileNames, 3, 1, 1};

PyObject* rfc_compile_ctn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(kCompile, args, nargs, kwnames, parsed) ||
        !check_str_argument(kCompile, 0, parsed[0]))
        return nullptr;
    const auto with_symtab = bool_argument(kCompile, 1, parsed[1], true);
    if (!with_symtab) return nullptr;
    const auto alignment = u64_argument(kCompile, 2, parsed[2], 0);
    if (!alignment) return nullptr;
    if (*alignment > 255) {
        PyErr_SetString(PyExc_OverflowError,
                        "rfc_compile_ctn() argument 'alignment' is greater than maximum 255");
        return nullptr;
    }
    auto text = utf8_of(parsed[0]);
    if (!text) return nullptr;
    MemoryMeter meter(rfc::kMemoryLimit);
    auto document = rfc::ctn::parse_document(*text, meter);
    if (!document) return map_rfc_error(document.error());
    dral_core::ByteBuffer file;
    const cbf::EncodeOptions options{*with_symtab, static_cast<std::uint8_t>(*alignment),
                                     module_state().hash_seed};
    if (auto status = cbf::encode_document_into(*document, options, file, meter); !status)
        return map_rfc_error(status.error());
    return new_bytes(file.data(), file.size());
}

// ---- the decoding functions

constexpr const char* kDataNames[] = {"data"};

// Parses the one `data` argument of `signature`, decodes it and hands the result, with the meter
// that counts what the call builds, to `use`.
template <class Use>
PyObject* with_decoded(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames, Use use) {
    PyObject* parsed[1];
    if (!parse_arguments(signature, args, nargs, kwnames, parsed) ||
        !check_bytes_argument(signature, 0, parsed[0]))
        return nullptr;
    MemoryMeter meter(rfc::kMemoryLimit);
    auto decoded = cbf::decode_document(bytes_span(parsed[0]), meter);
    if (!decoded) return map_rfc_error(decoded.error());
    return use(std::move(*decoded), meter);
}

constexpr Signature kDecode{"rfc_decode_cbf", kDataNames, 1, 1, 1};

PyObject* rfc_decode_cbf(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_decoded(kDecode, args, nargs, kwnames,
                        [](const cbf::DecodedDocument& decoded, MemoryMeter& meter) {
                            return rfc_decoded_cbf_to_py(decoded, meter);
                        });
}

constexpr Signature kToCtn{"rfc_cbf_to_ctn", kDataNames, 1, 1, 1};

PyObject* rfc_cbf_to_ctn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return with_decoded(kToCtn, args, nargs, kwnames,
                        [](const cbf::DecodedDocument& decoded, MemoryMeter& meter) -> PyObject* {
                            auto text = rfc::ctn::format_document(decoded.document, meter);
                            if (!text) return map_rfc_error(text.error());
                            return new_counted_text(*text, meter);
                        });
}

constexpr Signature kDecodeModel{"rfc_decode_cbf_model", kDataNames, 1, 1, 1};

PyObject* rfc_decode_cbf_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    return with_decoded(kDecodeModel, args, nargs, kwnames,
                        [](cbf::DecodedDocument decoded, MemoryMeter&) {
                            return new_rfc_decoded_cbf(
                                std::make_shared<const cbf::DecodedDocument>(std::move(decoded)));
                        });
}

PyMethodDef kFunctions[] = {
    {"rfc_compile_ctn", fastcall(guarded<rfc_compile_ctn>), kFastcallKeywords,
     "rfc_compile_ctn(text, *, with_symtab=True, alignment=0)\n--\n\n"
     "Compile RFC-001 CTN text to CBF bytes."},
    {"rfc_decode_cbf", fastcall(guarded<rfc_decode_cbf>), kFastcallKeywords,
     "rfc_decode_cbf(data)\n--\n\n"
     "Decode RFC-001 CBF bytes and return header, symbols, document, and CTN."},
    {"rfc_cbf_to_ctn", fastcall(guarded<rfc_cbf_to_ctn>), kFastcallKeywords,
     "rfc_cbf_to_ctn(data)\n--\n\n"
     "Decode RFC-001 CBF bytes to CTN text."},
    {"rfc_decode_cbf_model", fastcall(guarded<rfc_decode_cbf_model>), kFastcallKeywords,
     "rfc_decode_cbf_model(data)\n--\n\n"
     "Decode RFC-001 CBF bytes into a native-backed RfcDecodedCbf model."},
    {nullptr, nullptr, 0, nullptr},
};

// The parts of a file whether or not it is one this library reads: for `dral inspect`, which
// shows them for any file.
constexpr const char* kPartsNames[] = {"data"};
constexpr Signature kParts{"_cbf_parts", kPartsNames, 1, 1, 1};

PyObject* cbf_parts(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* data;
    if (!parse_arguments(kParts, args, nargs, kwnames, &data) ||
        !check_bytes_argument(kParts, 0, data))
        return nullptr;
    const auto bytes = bytes_span(data);
    PyRef header(Py_NewRef(Py_None)), magic(Py_NewRef(Py_None)), trailer(Py_NewRef(Py_None));
    if (bytes.size() >= cbf::kHeaderSize) {
        header = PyRef(rfc_header_to_py(cbf::read_header(bytes)));
        magic = PyRef(new_bytes(bytes.data(), 4));
        if (!header || !magic) return nullptr;
    }
    if (bytes.size() >= cbf::kHeaderSize + cbf::kTrailerSize) {
        const cbf::Trailer found = cbf::read_trailer(bytes);
        trailer = PyRef(Py_BuildValue("(KK)", static_cast<unsigned long long>(found.stored),
                                      static_cast<unsigned long long>(found.computed)));
        if (!trailer) return nullptr;
    }
    return PyTuple_Pack(3, header.get(), magic.get(), trailer.get());
}

PyMethodDef kPrivateFunctions[] = {
    {"_cbf_parts", fastcall(guarded<cbf_parts>), kFastcallKeywords,
     "_cbf_parts(data)\n--\n\n"
     "The header dictionary (None for fewer than 32 bytes), the four magic bytes as read,\n"
     "and the trailer's stored and computed CRC-64 (None for a file too short for one),\n"
     "whether or not the file is one this library reads."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* cbf_functions() { return kFunctions; }

int init_cbf_private(PyObject* module) { return PyModule_AddFunctions(module, kPrivateFunctions); }

PyObject* rfc_header_to_py(const cbf::CbfHeader& header) {
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const bool ok =
        put(d, "magic", new_ascii_str(dral_core::rfc001::cbf::magic_text())) &&
        put(d, "cbf_version", PyLong_FromLong(header.cbf_version)) &&
        put(d, "ctn_version", PyLong_FromLong(header.ctn_version)) &&
        put(d, "flags", PyLong_FromLong(header.flags)) &&
        put(d, "alignment", PyLong_FromLong(header.alignment)) &&
        put(d, "schema_hash_prefix",
            new_bytes(header.schema_hash_prefix.data(), header.schema_hash_prefix.size())) &&
        put(d, "root_offset", PyLong_FromUnsignedLongLong(header.root_offset)) &&
        put(d, "symtab_offset", PyLong_FromUnsignedLong(header.symtab_offset)) &&
        put(d, "index_offset", PyLong_FromUnsignedLong(header.index_offset)) &&
        put(d, "self_describing", PyBool_FromLong(header.self_describing())) &&
        put(d, "has_symtab", PyBool_FromLong(header.has_symtab())) &&
        put(d, "has_index", PyBool_FromLong(header.has_index()));
    return ok ? dict.release() : nullptr;
}

PyObject* rfc_decoded_cbf_to_py(const cbf::DecodedDocument& decoded, MemoryMeter& meter) {
    // Formatted first: the text may be refused before any object is made.
    auto ctn = rfc::ctn::format_document(decoded.document, meter);
    if (!ctn) return map_rfc_error(ctn.error());
    if (!charge_result(meter, typed_dict_size(decoded))) return nullptr;
    GcPause pause;
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const auto& symbols = decoded.symbols;
    const bool ok =
        put(d, "header", rfc_header_to_py(decoded.header)) &&
        put(d, "symbols",
            build_list(symbols.size(), [&](std::size_t i) { return new_utf8_str(symbols[i]); })) &&
        put(d, "document", rfc_document_to_py(decoded.document)) &&
        put(d, "ctn", new_counted_text(*ctn, meter));
    return ok ? dict.release() : nullptr;
}

PyObject* rfc_decoded_cbf_to_py(const cbf::DecodedDocument& decoded) {
    MemoryMeter meter(rfc::kMemoryLimit);
    return rfc_decoded_cbf_to_py(decoded, meter);
}

}  // namespace dral_python
