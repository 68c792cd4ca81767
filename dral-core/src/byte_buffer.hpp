// A growable byte buffer without value-initialisation on growth: the encoders append to it in
// their hot loops.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <utility>

namespace dral_core {

class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t capacity) { reserve(capacity); }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~ByteBuffer() { std::free(data_); }

    const std::uint8_t* data() const { return data_; }
    std::uint8_t* data() { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    std::span<const std::uint8_t> span() const { return {data_, size_}; }
    std::string_view view(std::size_t offset, std::size_t length) const {
        return {reinterpret_cast<const char*>(data_) + offset, length};
    }

    void reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        auto* grown = static_cast<std::uint8_t*>(std::realloc(data_, capacity));
        if (grown == nullptr) throw std::bad_alloc();
        data_ = grown;
        capacity_ = capacity;
    }

    // Room for `n` more bytes; returns where they go. Commit them with `advance`.
    std::uint8_t* prepare(std::size_t n) {
        if (capacity_ - size_ < n) [[unlikely]]
            grow(n);
        return data_ + size_;
    }
    void advance(std::size_t n) { size_ += n; }

    void push_back(std::uint8_t byte) {
        *prepare(1) = byte;
        ++size_;
    }
    void append(const void* bytes, std::size_t n) {
        if (n == 0) return;
        std::memcpy(prepare(n), bytes, n);
        size_ += n;
    }
    void append(std::span<const std::uint8_t> bytes) { append(bytes.data(), bytes.size()); }
    // Gives the whole pages inside [offset, offset + length) back to the system; their bytes
    // become undefined (zero on Linux). For buffers whose content is no longer needed.
    void release_pages(std::size_t offset, std::size_t length);

    void truncate(std::size_t size) { size_ = size < size_ ? size : size_; }
    void clear() { size_ = 0; }

private:
    void grow(std::size_t n) {
        std::size_t needed = size_ + n;
        if (needed < size_) throw std::bad_alloc();
        std::size_t capacity = capacity_ < 64 ? 64 : capacity_;
        while (capacity < needed) capacity = capacity * 2 > capacity ? capacity * 2 : needed;
        reserve(capacity);
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace dral_core
