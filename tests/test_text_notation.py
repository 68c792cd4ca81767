"""Text notation: parse_text and pretty_print, their layout, errors with positions, round trips."""

import functools
import math
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from helpers import nested_list, same
from strategies import WITH_NAN

INF = float("inf")
KINDS = {type(None): "null", bool: "bool", float: "float", str: "str", bytes: "bytes", list: "array", dict: "object"}


@pytest.mark.parametrize("text, expected", [
    ("5", 5), ("-5", -5), ("+7", 7), ("007", 7), ("-0", 0), ("18446744073709551615", 2**64 - 1),
    ("-9223372036854775808", -(2**63)), ("1.0", 1.0), ("1e3", 1000.0), ("1.", 1.0), ("-.5", -0.5),
    ("2E-3", 0.002), ("1e+7", 1e7), ("1.5E2", 150.0), ("1.25e+00010", 1.25e10), ("1e400", INF), ("-1e400", -INF), ("1e-400", 0.0),
    ("-0.0", -0.0), ("inf", INF), ("-inf", -INF), ("null", None), ("true", True), ("false", False),
    ("NaN", math.nan), ("+0", 0), ('""', ""), ("42::i32", 42), ('"s"::str', "s"), ("300::u8", 300),
    ("1::", 1), ("true::b", True), ("NaN::f", math.nan), (r'"a\qb"', "a\\qb"), (r'"a\u0041"', "a\\u0041"),
    (r'"\n\r\t\"\\"', '\n\r\t"\\'), ('"raw\nline\x01é"', "raw\nline\x01é"),
    ("b64#AQID", b"\x01\x02\x03"), ("b64#", b""), ("[b64#, b64#AA==]", [b"", b"\x00"]),
    ("{a: b64#;}", {"a": b""}), ("[1 2 3]", [1, 2, 3]), ("[1, 2; 3]", [1, 2, 3]),
    ("[1, 2,]", [1, 2]), ("[]", []), ("[1, [2, 3]; {x: 1;},]", [1, [2, 3], {"x": 1}]),
    ("{a: 1; b: [1 2 3]; a: null;}", {"a": None, "b": [1, 2, 3]}), ('{"b c": 1;}', {"b c": 1}),
    ("{a:1;b :2;c:\t3;d:  4;e:/* c */5;f\n:6;aé:7;}", dict(zip("abcdef", range(1, 7)), aé=7)),
    ("{}", {}), ("{ }", {}), ("{null: 1; é1: 2; _: 3;}", {"null": 1, "é1": 2, "_": 3}),
    ("[1,\n  2,\n]", [1, 2]), ("[1,\n// c\n  2,\n\t3;\n 4,\r\n5]", [1, 2, 3, 4, 5]),
    ("[1,\n" + " " * 19 + "-2.5,\n/* c */]", [1, -2.5]), ("{a: 1;\n  b: 2;\n}", {"a": 1, "b": 2}),
    ("{a: 1;\n  // c\n  b: 2;\r\n\tc: 3;\n}", {"a": 1, "b": 2, "c": 3}), ("1;", 1),
    (" \t\r\n\u3000 1 ; ", 1), ("/* outer /* inner */ still comment */ 1", 1),
    ("1 // trailing comment", 1), ("1 /* unterminated", 1),
])
def test_parse_text_values(text, expected):
    assert same(dral.parse_text(text), expected)
    view = dral.parse_text_value(text)
    assert same(view.as_python(), expected)
    # A number is an int only when written with a minus sign, whatever its value.
    signed = "int" if text.lstrip().startswith("-") else "uint"
    assert view.kind == {**KINDS, int: signed}[type(expected)]


B64, DEEP = "invalid base64: ", "nesting too deep (maximum 4096 levels)"
EOF, CHAR = "unexpected end of input", "unexpected character: "
TRAIL = "unexpected trailing content"


