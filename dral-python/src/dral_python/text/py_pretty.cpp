#include "dral_python/text/py_pretty.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/small_stack.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/text/text.hpp"
#include "dral_core/text/text_output.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_dict.hpp"
#include "dral_python/convert/py_kind.hpp"
#include "dral_python/cpython/py_long.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/module_state.hpp"
#include "dral_python/text/wide_strs.hpp"

namespace dral_python {
namespace {

using dral_core::TextEncoding;
using dral_core::TextOutput;

// The text a wide str's writer joins at a time: small enough to be joined from the cache.
constexpr std::size_t kWidePart = std::size_t{64} << 10;
// Texts past this length are written in a str of their own.
constexpr std::size_t kLongText = dral_core::kLargestSpareText / 2;

// Writes the builtin types (subclasses included) as the writer of Value trees lays out the Value
// they convert to, and gives up on anything else, which the reference path then converts: it runs
// no Python code, so the replay sees the same data. Nesting is followed with a stack
// of its own, bounded as the conversion bounds it, so no object can exhaust the native stack.
class PyTextWriter {
public:
    // A text about as long as the last one, if that was short, is written in the buffer the last
    // call left, which has room for it: in a fresh one it would grow, each step a copy, and the
    // allocator may give back and fault in again the pages of such blocks on every call. Longer
    // texts are written in a str of their own, which becomes the result without a copy while
    // every string is ASCII or Latin-1; it starts with room for a bit more than the last text,
    // so that a text as long grows in no step, and is cut to its size at the end. After a text
    // that was wider, the buffer is taken, as the text will likely be joined in parts; if it
    // grows long with no wide str, it moves into a str then.
    explicit PyTextWriter(std::size_t indent)
        : out_(indent, first_buffer(), TextEncoding::Latin1),
          wide_(module_state().last_text_size),
          rebuffer_at_(in_str() ? SIZE_MAX : kLongText) {}
    ~PyTextWriter() {
        if (!in_str() && out_.buffer().capacity() <= dral_core::kLargestSpareText)
            module_state().spare_text = std::move(out_.buffer());
    }
    PyTextWriter(const PyTextWriter&) = delete;
    PyTextWriter& operator=(const PyTextWriter&) = delete;

    bool write(PyObject* root) {
        Flat flat = write_flat(root);
        if (flat != Flat::Block) return flat == Flat::Written;
        if (!open(root)) return false;
        while (!open_.empty()) {
            Open& top = open_.back();
            PyObject* child;
            if (top.is_dict) {
                PyObject* key;
                if (!next_item(top, key, child)) {
                    close();
                    continue;
                }
                if (!write_key(key, top.has_entry)) return false;
                top.has_entry = true;
            } else {
                if (top.position == PySequence_Fast_GET_SIZE(top.container)) {
                    close();
                    continue;
                }
                // The items after the first were padded with the end of the one before.
                if (top.position == 0) out_.pad(open_.size());
                child = PySequence_Fast_GET_ITEM(top.container, top.position++);
                // Floats and ints in a row, as in vectors, samples and indices, are written as a
                // run, which goes once through this loop; the writer makes the texts of floats
                // two at a time.
                if (Py_IS_TYPE(child, &PyFloat_Type)) {
                    write_float_run(top, child);
                    end_element(top);
                    continue;
                }
                if (Py_IS_TYPE(child, &PyLong_Type) && write_int_run(top, child)) {
                    end_element(top);
                    continue;
                }
            }
            flat = write_builtin_scalar(child);
            if (flat == Flat::Other) flat = write_flat(child);
            if (flat == Flat::Failed) return false;
            if (flat == Flat::Written)
                end_element(top);
            else if (!open(child))  // `top` is not used past this point
                return false;
        }
        return true;
    }

    // The text written, as a new str.
    PyObject* to_str() {
        ModuleState& state = module_state();
        PyObject* str =
            in_str() && wide_.empty() ? take_str(out_.buffer()) : wide_.join(out_.text(), latin1_);
        if (str == nullptr) return nullptr;
        state.last_text_size = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
        state.last_text_wide = PyUnicode_KIND(str) != PyUnicode_1BYTE_KIND;
        return str;
    }

private:
    static dral_core::ByteBuffer first_buffer() {
        ModuleState& state = module_state();
        if (state.last_text_size > kLongText && !state.last_text_wide) {
            dral_core::ByteBuffer fresh(kAsciiStrStorage);
            fresh.reserve(room_for_last_text());
            return fresh;
        }
        dral_core::ByteBuffer spare = std::move(state.spare_text);
        spare.clear();
        return spare;
    }

