#include "dral_core/text/escaped_text.hpp"

#include <bit>
#include <cstring>

namespace dral_core {

char* escape_rest(char* out, std::string_view text) {
    const std::size_t plain = text_scan::first_escape_within(text.data(), text.size());
    out += plain;
    const char* in = text.data() + plain;
    const char* const end = text.data() + text.size();
    // From the first escape on, runs free of escapes are copied 16 bytes at a time.
    while (in != end) {
        if (end - in >= 16) {
            std::memcpy(out, in, 16);
            const unsigned mask = text_scan::escapes_in_16(in);
            const int run = mask == 0 ? 16 : std::countr_zero(mask);
            in += run;
            out += run;
            if (run == 16) continue;
        }
        const char c = *in++;
        if (const char escape = text_scan::escape_of(static_cast<unsigned char>(c)); escape != 0) {
            *out++ = '\\';
            *out++ = escape;
        } else {
            *out++ = c;
        }
    }
    return out;
}

}  // namespace dral_core
