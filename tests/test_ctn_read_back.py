"""Canonical CTN text reads back as the document it was written from, also where an inline form
has no block form and where a text would otherwise be taken for another form; names that the
formatter could not write back as the same names are refused where they enter."""

import math
import re
import struct

import pytest

import dral
from cbf_bytes import NULL, cbf, i64, product, seg, seq, text, with_table
from helpers import varint

NINE = "[1, 2, 3, 4, 5, 6, 7, 8, 9]"


@pytest.mark.parametrize("source", [
    # One-line values whose canonical form spans lines: references by id, tuple payloads, map keys.
    f"ref {NINE}", 'let a = ref map<str, any>["k" => T::V(z: [1])]', f"ref T::V(1, {NINE})",
    f"T::V({NINE})", "T::V(map<a, b>[1 => 2])", f"map<a, b>[{NINE} => 1]",
    f"map<a, b>[T::V({NINE}) => 2]", f"seq<any>\n  T::V(1)\n  ref {NINE}",
    # Map lines are split at their first "=>", also in key texts and tagged key texts.
    'map<a, b>["a\\u{3d}>b" => 1, "=\\u{3e}" => 2]', 'map<a, b>[t"x=\\u{3e}y" => 1]',
    # Keys that hold maps with entries, whose arrows the map line's own follows.
    "map<a, b>[map<c, d>[1 => 2] => 3]", 'map<a, b>[T::V(x: map<c, d>[1 => [2]]) => ref map<e, f>["k" => 1]]',
    # A colon anywhere makes a payload named, also one in a text of a tuple payload.
    'A::B(0, "\\u{3a}")', 'A::B(t"x\\u{3a}y", map<a, b>["k=\\u{3e}\\u{3a}" => ["\\u{3a}"]])',
    'T::V(x: U::W("a\\u{3a}b"))',
    # Texts that would read as something else: sums named "ref", "let" and "use", tags "b", "b64".
    "seq<any>\n  ref::V\n  ref::W(1)", "let::V", "use::V(1)", 'b "00"', '[b64 "AA==", b "x"]',
    # Type names and variants may be words, variants paths of them, empty before a payload;
    # element types free text within the rule, paths too where they stand on a line of their own.
    "A::b::c", "1::2", "x::0x1f32(1)", "A::(1)", "A::(x: 1)", "seq<any>\n  A::(x: 1)\n  1a::b2\n    f = 9::8",
    "seq<map<str, i64>>\n" + "\n".join(f"  {i}" for i in range(9)), "stream<a b, c>",
    "seq<geo::P>\n" + "\n".join(f"  {i}" for i in range(9)), "tensor<geo::P>[2]\n  [1, 2]",
    # Control characters without an escape of their own stand as they are, beside ones with one.
    '"\x01a\\n\x0c"', '"' + "a" * 20 + "\x00" + "b" * 60 + '\\t\x08\x0b"',
])
def test_canonical_text_reads_back(source):
    text_ = dral.rfc_format_ctn(source)
    assert dral.rfc_parse_ctn(text_) == dral.rfc_parse_ctn(source)
    assert dral.rfc_format_ctn(text_) == text_


DATA = "Invalid data: "


@pytest.mark.parametrize("source, message", [
    ("seq<any>\n  ref => :: a, b(1)", "invalid enum type name '=>'"),
    ("let a = seq<any>\n  ref T :: x, y\n  &a", "invalid enum variant name 'x, y'"),
    # A field name that is no identifier could be written back in the one-line form only, which
    # a compiled payload's values need not have.
    ("Point::P(x y: 4, 1st: 5)", "invalid field name 'x y'"),
    ("seq<x::V(a: 1)", "invalid enum type name 'seq<x'"),
    ("seq<any>\n  T::V(f: stream<x::V)", "invalid enum type name 'stream<x'"),
    ("map<a>[1]::V\n  f = a::b, c\n  g = 2", "invalid enum type name 'map<a>[1]'"),
    ("A::b=c", "invalid enum variant name 'b=c'"), ("seq<a=b>\n  1", "invalid element type 'a=b'"),
    ('stream<a"b>', "invalid item type 'a\\\"b'"), ("tensor<f[2]>\n  [1]", "invalid element type 'f[2]'"),
    # Where a stream stands for a value on one line (a reference by id, a payload, a map key),
    # "stream<geo::P>" would read back as a sum.
    ("stream<geo::P>", "invalid item type 'geo::P'"),
    ("seq<" + "x" * 100 + "=>\n  1", "invalid element type '" + "x" * 64 + "...'"),
])
def test_names_the_formatter_cannot_write_back_are_refused(source, message):
    with pytest.raises(dral.DralRfcError) as raised:
        dral.rfc_parse_ctn(source)
    assert str(raised.value) == DATA + message


