// The Encoder and DralDecoder classes: a stream built one value at a time, and a one-shot
// decoder over a private copy of its input.
//
// A path's __fspath__ runs before the instance's state is touched. The default hook (and a tzinfo
// or a dataclass's attributes) may run Python code in the middle of Encoder.encode, which could
// call the same encoder again, from that thread or another: such a call is refused.
#include "dral_python/binary/incremental.hpp"

#include <new>
#include <optional>

#include "dral_core/binary/encoder.hpp"
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
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::Encoder;

struct EncoderObject {
    PyObject_HEAD std::optional<Encoder> encoder;  // empty once finished
    ConvertOptions options;                        // its default hook held by the instance
    bool busy;                                     // an encode call is running
};

EncoderObject* as_encoder(PyObject* self) { return reinterpret_cast<EncoderObject*>(self); }

PyObject* already_finished() { return raise_encode_error("encoder already finished"); }

PyObject* busy() {
    PyErr_SetString(PyExc_RuntimeError, "Encoder is already in use by another call");
    return nullptr;
}

// A class is built the same from either way in: calling it (vectorcall) or its __new__.
using MakeInstance = PyObject* (*)(PyTypeObject* type, PyObject** parsed);
constexpr int kMostParameters = 4;

template <const Signature& kSignature, MakeInstance kMake>
PyObject* new_by_call(PyObject* type, PyObject* const* args, std::size_t nargsf,
                      PyObject* kwnames) {
    static_assert(kSignature.count <= kMostParameters);
    PyObject* parsed[kMostParameters];
    if (!parse_arguments(kSignature, args, PyVectorcall_NARGS(nargsf), kwnames, parsed))
        return nullptr;
    return kMake(reinterpret_cast<PyTypeObject*>(type), parsed);
}

template <const Signature& kSignature, MakeInstance kMake>
PyObject* new_by_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static_assert(kSignature.count <= kMostParameters);
    PyObject* parsed[kMostParameters];
    if (!parse_classic_arguments(kSignature, args, kwargs, parsed)) return nullptr;
    return kMake(type, parsed);
}

constexpr const char* kEncoderNewNames[] = {"sort_keys", "default", "max_depth", "block_size"};
constexpr Signature kEncoderNew{"Encoder", kEncoderNewNames, 4, 0, 0};

PyObject* make_encoder(PyTypeObject* type, PyObject** parsed) {
    auto sort_keys = bool_argument(kEncoderNew, 0, parsed[0], false);
    ConvertOptions options;
    if (!sort_keys || !read_convert_arguments(kEncoderNew, parsed, 1, 2, options)) return nullptr;
    options.sort_keys = *sort_keys;
    auto block_size = u64_argument(kEncoderNew, 3, parsed[3], dral_core::kDefaultBlockThreshold);
    if (!block_size) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    try {
        new (&as_encoder(self)->encoder) std::optional<Encoder>(new_incremental_encoder());
    } catch (const std::bad_alloc&) {
        new (&as_encoder(self)->encoder) std::optional<Encoder>();
        Py_DECREF(self);
        return PyErr_NoMemory();
    }
    as_encoder(self)->encoder->set_block_threshold(*block_size);
    Py_XINCREF(options.default_hook);
    new (&as_encoder(self)->options) ConvertOptions(options);
    as_encoder(self)->busy = false;
    return self;
}

// The default hook may refer back to the encoder: the collector sees and breaks such cycles.
int encoder_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_encoder(self)->options.default_hook);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int encoder_clear(PyObject* self) {
    Py_CLEAR(as_encoder(self)->options.default_hook);
    return 0;
}

void encoder_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    encoder_clear(self);
    as_encoder(self)->encoder.~optional();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* encoder_enable_dedup(PyObject* self, PyObject*) {
    if (as_encoder(self)->busy) return busy();
    auto& encoder = as_encoder(self)->encoder;
    if (!encoder) return already_finished();
    encoder->set_dedup(true);
    Py_RETURN_NONE;
}

constexpr const char* kSetCompressionNames[] = {"comp"};
constexpr Signature kSetCompression{"set_compression", kSetCompressionNames, 1, 1, 1};

PyObject* encoder_set_compression(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kSetCompression, args, nargs, kwnames, parsed) ||
        !check_str_argument(kSetCompression, 0, parsed[0]))
        return nullptr;
    auto code = parse_compression(parsed[0]);
    if (!code) return nullptr;
    if (as_encoder(self)->busy) return busy();
    auto& encoder = as_encoder(self)->encoder;
    if (!encoder) return already_finished();
    encoder->set_compression(*code);
    Py_RETURN_NONE;
}

