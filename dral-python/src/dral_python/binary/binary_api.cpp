// dumps / loads / dump / load / encode / decode / encode_to_file / decode_from_file.
#include "dral_python/binary/binary_api.hpp"

#include "dral_core/base/limits.hpp"
#include "dral_core/binary/encoder.hpp"
#include "dral_core/checksum/loops.hpp"
#include "dral_python/binary/compression.hpp"
#include "dral_python/binary/encoder_pool.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_decode.hpp"
#include "dral_python/convert/py_encode.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/file_io.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {
namespace {

using dral_core::ByteBuffer;
using dral_core::Encoder;

struct EncodeOptions {
    PyObject* compression = nullptr;
    bool dedup = false;
    ConvertOptions convert{false, nullptr, dral_core::DecodeLimits().max_depth};
};

// Conversion errors come before the compression name is looked at, and the name before the
// encoder's own limits; `encode` is the path (direct or reference) that writes the value.
template <class Encode>
PyObject* encode_with(PyObject* obj, const EncodeOptions& options, Encode encode) {
    auto compression = lookup_compression(options.compression);
    if (!compression) {
        ConvertOptions conversion_only = options.convert;
        conversion_only.max_depth.reset();
        if (!py_to_value(obj, conversion_only)) return nullptr;
        return raise_unknown_compression(options.compression);
    }
    OneShotEncoder encoder;
    encoder->set_dedup(options.dedup);
    encoder->set_compression(*compression);
    if (!encode(*encoder, obj, options.convert)) return nullptr;
    return finish_to_bytes(*encoder);
}

PyObject* encode_to_bytes(PyObject* obj, const EncodeOptions& options) {
    return encode_with(obj, options, encode_object);
}

bool compression_argument(const Signature& signature, int index, PyObject* value) {
    if (value == nullptr || value == Py_None || PyUnicode_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str or None, not %.200s",
                 signature.function, signature.names[index], Py_TYPE(value)->tp_name);
    return false;
}

// Parses `compression`, `dedup`, `sort_keys`, `default` and `max_depth` starting at `first` of the
// parsed arguments.
bool encode_options(const Signature& signature, PyObject** args, int first, EncodeOptions& out) {
    // Most calls give no option, and `out` holds the defaults.
    bool none_given = true;
    for (int i = first; i < first + 5; ++i) none_given = none_given && args[i] == nullptr;
    if (none_given) [[likely]]
        return true;
    if (!compression_argument(signature, first, args[first])) return false;
    out.compression = args[first];
    auto dedup = bool_argument(signature, first + 1, args[first + 1], false);
    if (!dedup) return false;
    auto sort_keys = bool_argument(signature, first + 2, args[first + 2], false);
    if (!sort_keys) return false;
    out.dedup = *dedup;
    out.convert.sort_keys = *sort_keys;
    return read_convert_arguments(signature, args, first + 3, first + 4, out.convert);
}

constexpr const char* kDumpsNames[] = {"obj",       "compression", "dedup",
                                       "sort_keys", "default",     "max_depth"};
constexpr Signature kDumps{"dumps", kDumpsNames, 6, 1, 1};

PyObject* dumps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[6];
    EncodeOptions options;
    if (!parse_arguments(kDumps, args, nargs, kwnames, parsed) ||
        !encode_options(kDumps, parsed, 1, options))
        return nullptr;
    return encode_to_bytes(parsed[0], options);
}

constexpr const char* kLoadsNames[] = {"data", "strict", "max_depth"};
constexpr Signature kLoads{"loads", kLoadsNames, 3, 1, 1};

PyObject* loads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(kLoads, args, nargs, kwnames, parsed) ||
        !check_bytes_argument(kLoads, 0, parsed[0]))
        return nullptr;
    auto limits = decode_options(kLoads, parsed, 1);
    if (!limits) return nullptr;
    return decode_single_or_list(bytes_span(parsed[0]), *limits);
}

