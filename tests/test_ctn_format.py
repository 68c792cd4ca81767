"""The canonical CTN writer: exact layout, literal forms, and what reads back."""

import math
import threading

import pytest
from hypothesis import given

import dral
from ctn_strategies import documents
from isolated import SMALL_STACK_SIZE

fmt = dral.rfc_format_ctn


@pytest.mark.parametrize(
    "literal, formatted",
    [
        ("42", "42"),
        ("-7", "-7"),
        ("42i64", "42i64"),
        ("-9223372036854775808i8", "-9223372036854775808i64"),
        ("300u8", "300u64"),
        ("0xff", "255"),
        ("42vu64", "42"),
        ("true", "true"),
        ("null", "null"),
        ("unit", "unit"),
        ("1.5", "1.5f64"),
        ("1e3", "1000f64"),
        ("1f64", "1f64"),
        ("1e21", "1000000000000000000000f64"),
        ("1e-7", "0.0000001f64"),
        ("-0.0", "-0f64"),
        ("0.1f32", "0.1f32"),
        ("16777217f32", "16777216f32"),
        ("NaN", "NaNf64"),
        ("NaNf32", "NaNf32"),
        ("'sym", "'sym"),
        ("bare", "'bare"),
        ('b"DEAD_beef"', 'b64"3q2+7w=="'),
        ("<>", 'b64""'),
        ('date"2024-01-01"', 'date"2024-01-01"'),
        ("12.50dec64", 'dec64"12.50"'),
        ("1.5i64", 'i64"1.5"'),
        ('"""raw \\n"""', '"raw \\\\n"'),
        ('"a\\u{41}b"', '"aAb"'),
    ],
)
def test_scalar_literals_format_canonically(literal, formatted):
    assert fmt(literal) == formatted


def test_strings_escape_exactly_five_characters():
    text = '"tab\\t cr\\r lf\\n quote\\" backslash\\\\ bs\\b ff\\f"'
    assert fmt(text) == '"tab\\t cr\\r lf\\n quote\\" backslash\\\\ bs\x08 ff\x0c"'


@pytest.mark.parametrize(
    "literal, formatted",
    [
        ("Inf", "Inff64"),
        ("+Inf", "Inff64"),
        ("-Inf", "-Inff64"),
        ("Inff32", "Inff32"),
        ("-Inff32", "-Inff32"),
        ("1e999", "Inff64"),
        ("-1e999f32", "-Inff32"),
    ],
)
def test_infinities_are_written_so_that_they_read_back(literal, formatted):
    assert fmt(literal) == formatted
    assert fmt(formatted) == formatted
    root = dral.rfc_parse_ctn(formatted)["root"]
    assert root["type"] == ("f32" if formatted.endswith("f32") else "f64")
    assert root["value"] == (-math.inf if formatted.startswith("-") else math.inf)


def test_unsigned_values_beyond_the_signed_range_keep_their_suffix():
    # Plain decimal would read back as an out-of-range signed literal.
    assert fmt("18446744073709551615vu64") == "18446744073709551615vu64"
    assert fmt("9223372036854775808vu32") == "9223372036854775808vu64"
    assert dral.rfc_parse_ctn(fmt("18446744073709551615vu64"))["root"] == {
        "kind": "scalar", "type": "vu64", "value": 2**64 - 1}
    assert fmt("9223372036854775807vu64") == "9223372036854775807"


@pytest.mark.parametrize(
    "text, formatted",
    [
        ("", ""),
        ("let x = 1", "let x = 1"),
        ('let x = 1\n"a"', 'let x = 1\n\n"a"'),
        ('"a"\n"b"', '"b"'),
        ("@draft\n@level 3\nuse core::types\nlet x = 1",
         "@draft\n@level 3\nuse core::types\nlet x = 1"),
        ("use a\n  -- just uses", "use a"),
        ("let a = &b\nlet b = ref 42\nref ref 1", "let a = &b\nlet b = ref 42\n\nref ref 1"),
    ],
)
def test_document_layout(text, formatted):
    assert fmt(text) == formatted