constexpr const char* kEncodeNames[] = {"obj"};
constexpr Signature kEncode{"encode", kEncodeNames, 1, 1, 1};

PyObject* encoder_encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    PyObject* obj;
    if (!parse_arguments(kEncode, args, nargs, kwnames, &obj)) return nullptr;
    EncoderObject* object = as_encoder(self);
    if (object->busy) return busy();
    // The hook it holds lives as long as the call, whatever the call does to the instance.
    PyRef hook = PyRef::borrow(object->options.default_hook);
    ConvertOptions options = object->options;
    object->busy = true;
    bool encoded;
    if (!object->encoder) {
        // An unconvertible object is reported before the finished state.
        ConvertOptions conversion_only = options;
        conversion_only.max_depth.reset();
        if (py_to_value(obj, conversion_only)) already_finished();
        encoded = false;
    } else {
        // A value that closes a large block compresses it with the interpreter lock released.
        encoded = encode_object_releasing(*object->encoder, obj, options);
    }
    object->busy = false;
    if (!encoded) return nullptr;
    Py_RETURN_NONE;
}

// Takes the stream out of the encoder; from here on it is finished whatever happens.
PyObject* take_stream(EncoderObject* object) {
    std::optional<Encoder> encoder = std::move(object->encoder);
    object->encoder.reset();
    PyObject* stream = finish_to_bytes(*encoder);
    recycle(*encoder);
    return stream;
}

PyObject* encoder_finish(PyObject* self, PyObject*) {
    EncoderObject* object = as_encoder(self);
    if (object->busy) return busy();
    if (!object->encoder) return already_finished();
    return take_stream(object);
}

constexpr const char* kFinishToFileNames[] = {"path"};
constexpr Signature kFinishToFile{"finish_to_file", kFinishToFileNames, 1, 1, 1};

