// The Reader class: the top-level values of a stream read from a binary file, one at a time, a
// block in memory at a time; and scan_blocks, the data blocks of a file for parallel readers.
#include "dral_python/binary/stream_reader.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "dral_core/binary/decoder.hpp"
#include "dral_core/binary/stream.hpp"
#include "dral_python/binary/byte_files.hpp"
#include "dral_python/convert/py_decode.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::ByteBuffer;
using dral_core::DecodeLimits;
using dral_core::Decoder;

// Bytes asked of the file at least per read: fewer calls into Python for streams of small
// blocks.
constexpr std::size_t kReadAhead = 1 << 16;

struct ReaderState {
    ReaderState(const DecodeLimits& limits, std::uint64_t start, std::uint64_t stop)
        : limits(limits), decoder({}, limits, &long_work), origin(start), stop(stop) {
        decoder.enable_windows();
    }

    DecodeLimits limits;
    LockReleasingWork long_work;
    Decoder decoder;
    ByteBuffer buffer;       // bytes of the stream from `origin` on
    std::uint64_t origin;    // of the buffer's first byte in the stream
    std::uint64_t stop;      // a part of a stream ends here (else UINT64_MAX: at its end block)
    std::size_t window = 0;  // bytes of the buffer the decoder reads now
    bool file_ended = false;
    bool started = false;

    bool part() const { return stop != UINT64_MAX; }
};

struct ReaderObject {
    PyObject_HEAD PyObject* file;
    bool owns_file;
    bool busy;
    bool done;  // ended, failed or closed: iteration stops
    ReaderState* state;
};

ReaderObject* as_reader(PyObject* self) { return reinterpret_cast<ReaderObject*>(self); }

// Reads until the buffer holds `needed` bytes, the file ends, or a part's end is reached.
bool fill(ReaderState& state, PyObject* file, std::size_t needed) {
    const std::uint64_t available = state.stop - state.origin;
    needed = static_cast<std::size_t>(std::min<std::uint64_t>(needed, available));
    while (state.buffer.size() < needed && !state.file_ended) {
        std::size_t room = std::max(needed - state.buffer.size(), kReadAhead);
        // Never past a part's end, and never more at once than the buffer holds already: a
        // length that lies costs memory only as bytes arrive.
        room = static_cast<std::size_t>(
            std::min<std::uint64_t>(room, available - state.buffer.size()));
        room = std::min(room, std::max(state.buffer.size(), kReadAhead));
        if (room == 0) break;
        Py_ssize_t got = read_some(file, state.buffer, room);
        if (got < 0) return false;
        if (got == 0) state.file_ended = true;
    }
    return true;
}

// Hands the decoder the next block: the one that starts the buffer once the last is dropped.
bool next_window(ReaderState& state, PyObject* file) {
    Decoder& decoder = state.decoder;
    decoder.close_window();
    ByteBuffer& buffer = state.buffer;
    // Nothing to drop before the first block, when the buffer may not exist yet.
    if (state.window != 0) {
        const std::size_t rest = buffer.size() - state.window;
        std::memmove(buffer.data(), buffer.data() + state.window, rest);
        buffer.truncate(rest);
    }
    state.origin += state.window;
    state.window = 0;
    if (!fill(state, file, dral_core::kMaxBlockHeaderSize)) return false;
    std::size_t size = buffer.size();
    if (auto header = dral_core::peek_block_header(buffer.span())) {
        // A block larger than the limit is refused from its header: its payload is never read.
        if (header->payload_length <= state.limits.max_block_size) {
            if (!fill(state, file, static_cast<std::size_t>(header->total()))) return false;
            size =
                static_cast<std::size_t>(std::min<std::uint64_t>(header->total(), buffer.size()));
        } else {
            size = std::min(header->header_size, buffer.size());
        }
    }
    state.window = size;
    decoder.set_window(buffer.span().first(size), state.origin);
    return true;
}

PyObject* stream_cut(std::uint64_t offset) {
    return map_decode_error(dral_core::DralError::unexpected_eof(offset));
}

