#include "dral_core/text/escaped_text.hpp"

#include <bit>
#include <cstring>

namespace dral_core {

char* escape_rest(char* out, std::string_view text) {
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
