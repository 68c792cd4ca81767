// The strs of two or four bytes a character in a text written one byte a character: each stands
// apart, at its place, until the text is joined at the width the widest of them needs. So the
// writer never encodes them to UTF-8, and the text is never decoded again. A long text is joined
// a part at a time, while the part is still in the cache: the writer hands over what it has
// written, and goes on from an empty text.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_python/cpython/py_str.hpp"

namespace dral_python {

class WideStrs {
public:
    // `expected_chars`: about how long the whole text will be, for the first part's room.
    explicit WideStrs(std::size_t expected_chars) : expected_chars_(expected_chars) {}

    bool empty() const { return pieces_.empty() && joined_.empty(); }

    // Sets `str` (of two or four bytes a character; borrowed, and alive until joined) at `at` in
    // the text, escaped as a quoted string's body when `escaped`. False, with nothing set, for a
    // str that holds a surrogate: it has no text of its own.
    bool add(std::size_t at, PyObject* str, bool escaped);

    // Joins `text` (Latin-1 or ASCII), the part written since the last call, with the strs set
    // into it, after the parts joined before; the writer then clears it, and the strs added next
    // are at places in the new part.
    void join_part(std::string_view text);

    // The final str: the parts joined and `text`, the last part, with the strs set into it;
    // `latin1` tells whether the parts hold a character past ASCII. nullptr with MemoryError set.
    PyObject* join(std::string_view text, bool latin1);

    // The characters joined so far.
    std::size_t joined_chars() const { return joined_.size() / joined_unit(); }

private:
    struct Piece {
        std::size_t at;
        PyObject* str;
        bool escaped;  // and has characters to escape
    };

    template <class Out>
    void fill(Out* out, std::string_view text) const;
    // Bytes a character in joined_.
    std::size_t joined_unit() const { return &joined_.storage() == &kUcs4StrStorage ? 4 : 2; }
    template <class Out>
    void join_part_as(std::string_view text);
    // Moves the parts joined so far to a str of four bytes a character.
    void widen_joined();

    std::vector<Piece> pieces_;
    std::size_t added_ = 0;         // characters the pieces add to the text, escapes included
    std::uint32_t bits_ = 0;        // every bit set in any of their characters, joined or not
    dral_core::ByteBuffer joined_;  // on kUcs2StrStorage or kUcs4StrStorage, once a part is in
    std::size_t expected_chars_;
};

// Whether the str `str` of two or four bytes a character may stand as a bare key.
bool is_bare_wide_key(PyObject* str);

}  // namespace dral_python
