"""Canonical CTN text reads back as the document it was written from, also for documents whose
inline forms have no block form (references by id, tuple payloads and map keys holding long or
nested values; sums whose names a block header or field line would not take) and for texts that
the next reader would otherwise take for another form."""

import pytest

import dral

NINE = "[1, 2, 3, 4, 5, 6, 7, 8, 9]"

READ_BACK = [
    # Values that stay on one line although their canonical form spans several.
    ("a reference by id to a long sequence", f"ref {NINE}"),
    ("a reference by id to a map", 'let a = ref map<str, any>["k" => T::V(z: [1])]'),
    ("a reference by id to a tuple sum", f"ref T::V(1, {NINE})"),
    ("a tuple payload holding a long sequence", f"T::V({NINE})"),
    ("a tuple payload holding a map", "T::V(map<a, b>[1 => 2])"),
    ("a map key that is a long sequence", f"map<a, b>[{NINE} => 1]"),
    ("a map key holding a tuple sum", f"map<a, b>[T::V({NINE}) => 2]"),
    ("a sequence block holding a reference by id", f"seq<any>\n  T::V(1)\n  ref {NINE}"),
    # Names read from a line of their own may hold commas, which a one-line sequence would split.
    ("a short sequence referring to a sum named with a comma", "seq<any>\n  ref => :: a, b(1)"),
    ("a short sequence referring to a sum named with commas", "let a = seq<any>\n  ref T :: x, y\n  &a"),
    ("a short sequence referring to a sum named with a comma and an open bracket",
     "seq<any>\n  ref => :: a, b<c :: V"),
    # Map lines are split at their first "=>".
    ('a map key text holding "=>"', 'map<a, b>["a\\u{3d}>b" => 1, "=\\u{3e}" => 2]'),
    ('a map key tag text holding "=>"', 'map<a, b>[t"x=\\u{3e}y" => 1]'),
    # Sums with struct payloads whose block form would not read.
    ("payload field names that are no identifiers", "Point::P(x y: 4, 1st: 5)"),
    ("an empty variant with a struct payload", "A::(x: 1)"),
    ("a type name opening a sequence block", "seq<x::V(a: 1)"),
    ("a payload value named like a stream", "seq<any>\n  T::V(f: stream<x::V)"),
    ("a map value named like a stream", "seq<any>\n  map<a, b>[1 => stream<y::W]"),
    ("a struct payload holding a long sequence", f"T::V(x y: {NINE})"),
    # A block sum whose type name starts like a map header stays a block.
    ("a block sum named like a map with brackets", "map<a>[1]::V\n  f = a::b, c\n  g = 2"),
    # Texts that would read as something else.
    ('a sum named "ref"', "seq<any>\n  ref::V\n  ref::W(1)"),
    ('a root sum named "let"', "let::V"),
    ('a root sum named "use"', "use::V(1)"),
    ('a tagged text with the tag "b"', 'b "00"'),
    ('a tagged text with the tag "b64"', '[b64 "AA==", b "x"]'),
    ("a long sequence holding a sum named like a stream", "[1, 2, 3, 4, 5, 6, 7, 8, stream<x::V]"),
]


@pytest.mark.parametrize("source", [case[1] for case in READ_BACK], ids=[case[0] for case in READ_BACK])
def test_canonical_text_reads_back(source):
    text = dral.rfc_format_ctn(source)
    assert dral.rfc_parse_ctn(text) == dral.rfc_parse_ctn(source)
    assert dral.rfc_format_ctn(text) == text


@pytest.mark.parametrize("source, one_line", [
    (f"ref {NINE}", True), (f"T::V({NINE})", True), ("A::(x: 1)", True),
    # Sums read from blocks keep their block form.
    ("T::V\n  a = 1", False), ("map<a>[1]::V\n  f = 1", False),
])
def test_block_forms_stay_where_they_read_back(source, one_line):
    assert ("\n" not in dral.rfc_format_ctn(source)) == one_line
