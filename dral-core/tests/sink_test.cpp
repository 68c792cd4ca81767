// The sink protocol as both readers drive it: the text parser (counts unknown) and the binary
// decoder (counts known) hand one document to a sink as the same events, give each item its
// index and bound every capacity by the count, and stop at the first element a sink refuses.
#include "dral_core/value/sink.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "dral_core/binary/decoder.hpp"
#include "dral_core/binary/encoder.hpp"
#include "dral_core/text/text.hpp"
#include "dral_core/text/text_parser_tree.hpp"

namespace dral_core {
namespace {

struct Events {
    std::string text;
    bool ok = false;  // a default Node is a failed one
};

// Writes what a reader hands it as one line of events, whichever way the reader counts, and
// notes every break of the protocol in `faults`.
class RecordingSink {
public:
    using Node = Events;
    using Key = Events;
    struct Frame {
        std::string text;
        std::size_t items = 0;
        std::size_t capacity = 0;
    };
    static constexpr bool kValidatesUtf8 = false;

    std::size_t refuse_at = std::numeric_limits<std::size_t>::max();  // the add that refuses
    std::size_t adds = 0;
    std::string faults;

    static bool failed(const Events& events) { return !events.ok; }
    static bool failed(const Frame&) { return false; }
    Events null() { return {"null", true}; }
    Events boolean(bool b) { return {b ? "true" : "false", true}; }
    Events uint(std::uint64_t u) { return {"u" + std::to_string(u), true}; }
    Events integer(std::int64_t i) { return {"i" + std::to_string(i), true}; }
    Events floating(double d) { return {"f" + std::to_string(d), true}; }
    Events str(std::string_view text, bool) { return {"'" + std::string(text) + "'", true}; }
    Events bytes(std::span<const std::uint8_t> data) {
        return {"b" + std::to_string(data.size()), true};
    }
    Events key(std::string_view text, bool) { return {std::string(text) + ":", true}; }

    Frame begin_array(KnownCount count) { return {"[", 0, count.capacity}; }
    Frame begin_object(KnownCount count) { return {"{", 0, count.capacity}; }
    Frame begin_array(UnknownCount) { return {"["}; }
    Frame begin_object(UnknownCount) { return {"{"}; }
    bool add_item(Frame& frame, std::size_t index, Events item) {
        if (index != frame.items) faults += "index " + std::to_string(index) + "; ";
        return add_item(frame, std::move(item));
    }
    bool add_item(Frame& frame, Events item) { return add(frame, item.text); }
    bool add_entry(Frame& frame, Events key, Events value) {
        return add(frame, key.text + " " + value.text);
    }
    Events end_array(Frame& frame) { return end(frame, "]"); }
    Events end_object(Frame& frame) { return end(frame, "}"); }

private:
    bool add(Frame& frame, const std::string& element) {
        if (adds++ == refuse_at) return false;
        frame.text += (frame.items++ == 0 ? "" : " ") + element;
        return true;
    }
    Events end(Frame& frame, const char* close) {
        if (frame.capacity > frame.items) faults += "capacity past the count; ";
        return {frame.text + close, true};
    }
};
static_assert(KnownCountSink<RecordingSink> && UnknownCountSink<RecordingSink>);

struct Read {
    Result<Events> text;
    Result<std::optional<Events>> binary;
};

Read read_both(std::string_view document, RecordingSink& text_sink, RecordingSink& binary_sink) {
    Read read{parse_document(document, text_sink), std::nullopt};
    const Result<Value> value = parse(document);
    EXPECT_TRUE(value) << document;
    if (!value) return read;
    Encoder encoder;
    EXPECT_TRUE(encoder.encode_value(*value));
    const ByteBuffer stream = encoder.finish();
    Decoder decoder(stream.span(), DecodeLimits{});
    read.binary = decoder.decode_next(binary_sink);
    return read;
}

struct Case {
    const char* document;
    const char* events;
};

constexpr Case kCases[] = {
    {"null", "null"},
    {"[]", "[]"},
    {"{}", "{}"},
    {"[1, -2, 1.5, \"x\", b64#AQI=, true]", "[u1 i-2 f1.500000 'x' b2 true]"},
    // A repeated key reaches the sink twice, in reading order.
    {"{a: 1; b: [[], {}]; a: 2;}", "{a: u1 b: [[] {}] a: u2}"},
    {"[[[1]], [2, 3], {k: {};}]", "[[[u1]] [u2 u3] {k: {}}]"},
};

TEST(SinkProtocol, BothReadersHandTheSameEventsInOrderWithItsIndexAndCapacity) {
    for (const Case& c : kCases) {
        RecordingSink text_sink, binary_sink;
        const Read read = read_both(c.document, text_sink, binary_sink);
        ASSERT_TRUE(read.text && read.binary && *read.binary) << c.document;
        EXPECT_EQ(read.text->text, c.events) << c.document;
        EXPECT_EQ((*read.binary)->text, c.events) << c.document;
        EXPECT_EQ(text_sink.faults + binary_sink.faults, "") << c.document;
    }
}

TEST(SinkProtocol, BothReadersStopAtTheElementASinkRefusesWithAFailedNode) {
    const std::string_view document = "{a: [1, 2]; b: {c: 3;}; d: [];}";
    constexpr std::size_t kAdds = 6;  // 1, 2, a, c, b, d
    for (std::size_t refuse_at = 0; refuse_at < kAdds; ++refuse_at) {
        RecordingSink text_sink, binary_sink;
        text_sink.refuse_at = binary_sink.refuse_at = refuse_at;
        const Read read = read_both(document, text_sink, binary_sink);
        ASSERT_TRUE(read.text && read.binary && *read.binary) << refuse_at;
        EXPECT_TRUE(RecordingSink::failed(*read.text)) << refuse_at;
        EXPECT_TRUE(RecordingSink::failed(**read.binary)) << refuse_at;
        EXPECT_EQ(text_sink.adds, refuse_at + 1);
        EXPECT_EQ(binary_sink.adds, refuse_at + 1);
    }
}

}  // namespace
}  // namespace dral_core
