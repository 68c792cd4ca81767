// The Writer class: a stream written to a binary file as it grows, a block at a time.
#include "dral_python/binary/stream_writer.hpp"

#include <new>
#include <optional>

#include "dral_core/binary/encoder.hpp"
#include "dral_python/binary/byte_files.hpp"
#include "dral_python/binary/compression.hpp"
#include "dral_python/binary/encoder_pool.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_encode.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::Encoder;

struct WriterState {
    std::optional<Encoder> encoder;  // empty once closed or abandoned
    OutputFile out;
    ConvertOptions options;  // its default hook held by the writer
};

struct WriterObject {
    PyObject_HEAD WriterState* state;
    bool busy;
};

WriterObject* as_writer(PyObject* self) { return reinterpret_cast<WriterObject*>(self); }

PyObject* closed_error() {
    PyErr_SetString(PyExc_ValueError, "write to a closed Writer");
    return nullptr;
}

// The writer as a call that may let other threads run finds it: nullptr with the error set when
// it is closed or in use.
WriterState* usable(WriterObject* writer) {
    if (writer->busy) {
        PyErr_SetString(PyExc_RuntimeError, "Writer is in use by another thread");
        return nullptr;
    }
    if (!writer->state->encoder) return closed_error(), nullptr;
    return writer->state;
}

// A writer given up: no end block, so that what was written reads as cut short.
void abandon_writer(WriterState& state) {
    if (!state.encoder) return;
    state.encoder.reset();
    abandon(state.out);
}

// Blocks closed so far go to the file, so that the writer holds about one block.
bool write_closed_blocks(WriterState& state) {
    if (state.encoder->closed_output().empty()) return true;
    return state.encoder->send_closed_output(
        [&](dral_core::ByteBuffer& blocks) { return write_block(state.out, blocks); });
}

// One value, then whatever blocks it closed; a block is compressed with the lock released.
bool write_one(WriterObject* writer, WriterState& state, PyObject* obj) {
    // The hook it holds lives as long as the call, whatever the call does to the writer.
    PyRef hook = PyRef::borrow(state.options.default_hook);
    const ConvertOptions options = state.options;
    // Busy until its blocks are on their way, which may let other threads run too.
    writer->busy = true;
    const bool encoded = encode_object_releasing(*state.encoder, obj, options);
    const bool written = encoded && write_closed_blocks(state);
    writer->busy = false;
    // A value refused leaves the stream as it was; a block lost on its way to the file does not.
    if (encoded && !written) abandon_writer(state);
    return written;
}

constexpr const char* kWriteNames[] = {"obj"};
constexpr Signature kWrite{"write", kWriteNames, 1, 1, 1};

PyObject* writer_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* obj;
    if (!parse_arguments(kWrite, args, nargs, kwnames, &obj)) return nullptr;
    WriterState* state = usable(as_writer(self));
    if (state == nullptr || !write_one(as_writer(self), *state, obj)) return nullptr;
    Py_RETURN_NONE;
}

constexpr const char* kWriteAllNames[] = {"values"};
constexpr Signature kWriteAll{"write_all", kWriteAllNames, 1, 1, 1};

PyObject* writer_write_all(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    PyObject* values;
    if (!parse_arguments(kWriteAll, args, nargs, kwnames, &values)) return nullptr;
    PyRef iterator(PyObject_GetIter(values));
    if (!iterator) return nullptr;
    while (PyRef value{PyIter_Next(iterator.get())}) {
        // The iterator runs Python code, which may close the writer.
        WriterState* state = usable(as_writer(self));
        if (state == nullptr || !write_one(as_writer(self), *state, value.get())) return nullptr;
        if (PyErr_CheckSignals() < 0) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

PyObject* writer_close(PyObject* self, PyObject*) {
    WriterObject* writer = as_writer(self);
    if (writer->busy) {
        PyErr_SetString(PyExc_RuntimeError, "Writer is in use by another thread");
        return nullptr;
    }
    WriterState& state = *writer->state;
    if (!state.encoder) Py_RETURN_NONE;
    // Finished whatever happens next: a failure below abandons what was written.
    std::optional<Encoder> encoder = std::move(state.encoder);
    state.encoder.reset();
    struct Busy {
        bool& busy;
        ~Busy() { busy = false; }
    } busy{writer->busy = true};
    PyRef rest(finish_to_bytes(*encoder));
    recycle(*encoder);
    if (!rest || !write_bytes(state.out,
                              {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(rest.get())),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(rest.get()))})) {
        abandon(state.out);
        return nullptr;
    }
    if (!commit(state.out)) return nullptr;
    Py_RETURN_NONE;
}

PyObject* writer_enter(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* writer_exit(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs >= 1 && args[0] != Py_None) {
        abandon_writer(*as_writer(self)->state);
        Py_RETURN_FALSE;
    }
    PyRef closed(writer_close(self, nullptr));
    if (!closed) return nullptr;
    Py_RETURN_FALSE;
}

