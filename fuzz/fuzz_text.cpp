// The text notation: any text is read, valid UTF-8 also by the reader that trusts its encoding,
// and both must agree. What reads must read back the same after printing it.
#include <cstdint>
#include <string>
#include <string_view>

#include "dral_core/encoding/utf8.hpp"
#include "dral_core/text/text.hpp"
#include "support/check.hpp"
#include "support/dral_equal.hpp"

namespace {

using namespace dral_core;

std::string describe(const Result<Value>& result) {
    return result ? debug_string(*result) : result.error().message();
}

bool same_result(const Result<Value>& a, const Result<Value>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return a.error().message() == b.error().message();
    return dral_fuzz::same_value(*a, *b, dral_fuzz::Equality::Exact);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Result<Value> value = parse(text);
    if (is_valid_utf8(data, size)) {
        const Result<Value> trusted = parse_valid(text, is_ascii(data, size));
        FUZZ_CHECK(same_result(value, trusted), "both readers agree",
                   describe(value) + "\nagainst\n" + describe(trusted));
    }
    // An empty byte string prints as b64#, which the reader refuses by design.
    if (!value || dral_fuzz::holds_empty_bytes(*value)) return 0;
    for (std::size_t indent : {2, 0}) {
        const std::string printed = pretty_print(*value, indent);
        const Result<Value> reread = parse(printed);
        FUZZ_CHECK(reread, "printed text reads back", reread.error().message() + "\n" + printed);
        FUZZ_CHECK(dral_fuzz::same_value(*value, *reread, dral_fuzz::Equality::TextNotation),
                   "printed text reads back as the same value",
                   debug_string(*value) + "\nread back as\n" + debug_string(*reread));
    }
    return 0;
}
