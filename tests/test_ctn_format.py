"""The canonical CTN writer: exact layout, literal forms, and what reads back."""

import math
import struct
from decimal import ROUND_CEILING, ROUND_FLOOR, Decimal
from fractions import Fraction

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from ctn_strategies import documents

fmt = dral.rfc_format_ctn
U64_MAX = "18446744073709551615vu64"
NINE = "[1, 2, 3, 4, 5, 6, 7, 8, 9]"


@pytest.mark.parametrize(
    "literal, formatted",
    [
        *[(text, text) for text in ["42", "-7", "42i64", "true", "null", "unit", "1f64", "0.1f32",
                                    "NaNf32", "'sym", 'date"2024-01-01"', "Inff32", "-Inff32"]],
        ("-9223372036854775808i8", "-9223372036854775808i64"), ("300u8", "300u64"), ("0xff", "255"),
        ("42vu64", "42"), ("1.5", "1.5f64"), ("1e3", "1000f64"), ("1e-7", "0.0000001f64"),
        ("1e21", "1000000000000000000000f64"), ("-0.0", "-0f64"), ("16777217f32", "16777216f32"),
        ("NaN", "NaNf64"), ("bare", "'bare"), ('b"DEAD_beef"', 'b64"3q2+7w=="'), ("<>", 'b64""'),
        ("12.50dec64", 'dec64"12.50"'), ("1.5i64", 'i64"1.5"'), ('"""raw \\n"""', '"raw \\\\n"'),
        ('"a\\u{41}b"', '"aAb"'),
        # Strings escape exactly five characters.
        ('"tab\\t cr\\r lf\\n quote\\" backslash\\\\ bs\\b ff\\f"',
         '"tab\\t cr\\r lf\\n quote\\" backslash\\\\ bs\x08 ff\x0c"'),
        # Infinities, and unsigned values beyond the signed range, in forms that read back.
        ("Inf", "Inff64"), ("+Inf", "Inff64"), ("-Inf", "-Inff64"), ("1e999", "Inff64"),
        ("-1e999f32", "-Inff32"), (U64_MAX, U64_MAX),
        ("9223372036854775808vu32", "9223372036854775808vu64"),
        ("9223372036854775807vu64", "9223372036854775807"),
    ],
)
def test_scalar_literals_format_canonically(literal, formatted):
    assert fmt(literal) == formatted
    assert fmt(formatted) == formatted


def binary32(bits):
    return struct.unpack("<f", struct.pack("<I", bits))[0]


def shortest_binary32(value):
    """The positional text of the decimal with the fewest digits that rounds to the binary32 `value`
    (positive and finite), the nearest of them, found by trying every digit count."""
    bits = struct.unpack("<I", struct.pack("<f", value))[0]
    exact = Fraction(value)
    below = Fraction(binary32(bits - 1)) if bits > 0 else -exact
    above = Fraction(binary32(bits + 1)) if bits + 1 < 0x7F800000 else 2 * exact - below
    low, high = (below + exact) / 2, (exact + above) / 2

    def rounds_to_value(candidate):
        c = Fraction(candidate)
        return low < c < high or (bits % 2 == 0 and c in (low, high))  # ties go to the even value

    for digits in range(1, 11):
        place = Decimal(1).scaleb(Decimal(value).adjusted() - digits + 1)
        fits = [c for c in {Decimal(value).quantize(place, r) for r in (ROUND_FLOOR, ROUND_CEILING)}
                if rounds_to_value(c)]
        if fits:
            best = min(fits, key=lambda c: (abs(Fraction(c) - exact), int(c.scaleb(-place.adjusted())) % 2))
            return format(best.normalize(), "f")
    raise AssertionError(value)


# Subnormals, the smallest normal, the largest value, powers of two (a narrower gap below), integers.
BINARY32_EDGES = [binary32(bits) for bits in (1, 2, 3, 7, 21, 0x007FFFFF, 0x00800000, 0x00800001, 0x7F7FFFFF,
                                              0x4B800000, 0x4B800001, 0x3F800000, 0x3DCCCCCD)]


