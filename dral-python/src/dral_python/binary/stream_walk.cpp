// The blocks of a stream as they lie in a file, with the checksums they store and the ones their
// bytes give: what `dral inspect` reports, read a piece at a time whatever the file's size.
#include "dral_python/binary/stream_walk.hpp"

#include <algorithm>
#include <cstring>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/binary/stream.hpp"
#include "dral_core/checksum/xxh64.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_python/binary/byte_files.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {
namespace {

using dral_core::ByteBuffer;

constexpr std::size_t kPiece = 1 << 20;

// Reads the file in pieces, handing out bytes in order and adding each to the stream checksum.
class Walk {
public:
    explicit Walk(PyObject* file) : file_(file) {}

    // Makes at least `n` bytes available (fewer at the end of the file); false on an error.
    bool want(std::size_t n) {
        while (pending_.size() - used_ < n) {
            compact();
            Py_ssize_t got = read_some(file_, pending_, std::max(n, kPiece));
            if (got < 0) return false;
            if (got == 0) break;
        }
        return true;
    }
    std::span<const std::uint8_t> available() const { return pending_.span().subspan(used_); }
    // Consumes `n` available bytes, hashing them into the stream checksum and `block`.
    void take(std::size_t n, dral_core::Xxh64Stream* block) {
        const auto bytes = available().first(n);
        stream_.update(bytes);
        if (block != nullptr) block->update(bytes);
        used_ += n;
        offset_ += n;
    }
    std::uint64_t offset() const { return offset_; }
    // Reads to the end of the file; returns its size, or -1 on an error.
    long long drain() {
        while (true) {
            if (!want(kPiece)) return -1;
            const std::size_t n = available().size();
            if (n == 0) return static_cast<long long>(offset_);
            used_ += n;
            offset_ += n;
        }
    }
    std::uint64_t stream_checksum() const { return stream_.digest(); }

private:
    void compact() {
        if (used_ == 0) return;
        std::memmove(pending_.data(), pending_.data() + used_, pending_.size() - used_);
        pending_.truncate(pending_.size() - used_);
        used_ = 0;
    }

    PyObject* file_;
    ByteBuffer pending_;
    std::size_t used_ = 0;
    std::uint64_t offset_ = 0;
    dral_core::Xxh64Stream stream_;
};

// What a payload starts with: the stream checksum an end block holds, or the varint that leads a
// dictionary (its count) and a compressed block (its size); None when there is no such value.
PyObject* leading_value(const dral_core::BlockHeader& header, std::span<const std::uint8_t> first) {
    if (header.type == static_cast<std::uint8_t>(dral_core::BlockType::End)) {
        if (header.payload_length != dral_core::kChecksumSize ||
            first.size() < dral_core::kChecksumSize)
            Py_RETURN_NONE;
        return PyLong_FromUnsignedLongLong(dral_core::load_u64_le(first.data()));
    }
    if (auto varint = dral_core::decode_varint(first, 0))
        return PyLong_FromUnsignedLongLong(varint->value);
    Py_RETURN_NONE;
}

// Where and why the walk stopped; the rest of the file is read to tell its size.
PyObject* stop(Walk& walk, const char* why, std::uint64_t at, PyObject* blocks,
               PyObject* extra = Py_None) {
    const long long size = walk.drain();
    if (size < 0) return nullptr;
    return Py_BuildValue("{s:s,s:K,s:O,s:O,s:L}", "stop", why, "at",
                         static_cast<unsigned long long>(at), "blocks", blocks, "extra", extra,
                         "size", size);
}

constexpr const char* kWalkNames[] = {"source"};
constexpr Signature kWalk{"_walk_blocks", kWalkNames, 1, 1, 1};

PyObject* walk_blocks(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* source;
    if (!parse_arguments(kWalk, args, nargs, kwnames, &source)) return nullptr;
    ReadSource file(source);
    if (!file.get()) return nullptr;
    PyRef blocks(PyList_New(0));
    if (!blocks) return nullptr;
    Walk walk(file.get());
    while (true) {
        if (!walk.want(dral_core::kMaxBlockHeaderSize)) return nullptr;
        const auto bytes = walk.available();
        const std::uint64_t at = walk.offset();
        if (bytes.empty()) return stop(walk, "no end block", at, blocks.get());
        auto header = dral_core::peek_block_header(bytes);
        if (!header) {
            const std::uint8_t type = bytes[0];
            const bool known = type >= 1 && (type <= 4 || type == 255);
            return stop(walk, known ? "header cut off" : "invalid type", at, blocks.get(),
                        PyRef(PyLong_FromLong(type)).get());
        }
        const std::uint64_t stream_before = walk.stream_checksum();
        const std::uint64_t stored =
            dral_core::load_u64_le(bytes.data() + header->header_size - dral_core::kChecksumSize);
        walk.take(header->header_size, nullptr);
        dral_core::Xxh64Stream payload;
        std::uint64_t left = header->payload_length;
        PyRef leading(Py_NewRef(Py_None));
        bool first = true;
        while (left > 0) {
            if (!walk.want(static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece))))
                return nullptr;
            const auto piece = walk.available();
            if (piece.empty()) break;
            if (first) {
                leading = PyRef(
                    leading_value(*header, piece.first(static_cast<std::size_t>(
                                               std::min<std::uint64_t>(piece.size(), left)))));
                if (!leading) return nullptr;
                first = false;
            }
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
            walk.take(n, &payload);
            left -= n;
        }
        PyRef record(Py_BuildValue("(KiKKiKKO)", static_cast<unsigned long long>(at), header->type,
                                   static_cast<unsigned long long>(header->header_size),
                                   static_cast<unsigned long long>(header->payload_length),
                                   header->compression, static_cast<unsigned long long>(stored),
                                   static_cast<unsigned long long>(payload.digest()),
                                   leading.get()));
        if (left > 0) {
            PyRef sizes(
                Py_BuildValue("(KK)", static_cast<unsigned long long>(header->payload_length),
                              static_cast<unsigned long long>(header->payload_length - left)));
            if (!sizes) return nullptr;
            return stop(walk, "payload cut off", at, blocks.get(), sizes.get());
        }
        if (!record || PyList_Append(blocks.get(), record.get()) < 0) return nullptr;
        if (header->type == static_cast<std::uint8_t>(dral_core::BlockType::End)) {
            // What follows the end block is never read as a stream; it is only counted.
            PyRef extra(PyLong_FromUnsignedLongLong(stream_before));
            if (!extra) return nullptr;
            return stop(walk, "end", walk.offset(), blocks.get(), extra.get());
        }
    }
}

PyMethodDef kFunctions[] = {
    {"_walk_blocks", fastcall(guarded<walk_blocks>), kFastcallKeywords,
     "_walk_blocks(source)\n--\n\n"
     "Every block of a stream, read from a file or path a piece at a time: a dict with\n"
     "'blocks', a list of (offset, type, header length, payload length, compression,\n"
     "stored checksum, computed checksum, what the payload leads with: its varint, or the\n"
     "end block's stream checksum), and where and why the walk stopped ('stop', 'at',\n"
     "'extra': for 'end' the stream checksum of the bytes before it; the offending type;\n"
     "or the declared and present payload bytes), and the file's 'size'."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int init_stream_walk(PyObject* module) { return PyModule_AddFunctions(module, kFunctions); }

}  // namespace dral_python
