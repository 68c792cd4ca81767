// What the streaming readers (the binary decoder, the text parser) hand values to: a sink builds
// whatever it builds (Value trees, the binding's Python objects) while the input decides every
// result and every error. One protocol for both readers, so each target has one sink.
//
// The readers differ in one thing: the binary decoder knows a container's count at its start, the
// text parser only at its closing bracket. The reader says which by the tag it opens containers
// with, so the sink picks its way of building at compile time, for nothing on either hot path:
// with a known count it may allocate up front and fill in place, without one it gathers the
// elements and builds at the close.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

namespace dral_core {

// The container's element count is read before its elements. `capacity` is how many the sink
// may allocate up front: the reader bounds it by what the input can hold, so all capacities
// together never exceed it and declared counts never drive allocation.
struct KnownCount {
    std::size_t capacity;
};
// The count is known only when the container closes.
struct UnknownCount {};

// What a sink's begin_array/begin_object return under each tag: a sink may keep open containers
// in different ways for the two.
template <class S, class Count>
using FrameOf = decltype(std::declval<S&>().begin_array(std::declval<Count>()));

// What every sink provides, whichever way its readers count.
template <class S>
concept BasicSink = std::movable<typename S::Node> &&
    std::default_initializable<typename S::Node> && std::movable<typename S::Key> &&
    requires(S& sink, const typename S::Node& node, const typename S::Key& key,
             std::string_view text, std::span<const std::uint8_t> data) {
    // A sink may fail to build (its own failure, such as running out of memory); the reader
    // then stops and returns a failed node, and a default-constructed Node must be one: the
    // reader returns that when an add_* refused.
    { S::failed(node) } -> std::same_as<bool>;
    { S::failed(key) } -> std::same_as<bool>;
    // Whether str() checks UTF-8 itself. A reader whose text is not known to be valid gives such
    // a sink the text unchecked, since building a string can check it in the same pass: on
    // invalid text the node fails and take_utf8_rejection() answers true once, and the reader
    // reports the error it owns. Other sinks get valid text only.
    { S::kValidatesUtf8 } -> std::convertible_to<bool>;
    { sink.null() } -> std::same_as<typename S::Node>;
    { sink.boolean(true) } -> std::same_as<typename S::Node>;
    { sink.uint(std::uint64_t{}) } -> std::same_as<typename S::Node>;
    { sink.integer(std::int64_t{}) } -> std::same_as<typename S::Node>;
    { sink.floating(0.0) } -> std::same_as<typename S::Node>;
    // `ascii`: the text is known to be all ASCII, which spares the sink a scan. False says
    // nothing (a dictionary string's class is not kept).
    { sink.str(text, true) } -> std::same_as<typename S::Node>;
    // Borrowed: the binary reader's bytes point into its block, so a sink copies them once.
    { sink.bytes(data) } -> std::same_as<typename S::Node>;
    // An object key: its own type, so that a sink may intern keys apart from string values. The
    // text reader makes it as it is read, the binary reader once its value stands.
    { sink.key(text, true) } -> std::same_as<typename S::Key>;
};

// A sink for a reader that opens containers with `Count`. A frame is an open container; frames
// open and close in nesting order, each element goes to the innermost open one, and end_* hands
// over the finished container. A frame the sink failed to begin is reported by failed(frame).
// Entries come in reading order, a repeated key included: the sink decides what it keeps (a
// Python dict keeps the key's first place and last value, a Value object every entry).
template <class S, class Count>
concept SinkFor = BasicSink<S> && requires(S& sink, Count count, FrameOf<S, Count>& frame,
                                           typename S::Node node, typename S::Key key) {
    { sink.begin_array(count) } -> std::same_as<FrameOf<S, Count>>;
    { sink.begin_object(count) } -> std::same_as<FrameOf<S, Count>>;
    { S::failed(std::as_const(frame)) } -> std::same_as<bool>;
    { sink.add_entry(frame, std::move(key), std::move(node)) } -> std::same_as<bool>;
    { sink.end_array(frame) } -> std::same_as<typename S::Node>;
    { sink.end_object(frame) } -> std::same_as<typename S::Node>;
};

// A sink that checks UTF-8 itself tells the reader when invalid text was its reason to fail.
template <class S>
concept ReportsUtf8Rejection = !S::kValidatesUtf8 || requires(S & sink) {
    { sink.take_utf8_rejection() } -> std::same_as<bool>;
};

// With a known count, items come with their index, 0, 1, 2..., so that a sink filling a
// presized container needs no counter of its own; an index at or past the capacity is appended.
template <class S>
concept KnownCountSink = SinkFor<S, KnownCount> && ReportsUtf8Rejection<S> &&
    requires(S& sink, FrameOf<S, KnownCount>& frame, typename S::Node node, std::size_t index) {
    { sink.add_item(frame, index, std::move(node)) } -> std::same_as<bool>;
};

// Without one, items come in order and the sink counts them if it needs to.
template <class S>
concept UnknownCountSink = SinkFor<S, UnknownCount> &&
    requires(S& sink, FrameOf<S, UnknownCount>& frame, typename S::Node node) {
    { sink.add_item(frame, std::move(node)) } -> std::same_as<bool>;
};

}  // namespace dral_core