constexpr const char* kDumpNames[] = {"obj",       "fp",      "compression", "dedup",
                                      "sort_keys", "default", "max_depth"};
constexpr Signature kDump{"dump", kDumpNames, 7, 2, 2};

PyObject* dump(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[7];
    EncodeOptions options;
    if (!parse_arguments(kDump, args, nargs, kwnames, parsed) ||
        !encode_options(kDump, parsed, 2, options))
        return nullptr;
    PyRef data(encode_to_bytes(parsed[0], options));
    if (!data) return nullptr;
    PyRef result(PyObject_CallMethod(parsed[1], "write", "O", data.get()));
    if (!result) return nullptr;
    Py_RETURN_NONE;
}

constexpr const char* kLoadNames[] = {"fp", "strict", "max_depth"};
constexpr Signature kLoad{"load", kLoadNames, 3, 1, 1};

PyObject* load(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(kLoad, args, nargs, kwnames, parsed)) return nullptr;
    auto limits = decode_options(kLoad, parsed, 1);
    if (!limits) return nullptr;
    PyRef data(PyObject_CallMethod(parsed[0], "read", nullptr));
    if (!data) return nullptr;
    if (!PyBytes_Check(data.get())) {
        PyErr_Format(PyExc_TypeError, "load() expected fp.read() to return bytes, not %.200s",
                     Py_TYPE(data.get())->tp_name);
        return nullptr;
    }
    return decode_single_or_list(bytes_span(data.get()), *limits);
}

constexpr const char* kEncodeNames[] = {"obj", "default", "max_depth"};
constexpr Signature kEncode{"encode", kEncodeNames, 3, 1, 1};

PyObject* encode(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    EncodeOptions options;
    if (!parse_arguments(kEncode, args, nargs, kwnames, parsed) ||
        !read_convert_arguments(kEncode, parsed, 1, 2, options.convert))
        return nullptr;
    return encode_to_bytes(parsed[0], options);
}

constexpr const char* kDecodeNames[] = {"data"};
constexpr Signature kDecode{"decode", kDecodeNames, 1, 1, 1};

PyObject* decode(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kDecode, args, nargs, kwnames, parsed) ||
        !check_bytes_argument(kDecode, 0, parsed[0]))
        return nullptr;
    return decode_single_or_list(bytes_span(parsed[0]),
                                 limits_for(true, dral_core::kDefaultMaxDepth));
}

constexpr const char* kEncodeToFileNames[] = {"obj", "path", "default", "max_depth"};
constexpr Signature kEncodeToFile{"encode_to_file", kEncodeToFileNames, 4, 2, 2};

PyObject* encode_to_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[4];
    EncodeOptions options;
    if (!parse_arguments(kEncodeToFile, args, nargs, kwnames, parsed) ||
        !read_convert_arguments(kEncodeToFile, parsed, 2, 3, options.convert))
        return nullptr;
    PyRef path(fspath(parsed[1]));
    if (!path) return nullptr;
    // The file is opened only once the whole stream exists, so a failed encoding leaves no file.
    PyRef data(encode_to_bytes(parsed[0], options));
    if (!data || !write_file(path.get(), bytes_span(data.get()))) return nullptr;
    Py_RETURN_NONE;
}

constexpr const char* kDecodeFromFileNames[] = {"path"};
constexpr Signature kDecodeFromFile{"decode_from_file", kDecodeFromFileNames, 1, 1, 1};

PyObject* decode_from_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kDecodeFromFile, args, nargs, kwnames, parsed)) return nullptr;
    PyRef path(fspath(parsed[0]));
    if (!path) return nullptr;
    PyRef data(read_file(path.get()));
    if (!data) return nullptr;
    return decode_single_or_list(bytes_span(data.get()),
                                 limits_for(true, dral_core::kDefaultMaxDepth));
}