@pytest.mark.parametrize(
    "text, lines",
    [
        ("Point\n  x = 1i64\n  y = 2.5", ["Point", "  x = 1i64", "  y = 2.5f64"]),
        ("struct\n  x = 1", ["struct", "  x = 1"]),
        ("let p = Outer\n  inner = Inner\n    a = 1", ["let p = Outer", "  inner = Inner", "    a = 1"]),
        ("[1, 2, 3, 4, 5, 6, 7, 8]", ["[1, 2, 3, 4, 5, 6, 7, 8]"]),
        ("[1, 2, 3, 4, 5, 6, 7, 8, 9]", ["seq<any>"] + [f"  {i}" for i in range(1, 10)]),
        ("seq<i64>\n  1\n  2", ["[1, 2]"]),
        ("[&a, ref 1, null]", ["[&a, ref 1, null]"]),
        ("[[1]]", ["seq<any>", "  [1]"]),
        ("[]", ["[]"]),
        ("()", ["[]"]),
        ("map<str, i64>[]", ["map<any, any> []"]),
        ('map<str, i64>["a" => 1, "b" => [2]]', ["map<any, any>", '  "a" => 1', '  "b" => [2]']),
        ("Color::Red", ["Color :: Red"]),
        ("::Red", ["Red"]),
        ("Shape::Circle(1.5, 'x)", ["Shape :: Circle(1.5f64, 'x)"]),
        ("Shape::Empty()", ["Shape :: Empty()"]),
        ("Point::P(x: 1, y: 2)", ["Point :: P", "  x = 1", "  y = 2"]),
        ("Opt::Some\n  v = Color::Red", ["Opt :: Some", "  v = Color :: Red"]),
        ("vec<i32>[2]\n  [1, 2]", ["tensor<i32>[2]", "  [1f64, 2f64]"]),
        ("tensor<f32>[2, _]\n  @unit 'm\n  [1, 2]\n  [3, Inf]",
         ["tensor<f32>[2, _]", "  @unit 'm", "  [1f64, 2f64, 3f64, Inff64]"]),
        ("mat<f64>\n  <binary: 16 bytes>", ["tensor<f64>", "  <binary: 16 bytes>"]),
        ("tensor<u64>[]\n  []", ["tensor<u64>", "  []"]),
        ("stream<event>", ["stream<event>"]),
        ('stream<event>\n  @source "x"\n  @rate 10', ["stream<event>", '  @source "x"', "  @rate 10"]),
    ],
)
def test_value_layout(text, lines):
    assert fmt(text) == "\n".join(lines)


def test_nested_blocks_indent_two_spaces_per_level():
    text = "Config\n  servers = seq<Server>\n    Server\n      hosts = map<str, any>\n        \"a\" => [1]\n"
    assert fmt(text).split("\n") == [
        "Config",
        "  servers = seq<Server>",
        "    Server",
        "      hosts = map<any, any>",
        '        "a" => [1]',
    ]


def test_by_id_reference_keeps_its_value_on_its_line():
    # A reference by id is read from one line, so its value is written in its one-line form even
    # where its canonical form would be a block.
    assert fmt("ref [1, [2]]") == "ref [1, [2]]"
    assert fmt("Box\n  v = [ref [1, [2]]]") == "Box\n  v = [ref [1, [2]]]"


@pytest.mark.parametrize("depth", [1, 100, 511])
def test_deep_values_format_in_a_small_stack(depth):
    text = "[" * depth + "1" + "]" * depth
    results = []
    threading.stack_size(SMALL_STACK_SIZE)
    try:
        worker = threading.Thread(target=lambda: results.append(fmt(text)))
        worker.start()
        worker.join()
    finally:
        threading.stack_size(0)
    lines = results[0].split("\n")
    assert len(lines) == depth
    assert lines[-1] == " " * (2 * (depth - 1)) + "[1]"


def _without_nan(value):
    """The value with NaN replaced by a marker, so that equal trees compare equal."""
    if isinstance(value, float) and math.isnan(value):
        return "NaN"
    if isinstance(value, dict):
        return {key: _without_nan(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_without_nan(item) for item in value]
    return value


def _as_written(value):
    """The value as the writer keeps it: no element type for a sequence on one line, "any" for
    an absent one in block form, and small unsigned variable-width integers read as signed."""
    if isinstance(value, list):
        return [_as_written(item) for item in value]
    if not isinstance(value, dict):
        return value
    value = {key: _as_written(item) for key, item in value.items()}
    if value.get("kind") == "sequence":
        one_line = len(value["items"]) <= 8 and all(
            item["kind"] in ("scalar", "reference") for item in value["items"])
        if one_line:
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
    assert _without_nan(again) == _without_nan(_as_written(parsed))
