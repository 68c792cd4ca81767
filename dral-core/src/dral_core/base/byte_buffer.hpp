// A growable byte buffer without value-initialisation on growth: the encoders append to it in
// their hot loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <utility>

namespace dral_core {

// Where a buffer's bytes live: by default the C heap. An owner (the Python binding) may supply
// storage of its own, so that a finished stream can be handed over without a copy, with room
// kept before the data for a header written last.
struct ByteStorage {
    // A block of `size` bytes holding the first `keep` bytes of `base` (which it replaces), or
    // nullptr when memory is exhausted.
    std::uint8_t* (*resize)(void*& owner, std::uint8_t* base, std::size_t keep, std::size_t size);
    void (*release)(void* owner, std::uint8_t* base);
    std::size_t front;            // bytes kept before the data
    bool loses_bytes_on_failure;  // a failed resize also freed the old block
    // The capacity to grow to when `needed` bytes must fit and doubling gives `doubled`; null
    // to keep doubling.
    std::size_t (*growth)(std::size_t needed, std::size_t doubled);
};

inline constexpr ByteStorage kHeapStorage{
    [](void*&, std::uint8_t* base, std::size_t, std::size_t size) {
        return static_cast<std::uint8_t*>(std::realloc(base, size));
    },
    [](void*, std::uint8_t* base) { std::free(base); },
    0,
    false,
    nullptr,
};

class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t capacity) { reserve(capacity); }
    explicit ByteBuffer(const ByteStorage& storage) : storage_(&storage) {}
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept { swap(other); }
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        swap(other);
        return *this;
    }
    ~ByteBuffer() {
        if (base_ != nullptr || owner_ != nullptr) storage_->release(owner_, base_);
    }

    const std::uint8_t* data() const { return data_; }
    std::uint8_t* data() { return data_; }
    std::size_t size() const { return static_cast<std::size_t>(end_ - data_); }
    std::size_t capacity() const { return static_cast<std::size_t>(limit_ - data_); }
    bool empty() const { return end_ == data_; }
    std::span<const std::uint8_t> span() const { return {data_, size()}; }
    std::string_view view(std::size_t offset, std::size_t length) const {
        return {reinterpret_cast<const char*>(data_) + offset, length};
    }
    const ByteStorage& storage() const { return *storage_; }

    void reserve(std::size_t capacity) {
        if (capacity <= this->capacity()) return;
        std::size_t front = storage_->front;
        if (capacity > SIZE_MAX - front) throw std::bad_alloc();
        const std::size_t size = this->size();
        std::size_t keep = base_ == nullptr ? 0 : front + size;
        auto* grown = storage_->resize(owner_, base_, keep, front + capacity);
        if (grown == nullptr) {
            if (storage_->loses_bytes_on_failure) forget();
            throw std::bad_alloc();
        }
        base_ = grown;
        data_ = grown + front;
        end_ = data_ + size;
        limit_ = data_ + capacity;
    }

    // Gives the room past the data back to the storage (a shrinking realloc keeps the data where
    // it is); a hint, so the buffer stays as it was if the storage fails, and a storage that
    // could lose the data on failure is not asked. An empty buffer keeps its room: a block of no
    // bytes is freed (realloc) or shared (an empty str).
    void shrink_to_fit() {
        if (empty() || end_ == limit_ || storage_->loses_bytes_on_failure) return;
        const std::size_t size = this->size(), front = storage_->front;
        auto* shrunk = storage_->resize(owner_, base_, front + size, front + size);
        if (shrunk == nullptr) return;
        base_ = shrunk;
        data_ = shrunk + front;
        end_ = limit_ = data_ + size;
    }

    // Hands the storage's owner (and with it the bytes) to the caller; the buffer is left empty.
    void* take_owner() {
        void* owner = owner_;
        forget();
        return owner;
    }

    // Room for `n` more bytes; returns where they go. Commit them with `advance`.
    std::uint8_t* prepare(std::size_t n) {
        if (static_cast<std::size_t>(limit_ - end_) < n) [[unlikely]]
            grow(n);
        return end_;
    }
    void advance(std::size_t n) { end_ += n; }

    void push_back(std::uint8_t byte) {
        *prepare(1) = byte;
        ++end_;
    }
    void append(const void* bytes, std::size_t n) {
        if (n == 0) return;
        std::memcpy(prepare(n), bytes, n);
        end_ += n;
    }
    void append(std::span<const std::uint8_t> bytes) { append(bytes.data(), bytes.size()); }

    void truncate(std::size_t size) {
        if (size < this->size()) end_ = data_ + size;
    }
    void clear() { end_ = data_; }

private:
    void grow(std::size_t n) {
        std::size_t needed = size() + n;
        if (needed < n) throw std::bad_alloc();
        std::size_t capacity = this->capacity() < 64 ? 64 : this->capacity();
        while (capacity < needed) capacity = capacity * 2 > capacity ? capacity * 2 : needed;
        if (storage_->growth != nullptr) capacity = storage_->growth(needed, capacity);
        reserve(capacity);
    }

    void forget() {
        owner_ = nullptr;
        base_ = data_ = end_ = limit_ = nullptr;
    }
    void swap(ByteBuffer& other) noexcept {
        std::swap(storage_, other.storage_);
        std::swap(owner_, other.owner_);
        std::swap(base_, other.base_);
        std::swap(data_, other.data_);
        std::swap(end_, other.end_);
        std::swap(limit_, other.limit_);
    }

    const ByteStorage* storage_ = &kHeapStorage;
    void* owner_ = nullptr;
    std::uint8_t* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
    // The bookkeeping of the hot loops is in pointers: the end of the data is where the next
    // byte goes, and the room left needs no third load.
    std::uint8_t* end_ = nullptr;
    std::uint8_t* limit_ = nullptr;
};

}  // namespace dral_core
