// An owning pointer with value semantics: copying a Box copies what it holds. Lets a tree keep its
// large or recursive node kinds out of line while every node stays a plain value.
#pragma once

#include <memory>
#include <utility>

namespace dral_core {

template <class T>
class Box {
public:
    explicit Box(T&& value) : held_(std::make_unique<T>(std::move(value))) {}
    Box(const Box& other) : held_(std::make_unique<T>(*other.held_)) {}
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& other) {
        if (this != &other) held_ = std::make_unique<T>(*other.held_);
        return *this;
    }
    Box& operator=(Box&&) noexcept;
    ~Box();

    // A moved-from Box holds nothing; only assignment or destruction may follow.
    const T& operator*() const { return *held_; }
    T& operator*() { return *held_; }
    const T* operator->() const { return held_.get(); }
    T* operator->() { return held_.get(); }

private:
    std::unique_ptr<T> held_;
};

// Defaulted apart from their declarations, so not implicitly constexpr: a constexpr function is
// instantiated where it is first named, and these need T complete, which a recursive tree's node
// kinds are not yet where the tree's own inline members name them.
template <class T>
Box<T>& Box<T>::operator=(Box&&) noexcept = default;
template <class T>
Box<T>::~Box() = default;

}  // namespace dral_core
