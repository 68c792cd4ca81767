#include "dral_core/text/escaped_text.hpp"

#include <bit>
#include <cstring>

#include "dral_core/text/escaped_text_avx2.hpp"
#include "dral_core/text/text_loops.hpp"

namespace dral_core {
namespace {

// The vector loops take texts from this length on. Shorter ones are as fast in the SSE2 loops
// (measured on URLs and names of 33 to 127 bytes), and the vector loops hand their last bytes,
// fewer than 64, back to write_escaped_at, which so never comes back to them.
constexpr std::size_t kAvx2From = 128;
static_assert(kAvx2From >= 64);

[[maybe_unused]] bool runs_avx2_for(std::size_t n) {
    return n >= kAvx2From && text_loops_run_avx2();
}

}  // namespace

#if defined(__SSE2__)
namespace text_scan {

bool copy_finding_escapes_long(char* out, const char* in, std::size_t n) {
#ifdef DRAL_TEXT_AVX2
    if (runs_avx2_for(n)) return avx2::copy_finding_escapes(out, in, n);
#endif
    return copy_finding_escapes_in_blocks(out, in, n);
}

}  // namespace text_scan
#endif

char* escape_rest(char* out, std::string_view text) {
#ifdef DRAL_TEXT_AVX2
    if (runs_avx2_for(text.size())) return avx2::escape_rest(out, text);
#endif
    const std::size_t plain = text_scan::first_escape_within(text.data(), text.size());
    out += plain;
    const char* in = text.data() + plain;
    const char* const end = text.data() + text.size();
    // From the first escape on, 16 bytes a step, a block's escapes written from the bits of its
    // mask: the next block's address never waits on them, and an escape costs little more than
    // the misprediction of the test that finds it. A block's copies read at most 16 bytes past
    // it, so these steps stop 32 bytes before the end.
    while (end - in >= 32) {
        unsigned mask = text_scan::escapes_in_16(in);
        std::memcpy(out, in, 16);
        if (mask == 0) {
            in += 16;
            out += 16;
            continue;
        }
        unsigned from = 0;
        do {
            const auto at = static_cast<unsigned>(std::countr_zero(mask));
            std::memcpy(out, in + from, 16);
            out = text_scan::put_escaped(out + (at - from), static_cast<unsigned char>(in[at]));
            from = at + 1;
            mask &= mask - 1;
        } while (mask != 0);
        std::memcpy(out, in + from, 16);
        out += 16 - from;
        in += 16;
    }
    while (end - in >= 16) {
        std::memcpy(out, in, 16);
        const unsigned mask = text_scan::escapes_in_16(in);
        if (mask == 0) {
            in += 16;
            out += 16;
            continue;
        }
        const int run = std::countr_zero(mask);
        in += run;
        out = text_scan::put_escaped(out + run, static_cast<unsigned char>(*in++));
    }
    while (in != end) out = text_scan::put_escaped(out, static_cast<unsigned char>(*in++));
    return out;
}

}  // namespace dral_core