    static std::size_t room_for_last_text() {
        const std::size_t last = module_state().last_text_size;
        return last + last / 8;
    }

    bool in_str() { return &out_.buffer().storage() != &dral_core::kHeapStorage; }

    // Other: left to write_flat.
    enum class Flat { Written, Block, Failed, Other };

    struct Open {
        PyObject* container;  // borrowed: no Python code runs while writing
        Py_ssize_t position;  // the next item, or the next entry of a dict
        bool is_dict;
        bool reads_table;     // a dict whose entries were found in its table when it opened
        bool has_entry;       // a dict with an entry written, whose end the next key writes
        DictEntries entries;  // that table's
    };

    static bool next_item(Open& dict, PyObject*& key, PyObject*& value) {
        if (dict.reads_table) return next_entry(dict.entries, dict.position, key, value);
        return PyDict_Next(dict.container, &dict.position, &key, &value);
    }

    // The kinds a short array may hold and still be written on one line: the builtin scalars
    // but bytes. A switch, which the compiler folds into the classification's tests.
    static bool is_inline_scalar(PyKind kind) {
        switch (kind) {
            case PyKind::Str:
            case PyKind::Int:
            case PyKind::Float:
            case PyKind::Null:
            case PyKind::Bool:
                return true;
            default:
                return false;
        }
    }

    // Writes `first`, an exact float item of the open array `top`, and the exact floats that
    // follow it there, up to 32 in all; `top` is left at the item after the last.
    void write_float_run(Open& top, PyObject* first) {
        constexpr std::size_t kRun = 32;
        double run[kRun];
        run[0] = PyFloat_AS_DOUBLE(first);
        std::size_t count = 1;
        PyObject* const* items = PySequence_Fast_ITEMS(top.container);
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(top.container);
        while (count < kRun && top.position < size &&
               Py_IS_TYPE(items[top.position], &PyFloat_Type))
            run[count++] = PyFloat_AS_DOUBLE(items[top.position++]);
        out_.float_items({run, count}, open_.size());
    }

    // The same for exact ints that fit 64 bits: false, with nothing written, when `first` does
    // not, which is then written on its own.
    bool write_int_run(Open& top, PyObject* first) {
        constexpr std::size_t kRun = 32;
        std::int64_t run[kRun];
        long long value;
        if (!long_value(first, value)) return false;
        run[0] = value;
        std::size_t count = 1;
        PyObject* const* items = PySequence_Fast_ITEMS(top.container);
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(top.container);
        while (count < kRun && top.position < size &&
               Py_IS_TYPE(items[top.position], &PyLong_Type) &&
               long_value(items[top.position], value)) {
            run[count++] = value;
            ++top.position;
        }
        out_.integer_items({run, count}, open_.size());
        return true;
    }

    // Writes an object of an inline scalar kind.
    bool write_scalar(PyObject* object, PyKind kind) {
        switch (kind) {
            case PyKind::Str:
                return write_str(object);
            case PyKind::Int:
                return write_int(object);
            case PyKind::Float:
                out_.floating(PyFloat_AS_DOUBLE(object));
                return true;
            case PyKind::Null:
                out_.null();
                return true;
            case PyKind::Bool:
                out_.boolean(object == Py_True);
                return true;
            default:
                return false;
        }
    }

    // The scalars of most items and entries, when of their exact builtin types, written in the
    // writer's loop: a test each, where write_flat's call and its dispatch on the kind cost an
    // item as much again (measured: a list of None takes 36% less time so). Tests of its own, not
    // dispatch into write_scalar, whose switch does not fold away here: that made a list of strs
    // 27% slower than this.
    [[gnu::always_inline]] Flat write_builtin_scalar(PyObject* object) {
        if (Py_IS_TYPE(object, &PyUnicode_Type))
            return write_str(object) ? Flat::Written : Flat::Failed;
        if (Py_IS_TYPE(object, &PyLong_Type))
            return write_int(object) ? Flat::Written : Flat::Failed;
        if (Py_IS_TYPE(object, &PyFloat_Type)) {
            out_.floating(PyFloat_AS_DOUBLE(object));
        } else if (object == Py_None) {
            out_.null();
        } else if (Py_IS_TYPE(object, &PyBool_Type)) {
            out_.boolean(object == Py_True);
        } else {
            return Flat::Other;
        }
        return Flat::Written;
    }