PyObject* encoder_finish_to_file(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kFinishToFile, args, nargs, kwnames, parsed)) return nullptr;
    PyRef path(fspath(parsed[0]));
    if (!path) return nullptr;
    EncoderObject* object = as_encoder(self);
    if (object->busy) return busy();
    if (!object->encoder) return already_finished();
    PyRef stream(take_stream(object));
    if (!stream) return nullptr;
    if (!write_file(path.get(), bytes_span(stream.get()))) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef kEncoderMethods[] = {
    {"enable_dedup", guarded<encoder_enable_dedup>, METH_NOARGS,
     "enable_dedup($self, /)\n--\n\nEnable string deduplication for subsequent blocks."},
    {"set_compression", fastcall(guarded<encoder_set_compression>), kFastcallKeywords,
     "set_compression($self, /, comp)\n--\n\n"
     "Set compression type: \"none\", \"lz4\", \"zstd\", or \"snappy\"."},
    {"encode", fastcall(guarded<encoder_encode>), kFastcallKeywords,
     "encode($self, /, obj)\n--\n\nEncode a Python value into the current block."},
    {"finish", guarded<encoder_finish>, METH_NOARGS,
     "finish($self, /)\n--\n\n"
     "Flush and finalize the encoder, returning the Dral binary output as `bytes`.\n\n"
     "The encoder cannot be used after this call."},
    {"finish_to_file", fastcall(guarded<encoder_finish_to_file>), kFastcallKeywords,
     "finish_to_file($self, /, path)\n--\n\n"
     "Flush and finalize the encoder, writing the output directly to a file.\n\n"
     "The encoder cannot be used after this call.\n\n"
     "Args:\n"
     "    path: File path to write the encoded binary data to.\n\n"
     "Raises:\n"
     "    DralEncodeError: If encoding fails or the encoder was already finished.\n"
     "    OSError: If writing to the file fails."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kEncoderSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(guarded<new_by_tp_new<kEncoderNew, make_encoder>>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(encoder_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(encoder_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(encoder_clear)},
    {Py_tp_methods, kEncoderMethods},
    {Py_tp_doc, const_cast<char*>("Encoder(*, sort_keys=False, default=None, max_depth=128, "
                                  "block_size=1048576)\n--\n\n"
                                  "Incremental Dral encoder.\n\n"
                                  "A data block is closed after the value that makes it\n"
                                  "block_size bytes or more; a value is never split.\n\n"
                                  "sort_keys, default and max_depth apply to every value\n"
                                  "encoded, as for dumps().\n\n"
                                  "Example:\n"
                                  "    enc = Encoder()\n"
                                  "    enc.enable_dedup()\n"
                                  "    enc.set_compression(\"lz4\")\n"
                                  "    enc.encode({\"key\": \"value\"})\n"
                                  "    data = enc.finish()")},
    {0, nullptr},
};

PyType_Spec kEncoderSpec = {"_dral_native.Encoder", sizeof(EncoderObject), 0, Py_TPFLAGS_HAVE_GC,
                            kEncoderSlots};

struct DecoderObject {
    PyObject_HEAD PyObject* data;  // an exact bytes object no caller can change
    std::uint64_t max_depth;
    bool consumed;
    dral_core::Decoder* iterating;  // while iterated: the decoder over `data`
    bool iterated_out;
};

DecoderObject* as_decoder(PyObject* self) { return reinterpret_cast<DecoderObject*>(self); }

constexpr const char* kDecoderNewNames[] = {"data", "max_depth"};
constexpr Signature kDecoderNew{"DralDecoder", kDecoderNewNames, 2, 1, 1};

PyObject* make_decoder(PyTypeObject* type, PyObject** parsed) {
    if (!check_bytes_argument(kDecoderNew, 0, parsed[0])) return nullptr;
    auto max_depth = u64_argument(kDecoderNew, 1, parsed[1], 128);
    if (!max_depth) return nullptr;
    PyObject* data =
        PyBytes_CheckExact(parsed[0])
            ? Py_NewRef(parsed[0])
            : PyBytes_FromStringAndSize(PyBytes_AS_STRING(parsed[0]), PyBytes_GET_SIZE(parsed[0]));
    if (data == nullptr) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        Py_DECREF(data);
        return nullptr;
    }
    as_decoder(self)->data = data;
    as_decoder(self)->max_depth = *max_depth;
    as_decoder(self)->consumed = false;
    as_decoder(self)->iterating = nullptr;
    as_decoder(self)->iterated_out = false;
    return self;
}

void decoder_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_decoder(self)->iterating;
    Py_XDECREF(as_decoder(self)->data);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* decoder_decode_all(PyObject* self, PyObject*) {
    DecoderObject* object = as_decoder(self);
    if (object->consumed) return raise_decode_error("decoder already consumed");
    object->consumed = true;
    return decode_to_list(bytes_span(object->data), limits_for(true, object->max_depth));
}

// Iteration yields the values one at a time, each converted as it is read; it consumes the
// decoder as decode_all does.
PyObject* decoder_next(PyObject* self) {
    DecoderObject* object = as_decoder(self);
    if (object->iterating == nullptr) {
        if (object->consumed) return raise_decode_error("decoder already consumed");
        object->consumed = true;
        object->iterating =
            new dral_core::Decoder(bytes_span(object->data), limits_for(true, object->max_depth));
    }
    if (object->iterated_out) return nullptr;
    PyObject* value = decode_next_to_py(*object->iterating);
    // At the end, or after an error, it stays at its end.
    if (value == nullptr) object->iterated_out = true;
    return value;
}

PyMethodDef kDecoderMethods[] = {
    {"decode_all", guarded<decoder_decode_all>, METH_NOARGS,
     "decode_all($self, /)\n--\n\nDecode all values from the binary data."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kDecoderSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(guarded<new_by_tp_new<kDecoderNew, make_decoder>>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(decoder_dealloc)},
    {Py_tp_methods, kDecoderMethods},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(guarded<decoder_next>)},
    {Py_tp_doc,
     const_cast<char*>("DralDecoder(data, *, max_depth=128)\n--\n\n"
                       "Incremental Dral decoder.\n\n"
                       "Iterating yields the values one at a time (as Reader does for a\n"
                       "file); either way the decoder is used once.\n\n"
                       "Example:\n"
                       "    dec = DralDecoder(data)\n"
                       "    values = dec.decode_all()")},
    {0, nullptr},
};

PyType_Spec kDecoderSpec = {"_dral_native.DralDecoder", sizeof(DecoderObject), 0, 0, kDecoderSlots};

}  // namespace

int init_incremental(PyObject* module) {
    // Calling a class goes straight to its vectorcall, without the tuple and dict of a generic
    // call.
    ModuleState& state = module_state();
    if (add_class(module, &kEncoderSpec, state.classes.encoder,
                  guarded<new_by_call<kEncoderNew, make_encoder>>) < 0)
        return -1;
    return add_class(module, &kDecoderSpec, state.classes.dral_decoder,
                     guarded<new_by_call<kDecoderNew, make_decoder>>);
}

}  // namespace dral_python