@given(st.floats(min_value=0, exclude_min=True, allow_infinity=False, width=32) | st.sampled_from(BINARY32_EDGES))
def test_binary32_values_are_written_with_their_shortest_digits(value):
    expected = shortest_binary32(value)
    assert fmt(repr(value) + "f32") == expected + "f32"
    assert fmt("-" + repr(value) + "f32") == "-" + expected + "f32"


@pytest.mark.parametrize("text, kind, value", [
    ("Inff64", "f64", math.inf), ("-Inff64", "f64", -math.inf), ("Inff32", "f32", math.inf),
    ("-Inff32", "f32", -math.inf), (U64_MAX, "vu64", 2**64 - 1)])  # not plain decimal: out of range
def test_written_forms_read_back_as_their_values(text, kind, value):
    assert dral.rfc_parse_ctn(text)["root"] == {"kind": "scalar", "type": kind, "value": value}


@pytest.mark.parametrize(
    "text, lines",
    [
        ("", [""]), ("let x = 1", ["let x = 1"]), ('let x = 1\n"a"', ["let x = 1", "", '"a"']),
        ('"a"\n"b"', ['"b"']), ("use a\n  -- just uses", ["use a"]),
        ("@draft\n@level 3\nuse core::types\nlet x = 1",
         ["@draft", "@level 3", "use core::types", "let x = 1"]),
        ("let a = &b\nlet b = ref 42\nref ref 1",
         ["let a = &b", "let b = ref 42", "", "ref ref 1"]),
        ("Point\n  x = 1i64\n  y = 2.5", ["Point", "  x = 1i64", "  y = 2.5f64"]),
        ("struct\n  x = 1", ["struct", "  x = 1"]),
        ("let p = Outer\n  inner = Inner\n    a = 1", ["let p = Outer", "  inner = Inner", "    a = 1"]),
        ('Config\n  servers = seq<Server>\n    Server\n      hosts = map<str, any>\n'
         '        "a" => [1]\n',
         ["Config", "  servers = seq<Server>", "    Server", "      hosts = map<any, any>",
          '        "a" => [1]']),
        ("[1, 2, 3, 4, 5, 6, 7, 8]", ["[1, 2, 3, 4, 5, 6, 7, 8]"]),
        (NINE, ["seq<any>"] + [f"  {i}" for i in range(1, 10)]),
        ("seq<i64>\n  1\n  2", ["[1, 2]"]), ("[&a, ref 1, null]", ["[&a, ref 1, null]"]),
        ("[[1]]", ["seq<any>", "  [1]"]), ("[]", ["[]"]), ("()", ["[]"]),
        ("map<str, i64>[]", ["map<any, any> []"]), ("::Red", ["Red"]),
        ('map<str, i64>["a" => 1, "b" => [2]]', ["map<any, any>", '  "a" => 1', '  "b" => [2]']),
        ("Color::Red", ["Color :: Red"]), ("Shape::Empty()", ["Shape :: Empty()"]),
        ("Shape::Circle(1.5, 'x)", ["Shape :: Circle(1.5f64, 'x)"]),
        ("Point::P(x: 1, y: 2)", ["Point :: P", "  x = 1", "  y = 2"]),
        ("Opt::Some\n  v = Color::Red", ["Opt :: Some", "  v = Color :: Red"]),
        # Values read from one line keep their one-line form; sums read from blocks stay blocks.
        ("ref [1, [2]]", ["ref [1, [2]]"]), (f"ref {NINE}", [f"ref {NINE}"]),
        ("Box\n  v = [ref [1, [2]]]", ["Box", "  v = [ref [1, [2]]]"]),
        (f"T::V({NINE})", [f"T :: V({NINE})"]), ("T::V\n  a = 1", ["T :: V", "  a = 1"]),

        ("vec<i32>[2]\n  [1, 2]", ["tensor<i32>[2]", "  [1f64, 2f64]"]),
        ("tensor<f32>[2, _]\n  @unit 'm\n  [1, 2]\n  [3, Inf]",
         ["tensor<f32>[2, _]", "  @unit 'm", "  [1f64, 2f64, 3f64, Inff64]"]),
        ("mat<f64>\n  <binary: 16 bytes>", ["tensor<f64>", "  <binary: 16 bytes>"]),
        ("tensor<u64>[]\n  []", ["tensor<u64>", "  []"]), ("stream<event>", ["stream<event>"]),
        ('stream<event>\n  @source "x"\n  @rate 10', ["stream<event>", '  @source "x"', "  @rate 10"]),
    ],
)
def test_layout(text, lines):
    assert fmt(text) == "\n".join(lines)