PyObject* reader_next(PyObject* self) {
    ReaderObject* reader = as_reader(self);
    if (reader->done) return nullptr;
    if (reader->busy) {
        PyErr_SetString(PyExc_RuntimeError, "Reader is in use by another thread");
        return nullptr;
    }
    ReaderState& state = *reader->state;
    GcPause pause;
    struct Busy {  // while the call lasts, and the collector's pause with it
        ReaderObject* reader;
        LockReleasingWork& long_work;
        Busy(ReaderObject* reader, LockReleasingWork& long_work, GcPause& pause)
            : reader(reader), long_work(long_work) {
            reader->busy = true;
            long_work.set_pause(&pause);
        }
        ~Busy() {
            long_work.set_pause(nullptr);
            reader->busy = false;
        }
    } busy(reader, state.long_work, pause);
    while (true) {
        if (state.started) {
            PyObject* value = decode_next_to_py(state.decoder);
            if (value != nullptr) return value;
            if (PyErr_Occurred() || state.decoder.ended()) break;
        }
        state.started = true;
        // Between blocks a long read can be interrupted.
        if (PyErr_CheckSignals() < 0) break;
        if (!next_window(state, reader->file)) break;
        if (state.window == 0) {
            // No byte is left: a part ends here, a whole stream was cut before its end block.
            if (!state.part() || state.origin != state.stop) stream_cut(state.origin);
            break;
        }
    }
    reader->done = true;
    return nullptr;
}

void close_file(ReaderObject* reader) {
    if (reader->owns_file && reader->file != nullptr) {
        PyRef closed(PyObject_CallMethod(reader->file, "close", nullptr));
        if (!closed) PyErr_WriteUnraisable(reader->file);
    }
    Py_CLEAR(reader->file);
}

PyObject* reader_close(PyObject* self, PyObject*) {
    ReaderObject* reader = as_reader(self);
    if (reader->busy) {
        PyErr_SetString(PyExc_RuntimeError, "Reader is in use by another thread");
        return nullptr;
    }
    reader->done = true;
    delete std::exchange(reader->state, nullptr);
    if (reader->owns_file && reader->file != nullptr) {
        PyRef closed(PyObject_CallMethod(reader->file, "close", nullptr));
        Py_CLEAR(reader->file);
        if (!closed) return nullptr;
    }
    Py_CLEAR(reader->file);
    Py_RETURN_NONE;
}

PyObject* reader_enter(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* reader_exit(PyObject* self, PyObject* const*, Py_ssize_t) {
    PyRef closed(reader_close(self, nullptr));
    if (!closed) return nullptr;
    Py_RETURN_FALSE;
}

void reader_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    ReaderObject* reader = as_reader(self);
    delete reader->state;
    close_file(reader);
    type->tp_free(self);
    Py_DECREF(type);
}

constexpr const char* kReaderNames[] = {"source", "strict", "max_depth", "start", "stop"};
constexpr Signature kReaderNew{"Reader", kReaderNames, 5, 1, 1};

PyObject* reader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* parsed[5];
    if (!parse_classic_arguments(kReaderNew, args, kwargs, parsed)) return nullptr;
    auto limits = decode_options(kReaderNew, parsed, 1);
    if (!limits) return nullptr;
    auto start = u64_argument(kReaderNew, 3, parsed[3], 0);
    if (!start) return nullptr;
    std::uint64_t stop = UINT64_MAX;
    if (parsed[4] != nullptr && parsed[4] != Py_None) {
        auto given = u64_argument(kReaderNew, 4, parsed[4], 0);
        if (!given) return nullptr;
        stop = std::max(*given, *start);
    }
    bool opened = false;
    PyRef file(open_for_reading(parsed[0], &opened));
    if (!file) return nullptr;
    if (*start != 0 && !seek_to(file.get(), *start)) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    ReaderObject* reader = as_reader(self);
    reader->file = file.release();
    reader->owns_file = opened;
    reader->busy = reader->done = false;
    reader->state = new ReaderState(*limits, *start, stop);
    return self;
}

