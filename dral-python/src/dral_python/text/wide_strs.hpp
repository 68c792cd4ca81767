// The strs of two or four bytes a character in a text written one byte a character: each stands
// apart, at its place, until the final str is made at the width the widest of them needs. So the
// writer never encodes them to UTF-8, and the text is never decoded again.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace dral_python {

class WideStrs {
public:
    bool empty() const { return pieces_.empty(); }

    // Sets `str` (of two or four bytes a character; borrowed, and alive until join) at `at` in
    // the text, escaped as a quoted string's body when `escaped`. False, with nothing set, for a
    // str that holds a surrogate: it has no text of its own.
    bool add(std::size_t at, PyObject* str, bool escaped);

    // The final str: `text`, Latin-1 (ASCII unless `latin1`), with the strs set into it; nullptr
    // with MemoryError set.
    PyObject* join(std::string_view text, bool latin1) const;

private:
    struct Piece {
        std::size_t at;
        PyObject* str;
        bool escaped;  // and has characters to escape
    };

    template <class Out>
    void fill(Out* out, std::string_view text) const;

    std::vector<Piece> pieces_;
    std::size_t added_ = 0;   // characters the pieces add to the text, escapes included
    std::uint32_t bits_ = 0;  // every bit set in any of their characters
};

// Whether the str `str` of two or four bytes a character may stand as a bare key.
bool is_bare_wide_key(PyObject* str);

}  // namespace dral_python