def _long_strings(char, lines, line):
    # Runs of ASCII and `char` whose lengths keep changing, so that over a long text the wide
    # characters come at every offset; `line(i, body)` lays out one string as a canonical line.
    return [line(i, '"' + "x" * (i % 7) + char * (1 + i * 5 % 23) + '"') for i in range(lines)]


# Short texts, texts long enough to take the measured path, and texts far longer than any one
# piece the writer fills.
LAYOUTS = {
    "short": lambda char: f'let s = "x{char}"\n\n["{char}", 1]',
    "measured": lambda char: f'let s = "{("x" + char) * 300}"\n\n["{char}", 1]',
    "root sequence": lambda char: "seq<str>\n" + "\n".join(
        _long_strings(char, 12000, lambda i, body: "  " + body)),
    "bindings only": lambda char: "\n".join(
        _long_strings(char, 9000, lambda i, body: f"let s{i} = {body}")),
    "one long string": lambda char: f'let a = "{char}"\n\n["{("y" + char) * 100_000}", "z"]',
}


# Every function that formats returns exactly the canonical text it was given, whatever the
# str's width.
@pytest.mark.parametrize("char", ["a", "\u00e9", "\u20ac", "\U0001f600"])
@pytest.mark.parametrize("layout", LAYOUTS)
def test_texts_of_every_width_format_whole_through_every_writer(layout, char):
    text = LAYOUTS[layout](char)
    assert fmt(text) == text
    model = dral.rfc_parse_ctn_model(text)
    assert model.to_ctn() == text
    if model.root is not None:
        # CBF holds the root alone.
        root = text.split("\n\n")[-1]
        assert model.root.to_ctn() == root
        assert dral.rfc_query_ctn(text, ".", as_ctn=True) == [root]
        compiled = dral.rfc_compile_ctn(text)
        assert dral.rfc_cbf_to_ctn(compiled) == root
        assert dral.rfc_decode_cbf(compiled)["ctn"] == dral.rfc_decode_cbf_model(compiled).ctn == root
        assert dral.rfc_query_cbf(compiled, ".", as_ctn=True) == [root]


# Inline lists split at commas outside strings, however many backslashes end a string.
@pytest.mark.parametrize(
    "text, items",
    [
        ('["a\\\\", "b"]', ["a\\", "b"]),
        ('["a\\\\\\", b", "c"]', ['a\\", b', "c"]),
        ('["\\"", ","]', ['"', ","]),
        ('[",", "\\\\,"]', [",", "\\,"]),
    ],
)
def test_inline_strings_end_at_their_unescaped_quote(text, items):
    root = dral.rfc_parse_ctn(text)["root"]
    assert [item["value"] for item in root["items"]] == items


def _as_written(value):
    """The value as the writer keeps it: no element type for a sequence on one line, "any" for
    an absent one in block form, and small unsigned variable-width integers read as signed."""
    if isinstance(value, list):
        return [_as_written(item) for item in value]
    if not isinstance(value, dict):
        return value
    value = {key: _as_written(item) for key, item in value.items()}
    if value.get("kind") == "sequence":
        items = value["items"]
        if len(items) <= 8 and all(item["kind"] in ("scalar", "reference") for item in items):
            value["elem_type"] = None
        elif value["elem_type"] is None:
            value["elem_type"] = "any"
    if value.get("type") == "vu64" and value["value"] < 2**63:
        value["type"] = "vi64"
    return value


@given(documents())
def test_formatting_is_idempotent(text):
    once = fmt(text)
    assert fmt(once) == once


@given(documents())
def test_formatted_documents_read_back_equal(text):
    parsed = dral.rfc_parse_ctn(text)
    again = dral.rfc_parse_ctn(fmt(text))
    # repr: NaN scalars compare unequal to themselves, and -0.0 must stay apart from 0.0
    assert repr(again) == repr(_as_written(parsed))
