"""Canonical CTN text reads back as the document it was written from, also where an inline form
has no block form and where a text would otherwise be taken for another form."""

import pytest

import dral

NINE = "[1, 2, 3, 4, 5, 6, 7, 8, 9]"


@pytest.mark.parametrize("source", [
    # One-line values whose canonical form spans lines: references by id, tuple payloads, map keys.
    f"ref {NINE}", 'let a = ref map<str, any>["k" => T::V(z: [1])]', f"ref T::V(1, {NINE})",
    f"T::V({NINE})", "T::V(map<a, b>[1 => 2])", f"map<a, b>[{NINE} => 1]",
    f"map<a, b>[T::V({NINE}) => 2]", f"seq<any>\n  T::V(1)\n  ref {NINE}",
    # Names read from a line of their own may hold commas, which a one-line sequence would split.
    "seq<any>\n  ref => :: a, b(1)", "let a = seq<any>\n  ref T :: x, y\n  &a",
    "seq<any>\n  ref => :: a, b<c :: V",
    # Map lines are split at their first "=>", also in key texts and tagged key texts.
    'map<a, b>["a\\u{3d}>b" => 1, "=\\u{3e}" => 2]', 'map<a, b>[t"x=\\u{3e}y" => 1]',
    # Struct payloads whose block form would not read: field names that are no identifiers, an
    # empty variant, a type name opening a sequence block, values named like a stream.
    "Point::P(x y: 4, 1st: 5)", "A::(x: 1)", "seq<x::V(a: 1)", "seq<any>\n  T::V(f: stream<x::V)",
    "seq<any>\n  map<a, b>[1 => stream<y::W]", f"T::V(x y: {NINE})",
    # A block sum whose type name starts like a map header stays a block.
    "map<a>[1]::V\n  f = a::b, c\n  g = 2",
    # Texts that would read as something else: sums named "ref", "let" and "use", tags "b", "b64".
    "seq<any>\n  ref::V\n  ref::W(1)", "let::V", "use::V(1)", 'b "00"', '[b64 "AA==", b "x"]',
    "[1, 2, 3, 4, 5, 6, 7, 8, stream<x::V]",
])
def test_canonical_text_reads_back(source):
    text = dral.rfc_format_ctn(source)
    assert dral.rfc_parse_ctn(text) == dral.rfc_parse_ctn(source)
    assert dral.rfc_format_ctn(text) == text