@pytest.mark.parametrize("text, line, col, message", [
    ("", 1, 1, EOF), ("  // c\n /* x */ ", 2, 10, EOF), ("[1, 2", 1, 6, EOF),
    ("[1,\n  2", 2, 4, EOF), ("@", 1, 1, CHAR + "'@'"), ("\r@", 1, 2, CHAR + "'@'"),
    ("nul", 1, 1, CHAR + "'n'"), ("True", 1, 1, CHAR + "'T'"), ("nan", 1, 1, CHAR + "'n'"),
    ("b64", 1, 1, CHAR + "'b'"), (".5", 1, 1, CHAR + "'.'"), ("[,1]", 1, 2, CHAR + "','"),
    ("[1,,2]", 1, 4, CHAR + "','"), ("\n\n  [1,\n   é]", 4, 4, CHAR + "'é'"), ("1;;", 1, 3, TRAIL),
    ("42 ::i32", 1, 4, TRAIL), ('"é" x', 1, 5, TRAIL), ("[1]::x", 1, 4, TRAIL),
    ("nullx", 1, 5, TRAIL), ("b64#AA==::x", 1, 9, TRAIL), ("{a: 1}", 1, 7, "expected ';', got '}'"),
    ("{a: 1, b: 2}", 1, 7, "expected ';', got ','"), ("{a: 1é", 1, 7, "expected ';', got 'é'"),
    ("{a 1;}", 1, 5, "expected ':', got '1'"), ("{a", 1, 3, "expected ':', got EOF"),
    ("{a: 1", 1, 6, "expected ';', got EOF"), ("{a: 1;", 1, 7, "expected identifier"),
    ("{1: 2;}", 1, 2, "expected identifier"), ("{-a: 2;}", 1, 2, "expected identifier"),
    ('"abc', 1, 5, "unterminated string"), ('"ab\\', 1, 5, "unterminated string escape"),
    ("18446744073709551616", 1, 21, "invalid integer: 18446744073709551616"),
    ("-9223372036854775809", 1, 21, "invalid integer: -9223372036854775809"),
    ("-", 1, 2, "invalid integer: -"), ("+inf", 1, 2, "invalid integer: +"),
    ("1.2.3", 1, 6, "invalid float: 1.2.3"), ("1e::x", 1, 6, "invalid float: 1e"),
    ("1e+", 1, 4, "invalid float: 1e+"), ("-.", 1, 3, "invalid float: -."),
    ("1e5e5", 1, 6, "invalid float: 1e5e5"), ("1..", 1, 4, "invalid float: 1.."),
    ("[0.25.]", 1, 7, "invalid float: 0.25."), ("1e5.", 1, 5, "invalid float: 1e5."),
    ("2E3e1", 1, 6, "invalid float: 2E3e1"), ("b64#AQI", 1, 8, B64), ("b64#AB==", 1, 9, B64),
    ("[b64#A===]", 1, 10, B64), ("[" * 4097, 1, 4097, DEEP), ("{a:" * 4097, 1, 3 * 4096 + 1, DEEP),
])
def test_parse_errors_report_line_and_column(text, line, col, message):
    prefix = f"parse error: Text parse error at line {line}, col {col}: {message}"
    for parse in (dral.parse_text, dral.parse_text_value):
        with pytest.raises(ValueError) as info:
            parse(text)
        assert type(info.value) is ValueError
        # Base64 details are the decoder's own wording; everything else is exact.
        assert str(info.value).startswith(prefix) if message == B64 else str(info.value) == prefix


@pytest.mark.parametrize("parse", [dral.parse_text, dral.parse_text_value])
def test_parse_rejects_non_str_and_unencodable_text(parse):
    with pytest.raises(TypeError, match=f"^{parse.__name__}\\(\\) argument 'text' must be str, not bytes$"):
        parse(b"1")
    with pytest.raises(UnicodeEncodeError):
        parse("\ud800")


NINE_LINES = {"name": "x", "tags": ["a", "b"], "n": -1, "data": b"\x01", "nested": {"k": 1}}


@pytest.mark.parametrize("obj, indent, expected", [
    (5, 2, "5"), ("a", 2, '"a"'), (None, 2, "null"), (True, 2, "true"), (-1, 2, "-1"), (0, 2, "0"),
    (-(2**63), 2, "-9223372036854775808"), ({}, 2, "{}"), ([], 2, "[]"), ([1, 2], 4, "[1, 2]"),
    (b"", 2, "b64#"), (b"\x01\x02\x03\xff", 2, "b64#AQID/w=="), (b"\xfb\xff", 2, "b64#+/8="),
    ([None, True, -1, 1.5, "s", 0, 1, 2], 2, '[null, true, -1, 1.5, "s", 0, 1, 2]'),
    (list("abcdefgh"), 2, '["a", "b", "c", "d", "e", "f", "g", "h"]'),
    (list(range(1, 10)), 2, "[\n" + "".join(f"  {i},\n" for i in range(1, 9)) + "  9\n]"),
    ([b"\x01"], 2, "[\n  b64#AQ==\n]"), ([1, []], 2, "[\n  1,\n  []\n]"), ([{}], 2, "[\n  {}\n]"),
    ({"a": 1}, 0, "{\na: 1;\n}"),
    ({"a": [[1, 2], b""]}, 3, "{\n   a: [\n      [1, 2],\n      b64#\n   ];\n}"),
    (NINE_LINES, 2, '{\n  name: "x";\n  tags: ["a", "b"];\n  n: -1;\n  data: b64#AQ==;\n'
                    "  nested: {\n    k: 1;\n  };\n}"),
    ('\n\r\t"\\\x01é', 2, '"\\n\\r\\t\\"\\\\\x01é"'),
    *[({key: 1}, 2, f"{{\n  {written}: 1;\n}}") for key, written in [  # keys bare or quoted
        ("_x1", "_x1"), ("é1", "é1"), ("null", "null"), ("a b", '"a b"'), ("", '""'),
        ("1a", '"1a"'), ("a-b", '"a-b"'), ("a.b", '"a.b"'), ('q"', '"q\\""'), ("\n", '"\\n"')]],
    *[(value, 2, text) for value, text in [  # floats
        (1e20, "100000000000000000000.0"), (1e-7, "0.0000001"), (-0.0, "-0.0"), (0.0, "0.0"),
        (3.0, "3.0"), (0.1, "0.1"), (1.5, "1.5"), (100.0, "100.0"), (-2.5e-3, "-0.0025"),
        (math.nan, "NaN"), (INF, "inf"), (-INF, "-inf"), (5e-324, "0." + "0" * 323 + "5"),
        (1.7976931348623157e308, "17976931348623157" + "0" * 292 + ".0")]],
])
def test_pretty_print_text(obj, indent, expected):
    assert dral.pretty_print(obj, indent=indent) == expected
    assert same(dral.parse_text(expected), obj)


