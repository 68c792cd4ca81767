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
    // The top is kept at hand: loops that read it at every step would work out its place anew.
    T& back() { return *top_; }
    void push_back(T&& value) { emplace_back(std::move(value)); }
    // Built in its place: a frame built aside and copied in is written in pieces and read back
    // whole, which stalls the copy until the pieces have reached the cache.
    template <class... Args>
    void emplace_back(Args&&... args) {
        if (size_ < kInline) {
            top_ = new (&slot(size_)) T{std::forward<Args>(args)...};
        } else {
            spilled_.push_back(T{std::forward<Args>(args)...});
            top_ = &spilled_.back();
        }
        ++size_;
    }
    void clear() {
        while (!empty()) pop_back();
    }
    void pop_back() {
        if (size_ > kInline)
            spilled_.pop_back();
        else
            top_->~T();
        --size_;
        if (size_ > kInline)
            top_ = &spilled_.back();
        else if (size_ > 0)
            top_ = &slot(size_ - 1);
    }

private:
    T& slot(std::size_t i) { return *std::launder(reinterpret_cast<T*>(storage_ + i * sizeof(T))); }

    alignas(T) unsigned char storage_[kInline * sizeof(T)];  // raw: set up only when used
    std::vector<T> spilled_;
    T* top_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace dral_core
