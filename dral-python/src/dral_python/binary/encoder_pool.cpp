#include "dral_python/binary/encoder_pool.hpp"

#include <cstdint>
#include <utility>

#include "dral_core/base/limits.hpp"
#include "dral_core/binary/stream.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::Encoder;

// Below this, copying the stream costs less than giving its buffer away with it.
constexpr std::size_t kFinishInPlaceFrom = 1u << 20;

// A stream that grows as large as the last large one grows straight to its size: large documents
// tend to come again at about the same size, and a block the size of the one just freed is what
// the allocator hands back without mapping fresh pages and faulting them in, as it does for the
// larger blocks that doubling would ask for.
std::size_t grow_like_last_large_stream(std::size_t needed, std::size_t doubled) {
    std::size_t expected = module_state().encoders.last_large_payload + dral_core::kEndBlockSize;
    // Never more than four times what must fit: a stream far smaller than the last one does not
    // ask for (or fail on) a block of that one's size.
    bool likely = needed > kFinishInPlaceFrom && expected > doubled && expected / 4 <= needed;
    return likely ? expected : doubled;
}

// A one-shot encoder's block buffer lives in a bytes object with room for the data block's
// header in front: a large stream is then finished where it was written and handed over as the
// result, never held twice. Growing it may lose it when memory runs out, which only a one-shot
// encoder can afford; incremental encoders keep theirs on the C heap.
std::uint8_t* resize_bytes(void*& owner, std::uint8_t*, std::size_t, std::size_t size) {
    auto* bytes = static_cast<PyObject*>(owner);
    if (bytes == nullptr)
        bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    else if (_PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(size)) < 0)
        bytes = nullptr;  // resizing in place keeps the content; a failure frees it
    owner = bytes;
    return bytes ? reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes)) : nullptr;
}

void release_bytes(void* owner, std::uint8_t*) { Py_XDECREF(static_cast<PyObject*>(owner)); }

// The room in front is the header of a payload of 2 MiB to 256 MiB: such a stream is finished
// without moving its payload. Others move it by a byte or two.
constexpr dral_core::ByteStorage kBytesStorage{resize_bytes, release_bytes,
                                               dral_core::block_header_size(std::size_t{2} << 20),
                                               true, grow_like_last_large_stream};

// The memory of the last finished incremental encoder is kept for the next one (the C heap,
// given back to the system after each call, would have to fault its pages in every time).
dral_core::EncoderMemory& spare_heap_memory() { return module_state().encoders.spare_heap_memory; }

// The stream of `encoder`, finished in a new bytes object: a large one in the buffer it was
// written in, any other copied.
PyObject* finish_in_bytes(Encoder& encoder) {
    if (std::size_t payload = encoder.buffered_size(); payload >= kFinishInPlaceFrom) {
        module_state().encoders.last_large_payload = payload;
        if (std::size_t size = encoder.finish_in_place(); size != 0) {
            auto* stream = static_cast<PyObject*>(encoder.take_block_buffer().take_owner());
            if (_PyBytes_Resize(&stream, static_cast<Py_ssize_t>(size)) < 0) return nullptr;
            return stream;
        }
    }
    PyObject* bytes = nullptr;
    encoder.finish_into([&](std::size_t size) -> std::uint8_t* {
        bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
        return bytes ? reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes)) : nullptr;
    });
    return bytes;
}

}  // namespace

OneShotEncoder::OneShotEncoder() {
    EncoderPool& shared = module_state().encoders;
    for (std::size_t i = 0; i < kSharedOneShotEncoders; ++i) {
        if (shared.one_shot_in_use[i]) continue;
        if (!shared.one_shot[i])
            shared.one_shot[i].emplace(
                dral_core::EncoderMemory(dral_core::ByteBuffer(kBytesStorage)));
        in_use_ = &shared.one_shot_in_use[i];
        *in_use_ = true;
        encoder_ = &*shared.one_shot[i];
        encoder_->reset();
        break;
    }
    if (in_use_ == nullptr) {
        own_.emplace(dral_core::EncoderMemory(dral_core::ByteBuffer(kBytesStorage)));
        encoder_ = &*own_;
    }
    encoder_->set_hash_seed(module_state().hash_seed);
}

OneShotEncoder::~OneShotEncoder() {
    if (in_use_ == nullptr) return;
    if (encoder_->memory_bytes() > dral_core::kLargestSpareEncoderMemory)
        encoder_->release_memory();
    *in_use_ = false;
}

Encoder new_incremental_encoder() {
    Encoder encoder(std::move(spare_heap_memory()));
    spare_heap_memory().block = dral_core::ByteBuffer();  // the rest was left empty by the move
    encoder.set_hash_seed(module_state().hash_seed);
    return encoder;
}

void recycle(Encoder& encoder) {
    dral_core::EncoderMemory memory = encoder.take_memory();
    if (memory.capacity_bytes() <= dral_core::kLargestSpareEncoderMemory)
        spare_heap_memory() = std::move(memory);
}

PyObject* finish_to_bytes(Encoder& encoder) {
    LockReleasingWork long_work;
    encoder.set_long_work(&long_work);
    PyObject* stream = finish_in_bytes(encoder);
    encoder.set_long_work(nullptr);
    return stream;
}

}  // namespace dral_python