    bool write_str(PyObject* str) {
        if (PyUnicode_KIND(str) != PyUnicode_1BYTE_KIND) {
            out_.str({});
            return add_wide(out_.text().size() - 1, str, true);
        }
        out_.str(one_byte_text(str));
        return true;
    }

    // A text past the length where it is looked at again: a wide one is joined in parts, a long
    // one in the buffer moves into a str.
    [[gnu::cold, gnu::noinline]] void rebuffer() {
        if (wide_.empty()) return move_to_str();
        join_wide_part();
    }

    // The text goes on in parts, which a small buffer holds. A str that held the text so far
    // gives back its room before the joined text takes its own, and itself after, so that the
    // two are never both at their full size: the allocator, finding more free at the top of its
    // heap than it likes to keep, would give those pages back, and the next text would fault
    // them in again.
    void join_wide_part() {
        if (!in_str()) {
            wide_.join_part(out_.text());
            return out_.buffer().clear();
        }
        out_.buffer().shrink_to_fit();
        wide_.join_part(out_.text());
        dral_core::ByteBuffer part = std::move(module_state().spare_text);
        part.clear();
        out_.continue_in(std::move(part), TextEncoding::Latin1);
    }

    // From the first wide str on, the text is joined a part at a time.
    bool add_wide(std::size_t at, PyObject* str, bool escaped) {
        rebuffer_at_ = kWidePart;
        return wide_.add(at, str, escaped);
    }