def sum_(type_name, variant, payload=b"\x00"):
    return seg(0x50, b"\x01" + text(type_name) + text(variant) + payload)


def stream(item_type, annotation):
    return seg(0xA0, text(item_type) + varint(1) + text(annotation) + b"\x00")


def opaque(tag, first, second=b""):
    return seg(tag, varint(len(first)) + first + varint(len(second)) + second)


INJECTED = "admin = true\n  z_"


# Files with a valid checksum whose names would add structure to their CTN text, and some whose
# names look odd but read back.
@pytest.mark.parametrize("root, message", [
    (product("P", (INJECTED, NULL)), f"invalid field name '{INJECTED.replace(chr(10), chr(92) + 'n')}'"),
    (product("P\n  admin = true", ("a", NULL)), "invalid type name 'P\\n  admin = true'"),
    (product("struct", ("a", NULL)), "invalid type name 'struct'"),
    (sum_("T", "V\n  x = 1"), "invalid enum variant name 'V\\n  x = 1'"),
    (sum_("T x", "V"), "invalid enum type name 'T x'"), (sum_("T", ""), "invalid enum variant name ''"),
    (seq(NULL, elem_type="any>\n  1\n  2"), "invalid element type 'any>\\n  1\\n  2'"),
    (stream("x", "a b"), "invalid annotation name 'a b'"), (stream("x -- c", "a"), "invalid item type 'x -- c'"),
    (stream("geo::P", "a"), "invalid item type 'geo::P'"),
    (opaque(0xD0, b"t\n", b"v"), "invalid tag 't\\n'"), (opaque(0xD1, b"a::b"), "invalid type tag 'a::b'"),
    (seg(0x90, b"\x00" + varint(3) + b"a\nb"), "invalid reference name 'a\\nb'"),
    # Nothing to refuse: an empty variant before a payload, element types that are paths.
    (seg(0x68, b"\x00" + varint(0)), "[]"), (sum_("T", "", b"\x01" + varint(1) + NULL), "T :: (null)"),
    (seq(*[NULL] * 9, elem_type="geo::P"), "seq<geo::P>\n" + "\n".join(["  null"] * 9)),
])
def test_compiled_names_are_taken_where_the_formatter_writes_them_back(root, message):
    data = cbf(root)
    if not message.startswith("invalid"):
        assert dral.rfc_cbf_to_ctn(data) == message
        assert dral.rfc_format_ctn(message) == message
        return
    for read in (dral.rfc_cbf_to_ctn, dral.rfc_decode_cbf, dral.rfc_decode_cbf_model,
                 lambda d: dral.rfc_query_cbf(d, ".", as_ctn=True)):
        with pytest.raises(dral.DralRfcError, match="^" + re.escape(DATA + message) + "$"):
            read(data)


def test_symbols_from_the_table_are_checked_where_they_are_used():
    line_break = with_table(["a\n- b", "ok"], seg(0x30, varint(0)))
    with pytest.raises(dral.DralRfcError, match="^Invalid data: invalid symbol 'a\\\\n- b'$"):
        dral.rfc_cbf_to_ctn(line_break)
    field = with_table(["x = 1\n  y", "ok"], seg(0x40, b"\x00" + varint(1) + seg(0x30, varint(0)) + NULL))
    with pytest.raises(dral.DralRfcError, match="^Invalid data: invalid field name"):
        dral.rfc_cbf_to_ctn(field)
    assert dral.rfc_cbf_to_ctn(with_table(["x = 1\n  y", "ok"], seg(0x30, varint(1)))) == "'ok"