def test_indent_bounds_and_argument_errors():
    assert dral.pretty_print([[1]], indent=1024) == "[\n" + " " * 1024 + "[1]\n]"
    for indent, exc, message in [
        (1025, ValueError, "indent must be at most 1024"), (2**64, OverflowError, None),
        (-1, OverflowError, None),
        ("2", TypeError, "pretty_print() argument 'indent' must be int, not str"),
    ]:
        with pytest.raises(exc) as info:
            dral.pretty_print([1], indent=indent)
        assert message is None or str(info.value) == message
    with pytest.raises(dral.DralTypeError, match="^dict keys must be strings$"):  # deeper ones: test_python_types
        dral.pretty_print({1: 2})


@pytest.mark.parametrize("convert", [dral.pretty_print, dral.to_value])
@pytest.mark.parametrize("call", [
    lambda c: c(nested_list(5000)), lambda c: c(functools.reduce(lambda v, _: {"a": v}, range(5000), {})),
    lambda c: c((cycle := []).append(cycle) or cycle),  # a list that holds itself
    lambda c: c(object(), default=lambda o: [o]),  # a hook that nests its object again and again
])
def test_deep_python_objects_raise_recursion_error(convert, call):
    with pytest.raises(RecursionError):
        call(convert)


# The reader expects items indented like the last one of their depth and ': ' after bare keys;
# other layouts (widths around its 16-byte look-ahead, blanks, comments) must read the same.
LINE_STARTS = st.tuples(st.sampled_from([0, 1, 2, 7, 12, 13, 14, 15, 16, 17, 40]),
                        st.sampled_from(["", "", "\t", " \t", "/* c */ ", "\r"]))
COLONS = st.sampled_from([": ", ": ", ":", " : ", ":\t", ":  ", ": /* c */"])
BARE_KEY = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*): ")


@given(WITH_NAN, st.integers(0, 4), st.data())
def test_any_layout_reads_the_same(value, indent, data):
    lines = [line.lstrip(" ") for line in dral.pretty_print(value, indent=indent).split("\n")]
    starts = data.draw(st.lists(LINE_STARTS, min_size=len(lines), max_size=len(lines)))
    colons = data.draw(st.lists(COLONS, min_size=len(lines), max_size=len(lines)))
    text = "\n".join(" " * width + blank + BARE_KEY.sub(lambda m: m[1] + colon, line, count=1)
                     for (width, blank), colon, line in zip(starts, colons, lines))
    assert same(dral.parse_text(text), value)


def test_bare_keys_end_at_their_first_other_character():
    # Keys long and short around the reader's 16-byte steps, with every ASCII byte at each place.
    for before in (0, 1, 14, 15, 16, 17, 31, 32):
        for code in range(128):
            key = "k" + "a" * before + chr(code) + "z"
            text = f"{{\n  {key}: 1;\n}}"
            if BARE_KEY.match(key + ": "):
                assert dral.parse_text(text) == {key: 1}
            else:
                try:
                    assert dral.parse_text(text) != {key: 1}
                except ValueError:
                    pass


def test_indentation_past_the_deepest_remembered_depth_reads_the_same():
    value = {"a": 1, "b": [1, 2]}
    for depth in range(48):
        value = [value, depth] if depth % 2 else {"x": value, "y": [depth, None]}
    text = dral.pretty_print(value)
    assert same(dral.parse_text(text), value)
    # Every line one space less deep than written, then every other line three more.
    shifted = [line[1:] if line.startswith(" ") else line for line in text.split("\n")]
    assert same(dral.parse_text("\n".join(shifted)), value)
    jagged = [("   " if i % 2 else "") + line for i, line in enumerate(shifted)]
    assert same(dral.parse_text("\n".join(jagged)), value)


# A long text is read with the cyclic collector paused (a short one is not worth the pause): no
# collection falls into the call, and the collector is left as the caller had it.
@pytest.mark.parametrize("enabled", [True, False])
@pytest.mark.parametrize("items", [3, 5000])
def test_reading_leaves_the_collector_as_it_was(enabled, items):
    import gc

    expected = [[i] for i in range(items)]
    text = dral.pretty_print(expected)
    collections = []
    callback = lambda phase, info: collections.append(phase)  # noqa: E731
    (gc.enable if enabled else gc.disable)()
    gc.callbacks.append(callback)
    try:
        parsed = dral.parse_text(text)
        still_enabled = gc.isenabled()
    finally:
        gc.callbacks.remove(callback)
        gc.enable()
    assert parsed == expected and still_enabled is enabled
    if len(text) >= 4096:
        assert collections == []
