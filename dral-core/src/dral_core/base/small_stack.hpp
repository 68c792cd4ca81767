// A stack whose first elements live inside it: shallow uses allocate nothing.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace dral_core {

template <class T, std::size_t kInline>
class SmallStack {
public:
    SmallStack() = default;
    SmallStack(const SmallStack&) = delete;
    SmallStack& operator=(const SmallStack&) = delete;
    ~SmallStack() { clear(); }

    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return i < kInline ? slot(i) : spilled_[i - kInline]; }
    T& back() { return size_ > kInline ? spilled_.back() : slot(size_ - 1); }
    void push_back(T&& value) { emplace_back(std::move(value)); }
    // Built in its place: a frame built aside and copied in is written in pieces and read back
    // whole, which stalls the copy until the pieces have reached the cache.
    template <class... Args>
    void emplace_back(Args&&... args) {
        if (size_ < kInline)
            new (&slot(size_)) T{std::forward<Args>(args)...};
        else
            spilled_.push_back(T{std::forward<Args>(args)...});
        ++size_;
    }
    void clear() {
        while (!empty()) pop_back();
    }
    void pop_back() {
        if (size_ > kInline)
            spilled_.pop_back();
        else
            slot(size_ - 1).~T();
        --size_;
    }

private:
    T& slot(std::size_t i) { return *std::launder(reinterpret_cast<T*>(storage_ + i * sizeof(T))); }

    alignas(T) unsigned char storage_[kInline * sizeof(T)];  // raw: set up only when used
    std::vector<T> spilled_;
    std::size_t size_ = 0;
};

}  // namespace dral_core
