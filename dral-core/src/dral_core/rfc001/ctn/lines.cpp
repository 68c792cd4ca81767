#include "dral_core/rfc001/ctn/lines.hpp"

#include <cstring>

#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/text_scan.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::ctn {
namespace {

constexpr std::string_view kOpener = "--[[";
constexpr std::string_view kCloser = "]]";

// Position of the first `needle` in `text` that starts outside a double-quoted string, or npos.
// Inside a string a backslash makes the next character literal.
std::size_t find_outside_strings(std::string_view text, std::string_view needle) {
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == needle[0] && text.substr(i).starts_with(needle)) {
            return i;
        }
    }
    return std::string_view::npos;
}

// Removes the block comments of a line that has an opener at `opener` into `out`. Each removal
// joins the text before the opener to the text after the closer, and the joined line is scanned
// again from its start; since the text before the opener held no opener outside a string, only
// an opener that straddles the join or lies in the text after it can come next, and scanning the
// join alone keeps the pass linear. Sets `in_block` when a comment stays open.
void splice_block_comments(std::string_view line, std::size_t opener, std::string& out,
                           bool& in_block) {
    out.assign(line.substr(0, opener));
    std::string_view after = line.substr(opener + kOpener.size());
    while (true) {
        const std::size_t close = find_outside_strings(after, kCloser);
        if (close == std::string_view::npos) {
            in_block = true;
            return;
        }
        const std::string_view rest = after.substr(close + kCloser.size());
        // The joined text is outside a string where the opener was, and the characters of an
        // opener's start do not change that, so an opener straddling the join counts.
        bool straddles = false;
        for (std::size_t k = kOpener.size() - 1; k >= 1 && !straddles; --k) {
            if (out.ends_with(kOpener.substr(0, k)) && rest.starts_with(kOpener.substr(k))) {
                out.erase(out.size() - k);
                after = rest.substr(kOpener.size() - k);
                straddles = true;
            }
        }
        if (straddles) continue;
        const std::size_t next = find_outside_strings(rest, kOpener);
        if (next == std::string_view::npos) {
            out.append(rest);
            return;
        }
        out.append(rest.substr(0, next));
        after = rest.substr(next + kOpener.size());
    }
}

// The line without its comments; empty when the whole line is a comment. A line that loses a
// block comment is built in `scratch`, and `in_scratch` is set.
std::string_view strip_comments(std::string_view line, bool& in_block, std::string& scratch,
                                bool& in_scratch) {
    if (const std::size_t opener = find_outside_strings(line, kOpener);
        opener != std::string_view::npos) {
        splice_block_comments(line, opener, scratch, in_block);
        line = scratch;
        in_scratch = true;
    }
    if (trim_start(line).starts_with("--!")) return {};
    return line.substr(0, find_outside_strings(line, "--"));
}

}  // namespace

Status read_logical_lines(std::string_view text, std::vector<LogicalLine>& lines,
                          std::deque<std::string>& spliced, MemoryMeter& meter) {
    lines.reserve(text.size() / 32 + 1);
    bool in_block = false;
    std::string scratch;
    std::uint64_t number = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const void* found = std::memchr(text.data() + pos, '\n', text.size() - pos);
        const std::size_t end =
            found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                  : text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (found && line.ends_with('\r')) line.remove_suffix(1);
        pos = end + 1;
        ++number;

        if (in_block) {
            const std::size_t close = line.find(kCloser);
            if (close == std::string_view::npos) continue;
            line.remove_prefix(close + kCloser.size());
            in_block = false;
        }
        if (line.find("--") != std::string_view::npos) {
            bool in_scratch = false;
            line = strip_comments(line, in_block, scratch, in_scratch);
            if (in_scratch && !line.empty()) {
                DRAL_TRY(meter.charge(line.size()));
                line = spliced.emplace_back(line);
            }
        }

        std::size_t indent = 0;
        while (indent < line.size() && line[indent] == ' ') ++indent;
        const std::string_view content = trim_end(line.substr(indent));
        if (content.empty()) continue;
        if (line[0] == '\t')
            return fail(line_error("tabs are not allowed for indentation in CTN", number));
        DRAL_TRY(meter.charge(kLineCost));
        lines.push_back(LogicalLine{content, number, indent});
    }
    return {};
}

}  // namespace dral_core::rfc001::ctn