    // The characters of a str of one byte per character (ASCII or Latin-1), as they are stored.
    std::string_view one_byte_text(PyObject* str) {
        std::string_view text{static_cast<const char*>(PyUnicode_DATA(str)),
                              static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
        if (!PyUnicode_IS_ASCII(str) && !latin1_ && !is_ascii(text)) move_to_latin1();
        return text;
    }

    // A str written in place must be made anew for its first character past ASCII; it gives its
    // room back first, as in join_wide_part.
    [[gnu::cold]] void move_to_latin1() {
        latin1_ = true;
        if (!in_str()) return;
        const std::size_t room = out_.buffer().capacity();
        out_.buffer().shrink_to_fit();
        continue_in_str(room, out_.buffer().span());
    }

    // A long text written in the buffer, with no wide str so far, goes on in a str as long texts
    // start in: growing the buffer to its length would copy more, and it would be copied again
    // into the result. The buffer is kept for the next text, or the parts of this one.
    void move_to_str() {
        rebuffer_at_ = SIZE_MAX;
        dral_core::ByteBuffer& spare = module_state().spare_text;
        spare = std::move(out_.buffer());
        continue_in_str(std::max(room_for_last_text(), spare.size() * 2), spare.span());
        spare.clear();
    }

    // Goes on in a new str with room for `room` bytes, which starts with `text`.
    void continue_in_str(std::size_t room, std::span<const std::uint8_t> text) {
        dral_core::ByteBuffer str(latin1_ ? kLatin1StrStorage : kAsciiStrStorage);
        str.reserve(std::max(room, text.size()));
        str.append(text);
        out_.continue_in(std::move(str), TextEncoding::Latin1);
    }

    static bool is_ascii(std::string_view text) {
        return dral_core::is_ascii(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    // Inline: an int costs little more than the call would (measured: a list of ints 11% faster).
    [[gnu::always_inline]] bool write_int(PyObject* object) {
        long long n;
        if (long_value(object, n)) {
            n < 0 ? out_.integer(n) : out_.uint(static_cast<std::uint64_t>(n));
            return true;
        }
        // From 2**63 to 2**64 - 1: unsigned, as Values hold them.
        unsigned long long u = PyLong_AsUnsignedLongLong(object);
        if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        out_.uint(u);
        return true;
    }

    // Writes `object` if it needs no lines of its own; Block for a container that does.
    Flat write_flat(PyObject* object) {
        PyKind kind = classify(object);
        if (is_inline_scalar(kind))
            return write_scalar(object, kind) ? Flat::Written : Flat::Failed;
        if (kind == PyKind::Bytes) {
            out_.bytes({reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                        static_cast<std::size_t>(PyBytes_GET_SIZE(object))});
            return Flat::Written;
        }
        // Each container one level deeper than the containers open now.
        if (!is_container(kind) || open_.size() >= dral_core::kMaxNestingDepth) return Flat::Failed;
        if (kind == PyKind::Dict) {
            if (PyDict_GET_SIZE(object) != 0) return Flat::Block;
            out_.empty_object();
            return Flat::Written;
        }
        Py_ssize_t size = PySequence_Fast_GET_SIZE(object);
        if (size == 0) {
            out_.empty_array();
            return Flat::Written;
        }
        if (static_cast<std::size_t>(size) > dral_core::kMaxInlineItems) return Flat::Block;
        PyObject** items = PySequence_Fast_ITEMS(object);
        PyKind kinds[dral_core::kMaxInlineItems];
        for (Py_ssize_t i = 0; i < size; ++i) {
            kinds[i] = classify(items[i]);
            if (!is_inline_scalar(kinds[i])) return Flat::Block;
        }
        out_.inline_open();
        for (Py_ssize_t i = 0; i < size; ++i) {
            if (i > 0) out_.inline_separator();
            // Coordinates and vectors: floats inline, without the call write_scalar takes.
            if (kinds[i] == PyKind::Float) {
                if (i + 1 < size && kinds[i + 1] == PyKind::Float) {
                    out_.inline_float_pair(PyFloat_AS_DOUBLE(items[i]),
                                           PyFloat_AS_DOUBLE(items[i + 1]));
                    ++i;
                } else {
                    out_.floating(PyFloat_AS_DOUBLE(items[i]));
                }
                continue;
            }
            if (!write_scalar(items[i], kinds[i])) return Flat::Failed;
        }
        out_.inline_close();
        return Flat::Written;
    }

    // An entry's start: the end of the entry before, if any, its line's padding and its key.
    bool write_key(PyObject* key, bool after_entry) {
        if (!is_str_key(key)) return false;
        if (PyUnicode_KIND(key) != PyUnicode_1BYTE_KIND) [[unlikely]]
            return write_wide_key(key, after_entry);
        out_.key(open_.size(), one_byte_text(key), PyUnicode_IS_ASCII(key), after_entry);
        return true;
    }

    bool write_wide_key(PyObject* key, bool after_entry) {
        if (after_entry) out_.end_entry();
        out_.pad(open_.size());
        const bool bare = is_bare_wide_key(key);
        if (!bare) out_.str({});
        if (!add_wide(out_.text().size() - (bare ? 0 : 1), key, !bare)) return false;
        out_.key_separator();
        return true;
    }

    bool open(PyObject* container) {
        bool is_dict = PyDict_Check(container);  // a subclass too, by the rules of dicts
        out_.open(!is_dict);
        open_.emplace_back(container, 0, is_dict, false, false, DictEntries{});
        Open& opened = open_.back();
        if (is_dict) opened.reads_table = dict_entries(container, opened.entries);
        return true;
    }

    void end_element(Open& parent) {
        // A dict's entry is ended by what follows it: the next key, or the dict's close.
        if (parent.is_dict) return;
        if (parent.position == PySequence_Fast_GET_SIZE(parent.container))
            out_.end_item(true);
        else
            out_.between_items(open_.size());
    }

    void close() {
        bool is_dict = open_.back().is_dict;
        if (open_.back().has_entry) out_.end_entry();
        open_.pop_back();
        out_.close(!is_dict, open_.size());
        // Parts end with containers, whose items are written without a look at the length.
        if (out_.text().size() >= rebuffer_at_) [[unlikely]]
            rebuffer();
        if (!open_.empty()) end_element(open_.back());
    }

    TextOutput out_;
    dral_core::SmallStack<Open, 16> open_;  // shallow documents allocate no stack
    WideStrs wide_;
    std::size_t rebuffer_at_;  // the length of text that rebuffer() is called at
    bool latin1_ = false;      // a character past ASCII has been written
};

}  // namespace

PyObject* pretty_print_to_str(PyObject* object, std::size_t indent, const ConvertOptions& options) {
    {
        PyTextWriter writer(indent);
        if (writer.write(object)) return writer.to_str();
    }
    PyErr_Clear();
    return pretty_print_reference(object, indent, options);
}

PyObject* pretty_print_reference(PyObject* object, std::size_t indent,
                                 const ConvertOptions& options) {
    auto value = py_to_value(object, options);
    if (!value) return nullptr;
    dral_core::TextOutput out(indent);
    dral_core::write_text(out, *value);
    return new_utf8_str(out.text());
}

}  // namespace dral_python
