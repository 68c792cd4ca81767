#include "dral_core/rfc001/cql/steps.hpp"

#include <cstddef>
#include <optional>
#include <utility>

#include "dral_core/rfc001/ctn/text_scan.hpp"

namespace dral_core::rfc001::cql {
namespace {

// The same white space and name characters as CTN.
using ctn::is_identifier_char;
using ctn::trim;

constexpr std::size_t kNoMatch = std::string_view::npos;

// The position of the `]` that closes the `[` at the start of `text`. Brackets inside double
// quotes do not count; a backslash there makes the next character literal. Every special
// character is ASCII, so stepping through bytes never splits one.
std::size_t matching_bracket(std::string_view text) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']' && --depth == 0) {
            return i;
        }
    }
    return kNoMatch;
}

// A decimal integer with an optional sign, in the signed 64-bit range.
std::optional<std::int64_t> parse_index(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    constexpr std::uint64_t kMax = std::uint64_t{1} << 63;  // the magnitude of the minimum
    const std::uint64_t limit = negative ? kMax : kMax - 1;
    std::uint64_t magnitude = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

Result<Step> parse_selector(std::string_view s) {
    if (s.empty()) return Wildcard{};
    if (auto index = parse_index(s)) return Index{*index};
    // A symbol-style key runs to the end: no closing apostrophe is looked for.
    if (s.front() == '\'') return Key{std::string(s.substr(1))};
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        return Key{std::string(s.substr(1, s.size() - 2))};
    return fail(
        DralError::invalid_data("unsupported CQL bracket selector [" + std::string(s) + "]"));
}

}  // namespace

Result<std::vector<Step>> parse_steps(std::string_view expression) {
    std::string_view rest = trim(expression);
    if (rest.empty()) return fail(DralError::invalid_data("empty CQL expression"));
    if (rest.front() != '.')
        return fail(DralError::invalid_data("CQL expression must start with '.'"));

    std::vector<Step> steps;
    while (!rest.empty()) {
        if (rest.front() == '[') {
            const std::size_t close = matching_bracket(rest);
            if (close == kNoMatch)
                return fail(DralError::invalid_data("unterminated bracket in CQL expression"));
            DRAL_ASSIGN_OR_RETURN(Step step, parse_selector(trim(rest.substr(1, close - 1))));
            steps.push_back(std::move(step));
            rest.remove_prefix(close + 1);
        } else if (rest.front() == '.') {
            // A dot without a name (`..`, `.[0]`, a final `.`) is consumed and selects nothing.
            rest.remove_prefix(1);
            std::size_t length = 0;
            while (length < rest.size() && is_identifier_char(rest[length])) ++length;
            if (length > 0) steps.push_back(Member{std::string(rest.substr(0, length))});
            rest.remove_prefix(length);
        } else {
            return fail(
                DralError::invalid_data("unexpected CQL token near '" + std::string(rest) + "'"));
        }
    }
    return steps;
}

}  // namespace dral_core::rfc001::cql