PyObject* writer_closed(PyObject* self, void*) {
    return PyBool_FromLong(!as_writer(self)->state->encoder);
}

void writer_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    WriterState* state = as_writer(self)->state;
    if (state != nullptr) {
        if (state->encoder && PyErr_WarnEx(PyExc_ResourceWarning,
                                           "Writer dropped before close(): no end block", 1) < 0)
            PyErr_WriteUnraisable(self);
        abandon_writer(*state);
        release(state->out);
        Py_XDECREF(state->options.default_hook);
        delete state;
    }
    type->tp_free(self);
    Py_DECREF(type);
}

constexpr const char* kWriterNames[] = {"target",  "compression", "dedup",     "sort_keys",
                                        "default", "max_depth",   "block_size"};
constexpr Signature kWriterNew{"Writer", kWriterNames, 7, 1, 1};

PyObject* writer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* parsed[7];
    if (!parse_classic_arguments(kWriterNew, args, kwargs, parsed)) return nullptr;
    if (parsed[1] != nullptr && parsed[1] != Py_None &&
        !check_str_argument(kWriterNew, 1, parsed[1]))
        return nullptr;
    auto dedup = bool_argument(kWriterNew, 2, parsed[2], false);
    if (!dedup) return nullptr;
    auto sort_keys = bool_argument(kWriterNew, 3, parsed[3], false);
    if (!sort_keys) return nullptr;
    ConvertOptions options;
    if (!read_convert_arguments(kWriterNew, parsed, 4, 5, options)) return nullptr;
    options.sort_keys = *sort_keys;
    auto block_size = u64_argument(kWriterNew, 6, parsed[6], dral_core::kDefaultBlockThreshold);
    if (!block_size) return nullptr;
    auto compression = parse_compression(parsed[1]);
    if (!compression) return nullptr;
    auto state = std::make_unique<WriterState>();
    if (!open_for_writing(parsed[0], state->out)) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        release(state->out);
        return nullptr;
    }
    Encoder& encoder = state->encoder.emplace(new_incremental_encoder());
    encoder.set_dedup(*dedup);
    encoder.set_compression(*compression);
    encoder.set_block_threshold(*block_size);
    Py_XINCREF(options.default_hook);
    state->options = options;
    as_writer(self)->state = state.release();
    as_writer(self)->busy = false;
    return self;
}

PyMethodDef kWriterMethods[] = {
    {"write", fastcall(guarded<writer_write>), kFastcallKeywords,
     "write($self, /, obj)\n--\n\nWrite one top-level value."},
    {"write_all", fastcall(guarded<writer_write_all>), kFastcallKeywords,
     "write_all($self, /, values)\n--\n\nWrite each value of an iterable as a top-level value."},
    {"close", guarded<writer_close>, METH_NOARGS,
     "close($self, /)\n--\n\n"
     "Write what is left and the end block; a path is then replaced by the new file.\n"
     "Closing twice does nothing."},
    {"__enter__", guarded<writer_enter>, METH_NOARGS,
     "__enter__($self, /)\n--\n\nThe writer itself."},
    {"__exit__", fastcall(guarded<writer_exit>), METH_FASTCALL,
     "__exit__($self, exc_type, exc_value, traceback, /)\n--\n\n"
     "Close the writer, or, when the with block raised, abandon it: no end block is\n"
     "written (a path is left as it was)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kWriterProperties[] = {
    {"closed", guarded<writer_closed>, nullptr, "True once closed or abandoned.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kWriterSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(guarded<writer_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(writer_dealloc)},
    {Py_tp_methods, kWriterMethods},
    {Py_tp_getset, kWriterProperties},
    {Py_tp_doc,
     const_cast<char*>("Writer(target, *, compression=None, dedup=False, sort_keys=False, "
                       "default=None, max_depth=128, block_size=1048576)\n--\n\n"
                       "A Dral stream written to a binary file as values come; each value\n"
                       "is converted as dumps() converts it (sort_keys, default, max_depth).\n\n"
                       "target is a binary file object with write(), or a path (written to a\n"
                       "new file beside it, which replaces the path at close(), as\n"
                       "encode_to_file() replaces it). Each\n"
                       "block goes to the file once it holds block_size bytes or more, so\n"
                       "the writer holds about one block whatever is written. close() writes\n"
                       "the end block; a writer left by an exception writes none, so what it\n"
                       "wrote reads as cut short, never as complete.")},
    {0, nullptr},
};

PyType_Spec kWriterSpec = {"_dral_native.Writer", sizeof(WriterObject), 0, 0, kWriterSlots};

}  // namespace

int init_stream_writer(PyObject* module) {
    return add_class(module, &kWriterSpec, module_state().classes.writer);
}

}  // namespace dral_python