PyMethodDef kReaderMethods[] = {
    {"close", guarded<reader_close>, METH_NOARGS,
     "close($self, /)\n--\n\nStop reading; a file the reader opened from a path is closed."},
    {"__enter__", guarded<reader_enter>, METH_NOARGS,
     "__enter__($self, /)\n--\n\nThe reader itself."},
    {"__exit__", fastcall(guarded<reader_exit>), METH_FASTCALL,
     "__exit__($self, exc_type, exc_value, traceback, /)\n--\n\nClose the reader."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kReaderSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(guarded<reader_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(reader_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(guarded<reader_next>)},
    {Py_tp_methods, kReaderMethods},
    {Py_tp_doc,
     const_cast<char*>("Reader(source, *, strict=True, max_depth=128, start=0, stop=None)\n--\n\n"
                       "The top-level values of a Dral stream, read one at a time.\n\n"
                       "source is a binary file object (seekable or not: a pipe, a socket,\n"
                       "sys.stdin.buffer) or a path. Iterating yields each value once its block's\n"
                       "checksum is verified; the reading limits of loads() apply to each block.\n"
                       "A stream cut short or damaged yields the values of every block before\n"
                       "the fault, then raises DralDecodeError (DralChecksumError for a\n"
                       "checksum); the stream checksum is verified at the end block.\n\n"
                       "start and stop (byte offsets from scan_blocks()) read a part of a\n"
                       "stream: whole blocks from start to stop, each verified, the end block\n"
                       "not expected. Closing the reader (or leaving a with block) closes a\n"
                       "file it opened.")},
    {0, nullptr},
};

PyType_Spec kReaderSpec = {"_dral_native.Reader", sizeof(ReaderObject), 0, 0, kReaderSlots};

// scan_blocks: each data block with what precedes it since the last one, from headers alone.
constexpr const char* kScanNames[] = {"source"};
constexpr Signature kScan{"scan_blocks", kScanNames, 1, 1, 1};

PyObject* scan_blocks(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* source;
    if (!parse_arguments(kScan, args, nargs, kwnames, &source)) return nullptr;
    ReadSource file(source);
    if (!file.get()) return nullptr;
    PyRef seekable(PyObject_CallMethod(file.get(), "seekable", nullptr));
    if (!seekable) PyErr_Clear();
    const bool can_seek = seekable && PyObject_IsTrue(seekable.get()) == 1;
    PyRef units(PyList_New(0));
    if (!units) return nullptr;
    std::uint64_t at = 0, unit_start = 0;  // `pending` holds the bytes from `at` on
    ByteBuffer pending;
    while (true) {
        while (pending.size() < dral_core::kMaxBlockHeaderSize) {
            Py_ssize_t got =
                read_some(file.get(), pending, dral_core::kMaxBlockHeaderSize - pending.size());
            if (got < 0) return nullptr;
            if (got == 0) break;
        }
        auto block = dral_core::peek_block_header(pending.span());
        if (!block) {
            if (pending.empty()) return stream_cut(at);
            return raise_decode_error("no block header where a block should start");
        }
        if (block->type == static_cast<std::uint8_t>(dral_core::BlockType::End)) {
            if (pending.size() < dral_core::kEndBlockSize) return stream_cut(at + pending.size());
            return units.release();
        }
        const std::uint64_t next = at + block->total();
        if (block->type == static_cast<std::uint8_t>(dral_core::BlockType::Data)) {
            PyRef unit(Py_BuildValue("(KK)", static_cast<unsigned long long>(unit_start),
                                     static_cast<unsigned long long>(next - unit_start)));
            if (!unit || PyList_Append(units.get(), unit.get()) < 0) return nullptr;
            unit_start = next;
        }
        if (block->total() <= pending.size()) {  // the next header is read already
            const auto used = static_cast<std::size_t>(block->total());
            std::memmove(pending.data(), pending.data() + used, pending.size() - used);
            pending.truncate(pending.size() - used);
        } else if (can_seek) {  // past the payload without reading it
            if (!seek_to(file.get(), next)) return nullptr;
            pending.clear();
        } else {
            for (std::uint64_t skip = next - at - pending.size(); skip > 0;) {
                pending.clear();
                const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(skip, 1 << 20));
                Py_ssize_t got = read_some(file.get(), pending, piece);
                if (got < 0) return nullptr;
                if (got == 0) return stream_cut(next - skip);
                skip -= static_cast<std::uint64_t>(got);
            }
            pending.clear();
        }
        at = next;
    }
}

PyMethodDef kFunctions[] = {
    {"scan_blocks", fastcall(guarded<scan_blocks>), kFastcallKeywords,
     "scan_blocks(source)\n--\n\n"
     "The data blocks of a Dral stream, from their headers alone.\n\n"
     "Returns a list of (start, length) byte ranges, one per data block with the\n"
     "blocks before it since the last one (its string dictionary, if any), in stream\n"
     "order: Reader(source, start=..., stop=...) reads any run of them, so that\n"
     "processes or machines can share one file. Payloads are neither read nor\n"
     "verified here (a seekable file is skipped through); the stream must end with\n"
     "its end block."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int init_stream_reader(PyObject* module) {
    if (add_class(module, &kReaderSpec, module_state().classes.reader) < 0) return -1;
    return add_public_functions(module, kFunctions);
}

}  // namespace dral_python
