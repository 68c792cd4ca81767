// Queries over compiled files read only what they select, yet answer as decoding the whole file
// and then querying the root does. The input is a compiled file; the queries are a fixed set and
// paths along the decoded root. Where the file decodes, every query gives the values or the
// error of the decoded query; `.` reads everything and fails exactly as the decode does; and a
// query that fails names a file that does not decode.
#include <cctype>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_core/rfc001/cbf/query.hpp"
#include "dral_core/rfc001/cql/cql.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "support/check.hpp"
#include "support/mutators.hpp"
#include "support/rfc_equal.hpp"

namespace {

using namespace dral_core;
using namespace dral_core::rfc001;

constexpr std::string_view kFixed[] = {
    ".",       "..",   ".[]", ".[0]", ".[-1]", ".[1]",      ".[][]",    ".[].a",
    ".a",      ".a.b", ".x",  ".[]x", "['x]",  ".['x]",     ".[\"a\"]", ".[0][0][0]",
    ".[][][]", "x",    ".a[", ".[x]", ".[-9]", ".[2].a[1]",
};

bool is_member_name(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// The step that selects a field or key `name`, when one can be written.
void add_name_step(std::string_view name, std::vector<std::string>& out) {
    if (is_member_name(name))
        out.push_back("." + std::string(name));
    else if (name.find('"') == std::string_view::npos && name.find('\\') == std::string_view::npos)
        out.push_back("[\"" + std::string(name) + "\"]");
}

// Paths from `value` of at most `levels` steps, each step selecting something.
void paths(const Value& value, const std::string& prefix, int levels,
           std::vector<std::string>& out) {
    constexpr std::size_t kMaxPaths = 48;
    if (out.size() >= kMaxPaths) return;
    out.push_back(prefix.empty() ? "." : "." + prefix);
    if (levels == 0) return;
    const Value& v = value.resolved();
    std::vector<std::pair<std::string, const Value*>> steps;
    auto fields = [&](const std::vector<Field>& list) {
        for (const Field& f : list) {
            std::vector<std::string> step;
            add_name_step(f.name, step);
            if (!step.empty()) steps.emplace_back(step[0], &f.value);
        }
    };
    switch (v.kind()) {
        case ValueKind::Product:
            fields(v.product().fields);
            break;
        case ValueKind::Sum:
            fields(v.sum().payload.fields);
            break;
        case ValueKind::Sequence: {
            const auto& items = v.sequence().items;
            for (std::size_t i = 0; i < items.size() && i < 2; ++i)
                steps.emplace_back("[" + std::to_string(i) + "]", &items[i]);
            if (!items.empty()) steps.emplace_back("[-1]", &items.back());
            if (!items.empty()) steps.emplace_back("[]", &items.front());
            break;
        }
        case ValueKind::Association:
            for (const auto& [key, item] : v.association().pairs) {
                if (key.is_scalar() && key.scalar().is_text()) {
                    std::vector<std::string> step;
                    add_name_step(key.scalar().text(), step);
                    if (!step.empty()) steps.emplace_back(step[0], &item);
                }
                if (steps.size() >= 3) break;
            }
            if (!v.association().pairs.empty())
                steps.emplace_back("[]", &v.association().pairs.front().second);
            break;
        default:
            break;
    }
    for (const auto& [step, child] : steps) paths(*child, prefix + step, levels - 1, out);
}

// A value's CTN text for a report, or why it has none.
std::string shown(const Value& value) {
    Result<std::string> text = ctn::format_value(value);
    return text ? *text : "(not formatted: " + text.error().message() + ")";
}

std::string describe(const Result<std::vector<Value>>& result) {
    if (!result) return "error: " + result.error().message();
    std::string text = std::to_string(result->size()) + " values";
    for (const Value& value : *result) text += "\n" + shown(value);
    return text;
}

void check_against_decoded(std::span<const std::uint8_t> file, const Value& root,
                           std::string_view query) {
    const Result<std::vector<const Value*>> expected = cql::query(root, query);
    const Result<std::vector<Value>> direct = cbf::query_document(file, query);
    const std::string detail = std::string(query) + "\ngot " + describe(direct);
    if (!expected) {
        FUZZ_CHECK(!direct && direct.error().message() == expected.error().message(),
                   "a query that does not parse fails as over the decoded root",
                   detail + "\nexpected " + expected.error().message());
        return;
    }
    FUZZ_CHECK(direct && direct->size() == expected->size(),
               "a query over a file that decodes selects what it selects in the decoded root",
               detail + "\nexpected " + std::to_string(expected->size()) + " values");
    for (std::size_t i = 0; i < direct->size(); ++i)
        FUZZ_CHECK(
            dral_fuzz::same_value((*direct)[i], *(*expected)[i], dral_fuzz::RfcEquality::Exact),
            "a query's values are those of the decoded root",
            detail + "\nexpected\n" + shown(*(*expected)[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const Result<cbf::DecodedDocument> decoded = cbf::decode_document(file);
    if (!decoded) {
        const Result<std::vector<Value>> whole = cbf::query_document(file, ".");
        FUZZ_CHECK(!whole && whole.error().message() == decoded.error().message(),
                   "'.' fails as the decode does",
                   describe(whole) + "\nexpected " + decoded.error().message());
        // The others read what they select of a faulty file; they may answer.
        for (std::string_view query : kFixed) (void)cbf::query_document(file, query);
        return 0;
    }
    const Value& root = *decoded->document.root;
    std::vector<std::string> queries(std::begin(kFixed), std::end(kFixed));
    paths(root, "", 4, queries);
    for (const std::string& query : queries) check_against_decoded(file, root, query);
    return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned seed) {
    return dral_fuzz::mutate_file(data, size, max_size, seed);
}