// Reference paths (Value trees) behind the same signatures, for differential tests.
constexpr Signature kDumpsReference{"_dumps_reference", kDumpsNames, 6, 1, 1};

PyObject* dumps_reference(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[6];
    EncodeOptions options;
    if (!parse_arguments(kDumpsReference, args, nargs, kwnames, parsed) ||
        !encode_options(kDumpsReference, parsed, 1, options))
        return nullptr;
    return encode_with(parsed[0], options, encode_object_reference);
}

constexpr Signature kLoadsReference{"_loads_reference", kLoadsNames, 3, 1, 1};

PyObject* loads_reference(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* parsed[3];
    if (!parse_arguments(kLoadsReference, args, nargs, kwnames, parsed) ||
        !check_bytes_argument(kLoadsReference, 0, parsed[0]))
        return nullptr;
    auto limits = decode_options(kLoadsReference, parsed, 1);
    if (!limits) return nullptr;
    PyRef list(decode_to_list_reference(bytes_span(parsed[0]), *limits));
    if (!list || PyList_GET_SIZE(list.get()) != 1) return list.release();
    return Py_NewRef(PyList_GET_ITEM(list.get(), 0));
}

// The module's `_checksum_loop` follows the switch, so that a test sees which loop it checks.
PyObject* force_scalar_checksums(PyObject* module, PyObject*) {
    dral_core::use_vector_checksums(false);
    if (PyModule_AddStringConstant(module, "_checksum_loop", dral_core::xxh64_loop()) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

constexpr int kFlags = kFastcallKeywords;

PyMethodDef kFunctions[] = {
    {"dumps", fastcall(guarded<dumps>), kFlags,
     "dumps(obj, *, compression=None, dedup=False, sort_keys=False, default=None, "
     "max_depth=128)\n--\n\n"
     "Serialize a Python object to Dral binary format.\n\n"
     "The Dral counterpart of json.dumps(): the result is bytes.\n\n"
     "Args:\n"
     "    obj: The object to serialize (dict, list, tuple, str, int, float, bytes, bool,\n"
     "        None, dataclasses, datetime, date, time, UUID, enum members, nested freely).\n"
     "    compression: None or one of \"none\", \"lz4\", \"zstd\", \"snappy\".\n"
     "    dedup: Write repeated string values once and refer to them afterwards.\n"
     "    sort_keys: Sort the keys of every dict.\n"
     "    default: Called with each object that cannot be serialized otherwise; what it\n"
     "        returns is serialized in its place.\n"
     "    max_depth: Deepest container nesting written (at most 4096).\n\n"
     "Returns:\n"
     "    The Dral stream as bytes.\n\n"
     "Raises:\n"
     "    DralTypeError: If the object holds something that cannot be serialized.\n"
     "    DralEncodeError: If nesting or a container's size exceeds the encoder's limits.\n"
     "    ValueError: If the compression name is unknown."},
    {"loads", fastcall(guarded<loads>), kFlags,
     "loads(data, *, strict=True, max_depth=128)\n--\n\n"
     "Deserialize Dral binary data to a Python object.\n\n"
     "The Dral counterpart of json.loads().\n\n"
     "Args:\n"
     "    data: The Dral stream (bytes).\n"
     "    strict: Enforce the reading limits on block size, item counts, memory and string\n"
     "        length; with False only max_depth applies.\n"
     "    max_depth: Deepest container nesting accepted.\n\n"
     "Returns:\n"
     "    The single top-level value, or a list of the values when the stream holds zero\n"
     "    or several.\n\n"
     "Raises:\n"
     "    DralDecodeError: If the data is malformed or exceeds a limit.\n"
     "    DralChecksumError: If a block's checksum does not match."},
    {"dump", fastcall(guarded<dump>), kFlags,
     "dump(obj, fp, *, compression=None, dedup=False, sort_keys=False, default=None, "
     "max_depth=128)\n--\n\n"
     "Serialize a Python object and write to a file-like object.\n\n"
     "The Dral counterpart of json.dump(): calls fp.write() once with the encoded bytes.\n\n"
     "Args:\n"
     "    obj: The object to serialize.\n"
     "    fp: A binary file-like object with a write() method.\n"
     "    compression: None or one of \"none\", \"lz4\", \"zstd\", \"snappy\".\n"
     "    dedup: Write repeated string values once and refer to them afterwards.\n"
     "    sort_keys: Sort the keys of every dict.\n"
     "    default: As for dumps().\n"
     "    max_depth: Deepest container nesting written (at most 4096).\n\n"
     "Raises:\n"
     "    DralTypeError, DralEncodeError, ValueError: As dumps()."},
    {"load", fastcall(guarded<load>), kFlags,
     "load(fp, *, strict=True, max_depth=128)\n--\n\n"
     "Read and deserialize Dral binary data from a file-like object.\n\n"
     "The Dral counterpart of json.load(): calls fp.read() once; it must return bytes.\n\n"
     "Args:\n"
     "    fp: A binary file-like object with a read() method.\n"
     "    strict: Enforce the reading limits (see loads()).\n"
     "    max_depth: Deepest container nesting accepted.\n\n"
     "Returns:\n"
     "    As loads().\n\n"
     "Raises:\n"
     "    DralDecodeError, DralChecksumError: As loads()."},
    {"encode", fastcall(guarded<encode>), kFlags,
     "encode(obj, *, default=None, max_depth=128)\n--\n\n"
     "Encode a Python object (dict, list, str, int, float, bytes, bool, None)\n"
     "into Dral binary format, returned as `bytes`.\n\n"
     "default and max_depth are as for dumps()."},
    {"decode", fastcall(guarded<decode>), kFlags,
     "decode(data)\n--\n\n"
     "Decode Dral binary `bytes` into Python objects.\n\n"
     "Returns a single value if the data contains exactly one top-level value,\n"
     "or a list of values otherwise."},
    {"encode_to_file", fastcall(guarded<encode_to_file>), kFlags,
     "encode_to_file(obj, path, *, default=None, max_depth=128)\n--\n\n"
     "Encode a Python object and write the binary output to a file.\n\n"
     "The file at path (str or path-like) is created or truncated, and only written once\n"
     "encoding succeeded. default and max_depth are as for dumps()."},
    {"decode_from_file", fastcall(guarded<decode_from_file>), kFlags,
     "decode_from_file(path)\n--\n\n"
     "Read a Dral binary file and decode it into Python objects.\n\n"
     "Returns a single value if the file contains exactly one top-level value,\n"
     "or a list of values otherwise."},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef kPrivateFunctions[] = {
    {"_dumps_reference", fastcall(guarded<dumps_reference>), kFlags,
     "_dumps_reference(obj, *, compression=None, dedup=False, sort_keys=False, default=None, "
     "max_depth=128)\n--\n\n"
     "dumps() through Value trees; the behaviour dumps() must match."},
    {"_loads_reference", fastcall(guarded<loads_reference>), kFlags,
     "_loads_reference(data, *, strict=True, max_depth=128)\n--\n\n"
     "loads() through Value trees; the behaviour loads() must match."},
    {"_force_scalar_checksums", guarded<force_scalar_checksums>, METH_NOARGS,
     "_force_scalar_checksums()\n--\n\n"
     "Computes every checksum of this process with the portable loops from now on, also where\n"
     "the processor has vector ones, so that tests and benchmarks can check and time them."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int init_binary_api(PyObject* module) { return add_public_functions(module, kFunctions); }

int init_binary_api_private(PyObject* module) {
    if (PyModule_AddFunctions(module, kPrivateFunctions) < 0) return -1;
    return PyModule_AddStringConstant(module, "_checksum_loop", dral_core::xxh64_loop());
}

}  // namespace dral_python