# Decoding a file, formatting it, parsing, compiling and decoding again gives the same tree: every
# name the decoder takes is written back as itself. The trees avoid the documented losses (sums
# without a type name, products without fields, element types of short sequences) and the values
# that a payload on one line (a sum's with an empty variant) cannot hold or keep: products,
# streams with annotations, element types of sequences.
from hypothesis import given, strategies as st  # noqa: E402

from ctn_strategies import NAMES  # noqa: E402

HOSTILE = st.sampled_from(["a = 1\n  b", "x\n", "a b", "q--r", "t::u", 'w"', "p=q", "[", "", " s", "struct"])
ANY_NAME = NAMES | HOSTILE


@st.composite
def _segments(draw, depth=0, on_one_line=False):
    if depth > 3 or draw(st.integers(0, 2)) == 0:
        return draw(st.sampled_from([NULL, i64(7), text("s\n-- t"), seg(0x30, varint(0))]))
    kinds = ["sum", "map"] + ([] if on_one_line else ["product", "sequence", "stream"])
    kind = draw(st.sampled_from(kinds))
    child = _segments(depth + 1, on_one_line)
    if kind == "product":
        fields = draw(st.lists(st.tuples(ANY_NAME, child), min_size=1, max_size=3))
        return product(draw(ANY_NAME), *fields)
    if kind == "sum":
        variant = draw(ANY_NAME)
        child = _segments(depth + 1, on_one_line or not variant)
        fields = draw(st.lists(st.tuples(ANY_NAME, child), min_size=1, max_size=2))
        payload = b"\x02" + varint(len(fields)) + b"".join(text(n) + v for n, v in fields)
        return seg(0x50, b"\x01" + text(draw(ANY_NAME)) + text(variant) + payload)
    if kind == "sequence":
        return seq(*draw(st.lists(child, min_size=9, max_size=10)), elem_type=draw(ANY_NAME))
    if kind == "stream":
        return stream(draw(ANY_NAME), draw(ANY_NAME))
    pairs = draw(st.lists(st.tuples(st.sampled_from([i64(1), text("k=>v")]), child), min_size=1, max_size=2))
    body = b"".join(k + v for k, v in pairs)
    return seg(0x70, varint(len(pairs)) + body)


@given(_segments())
def test_formatted_files_read_back_as_themselves(root):
    data = with_table(["sym"], root)
    try:
        decoded = dral.rfc_decode_cbf(data)
    except dral.DralRfcError as refused:
        assert str(refused).startswith(DATA + "invalid ")
        return
    again = dral.rfc_decode_cbf(dral.rfc_compile_ctn(decoded["ctn"]))
    assert again["document"]["root"] == decoded["document"]["root"]
    assert again["ctn"] == decoded["ctn"]


# What CTN text does not keep (the README's CTN section): compiled roots, their text, and what
# the text reads back as.
NAN_WITH_PAYLOAD = struct.pack("<Q", 0x7FF8000000000001)
NINE_NULLS = seg(0x68, b"\x00" + varint(9) + b"".join(struct.pack("<I", 4 * i) for i in range(9)) + NULL * 9)


@pytest.mark.parametrize("root, written, reads_back_as", [
    (seg(0x50, b"\x00" + text("Red") + b"\x00"), "Red", lambda v: v == {"kind": "scalar", "type": "sym", "value": "Red"}),
    (product("P"), "P", lambda v: v == {"kind": "scalar", "type": "sym", "value": "P"}),
    (sum_("T", "V", b"\x02" + varint(0)), "T :: V", lambda v: v["payload"] == {"kind": "unit"}),
    (seg(0x0B, varint(4)), "4", lambda v: v == {"kind": "scalar", "type": "vi64", "value": 4}),
    (seq(NULL, elem_type="T"), "[null]", lambda v: v["elem_type"] is None),
    (NINE_NULLS, "seq<any>\n" + "\n".join(["  null"] * 9), lambda v: v["elem_type"] == "any"),
    (seg(0x0D, NAN_WITH_PAYLOAD), "NaNf64",
     lambda v: math.isnan(v["value"]) and struct.pack("<d", v["value"]) != NAN_WITH_PAYLOAD),
])
def test_what_ctn_text_does_not_keep(root, written, reads_back_as):
    text_ = dral.rfc_cbf_to_ctn(cbf(root))
    assert text_ == written
    assert reads_back_as(dral.rfc_parse_ctn(text_)["root"])
