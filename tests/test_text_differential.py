"""parse_text and pretty_print against their Value-tree counterparts: on every input, valid or
not, both give the same value or text, or the same exception type and message."""

import ctypes
import decimal
import math
import random
import re
import struct
import sys

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import dral
from helpers import nested_list, outcome, same
from strategies import MAYBE_VALID, SCALARS, TEXT, WITH_NAN, json_like


def assert_paths_agree(text):
    direct = outcome(dral.parse_text, text)
    reference = outcome(lambda t: dral.parse_text_value(t).as_python(), text)
    assert same(direct, reference) and type(direct[1]) is type(reference[1])  # values or errors


# Punctuation, keywords, escapes, comments, non-ASCII blanks and letters: edits hit every branch.
PIECES = st.sampled_from(
    ["{", "}", "[", "]", ";", ":", ",", '"', "\\", "\\n", "\\q", "/*", "*/", "//", "::x", "\n", " ",
     "\t", "\u3000", "\u2028", "é", "\U0001f600", "a", "_", "1", "-", "+", ".", "e", "E", "null",
     "true", "NaN", "inf", "-inf", "b64#", "AQ==", "=", "\x00", "99999999999999999999"]
)


@st.composite
def mutated_texts(draw):
    text = dral.pretty_print(draw(WITH_NAN), indent=draw(st.integers(0, 3)))
    for _ in range(draw(st.integers(1, 4))):
        op = draw(st.sampled_from(["insert", "delete", "replace", "truncate"]))
        pos = draw(st.integers(0, len(text)))
        if op == "insert":
            text = text[:pos] + draw(PIECES) + text[pos:]
        elif op == "delete":
            text = text[:pos] + text[pos + draw(st.integers(1, 3)):]
        elif op == "replace":
            text = text[:pos] + draw(PIECES) + text[pos + 1:]
        else:
            text = text[:pos]
    return text


GARBAGE = st.lists(PIECES, max_size=16).map("".join) | st.text(max_size=24)


@given(WITH_NAN, st.integers(0, 8))
def test_valid_texts_read_the_same_and_round_trip(value, indent):
    text = dral.pretty_print(value, indent=indent)
    assert_paths_agree(text)
    assert same(dral.parse_text(text), value)


@given(mutated_texts())
@example('{a: "x\\qy"; "b\\"": [1 2; 3,];}')
@example("{é: 1; _é2: [NaN::f]; a\u00e9b: b64#AQ==;}")
@example("[" * 4097)
@example("[" * 200 + "]" * 200)
@example('{"k": 1}')
def test_mutated_texts_fail_or_read_the_same(text):
    assert_paths_agree(text)


@given(GARBAGE)
def test_garbage_fails_or_reads_the_same(text):
    assert_paths_agree(text)


# pretty_print writes Python objects straight to text, the reference through a Value tree.
native = dral._dral_native


def assert_writers_agree(value, indent=2):
    direct = outcome(lambda v: dral.pretty_print(v, indent=indent), value)
    assert direct == outcome(lambda v: native._pretty_print_reference(v, indent=indent), value)
    return direct


Count, Text, Ratio = (type(name, (base,), {}) for name, base in [("Count", int), ("Text", str), ("Ratio", float)])


SUBCLASSED = st.sampled_from([Count(3), Count(-2**40), Text("é"), Text("a b"), Ratio(2.5), True, (1, "x")])


@settings(max_examples=300)
@given(MAYBE_VALID | json_like(SCALARS | SUBCLASSED | st.just(float("inf")) | st.just(-0.0), keys=TEXT | st.sampled_from(["_a1", "1a", "é", "a-b", ""])),
       st.integers(0, 3))
def test_pretty_print_matches_reference(value, indent):
    assert_writers_agree(value, indent)


def self_containing():
    items = [1]
    items.append(items)
    return items


@pytest.mark.parametrize("value", [
    nested_list(4096), nested_list(4097), nested_list(4096, 1), [nested_list(4095, 1)], {"k": nested_list(4096)},
    self_containing(), [2**63], ["\ud800"], {1: 2}, [{"a": {1}}],
    [1, 2, 3, 4, 5, 6, 7, 8], [1, 2, 3, 4, 5, 6, 7, 8, 9], [b"x"], [[]], [{}],
    [None, True, -1, 1.0, "s", Count(1), Ratio(0.5), Text("t")],
    # Floats are written in runs and two at a time, over lines and on one line, the non-finite apart.
    [1.5, float("nan"), 2.5, float("inf"), -0.0, 1e300, 5e-324, 3.0, 0.1],
    {"k": [[0.1, 0.2, 0.3, 1, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1e22]]},
    [float("-inf"), 1.0, 2.0, float("nan")], [0.5, 0.25, 0.125], [0.5, "x", 0.25, 0.75, Ratio(1.5), 2.0],
    [i / 7 for i in range(65)] + [Ratio(0.5), float("nan")] + [1e-7] * 33 + [None],
    # So are ints, but those past 64 bits and subclasses, bools included.
    list(range(-20, 50)) + [2**63, Count(7), True, -2**63, 2**64 - 1, 0] + [10**18] * 33, [2**64] * 10,
])
def test_pretty_print_edges_match_reference(value):
    assert_writers_agree(value)


def positional(number):
    """The notation of a finite float, from Python's own shortest digits (repr) without exponent."""
    text = format(decimal.Decimal(repr(number)), "f")
    return text if "." in text else text + ".0"


# Subnormals (the tiniest have one digit), the smallest normal and the gap below it, powers of two
# (a narrower gap below than above), integers either side of 2^53, ties, the largest value.
FLOAT_EDGES = [0.0, -0.0, 1e15, 1e16, 1e21, 1e23, 9007199254740993.0, 2.0**53, 2.0**53 + 2, 2.0**60, 2.0**64,
               1e-4, 1e-5, 5e-324, 1e-323, 1.5e-323, 1e-322, 2.225073858507201e-308, 2.2250738585072014e-308,
               2.0**-1022 + 5e-324, 2.0**-1000, 2.0**1000, 4503599627370496.5, 0.3, 1.7976931348623157e308,
               0.1 + 0.2, 123456789012345680.0, 5e-310]


@given(st.floats(allow_nan=False, allow_infinity=False))
def test_floats_are_written_with_their_shortest_digits_and_no_exponent(number):
    assert dral.pretty_print(number) == positional(number)
    assert dral.pretty_print([number]) == "[" + positional(number) + "]"


def many_doubles():
    """Seeded doubles over every exponent: random bit patterns, each binary exponent's least, greatest
    and a random significand (subnormals included), powers of ten and their neighbours, short decimals,
    and the edges above."""
    rng = random.Random(20261208)
    bits = [rng.getrandbits(64) for _ in range(40000)]
    bits += [exponent << 52 | fraction for exponent in range(2047)
             for fraction in (0, 1, 2**52 - 1, rng.getrandbits(52))]
    numbers = [struct.unpack("<d", struct.pack("<Q", b))[0] for b in bits]
    for k in range(-323, 309):
        power = float(f"1e{k}")
        numbers += [power, math.nextafter(power, 0), math.nextafter(power, math.inf)]
    numbers += [rng.randrange(10**rng.randrange(1, 18)) / 10**rng.randrange(0, 20) for _ in range(20000)]
    numbers += FLOAT_EDGES
    numbers = [n for n in numbers if math.isfinite(n)]
    return numbers + [-n for n in numbers]


def debug_form(number):
    """Python's repr with the exponent written bare: "1e16", "1.5e-7"."""
    return re.sub(r"e([+-])0*(\d)", lambda m: "e" + m.group(1).replace("+", "") + m.group(2), repr(number))


def test_many_doubles_are_written_as_pythons_shortest_digits():
    numbers = many_doubles()
    written = dral.pretty_print(numbers, indent=0).splitlines()[1:-1]
    assert written == [positional(n) + "," for n in numbers[:-1]] + [positional(numbers[-1])]
    debug = [repr(dral.to_value(n)) for n in numbers[::7]]
    assert debug == [f'DralValue(kind="float", value=Float({debug_form(n)}))' for n in numbers[::7]]


def wider_than_needed(text, max_char):
    """A str of `text` stored wider than its characters need, as a C extension may make one."""
    api = ctypes.pythonapi
    api.PyUnicode_New.restype, api.PyUnicode_New.argtypes = ctypes.py_object, [ctypes.c_ssize_t, ctypes.c_uint32]
    kind = 1 if max_char < 256 else 2 if max_char < 65536 else 4
    made = api.PyUnicode_New(len(text), max_char)
    data = id(made) + sys.getsizeof(made) - (len(text) + 1) * kind  # a compact str's characters
    ctypes.memmove(data, text.encode({1: "latin-1", 2: "utf-16-le", 4: "utf-32-le"}[kind]), len(text) * kind)
    return made


@pytest.mark.parametrize("text, max_char", [("éa", 0xFFFF), ("ab", 0x10FFFF), ("é", 0x10FFFF), ("ab", 0xFF)])
def test_strs_wider_than_their_characters_give_the_narrowest_text(text, max_char):
    odd = wider_than_needed(text, max_char)
    for value, plain in (([odd, "x"], [text, "x"]), ({odd: 1}, {text: 1}), (odd, text)):
        kind, written = assert_writers_agree(value)
        expected = dral.pretty_print(plain)  # equal, and as narrow as the interpreter makes it
        assert written == expected and sys.getsizeof(written) == sys.getsizeof(expected)


@st.composite
def decimal_texts(draw):
    """Decimal numbers around the edges of exact conversion: up to 20 digits, powers of ten to 30."""
    whole = draw(st.text("0123456789", min_size=1, max_size=12))
    fraction = draw(st.none() | st.text("0123456789", max_size=12))
    text = whole + ("" if fraction is None else "." + fraction)
    if draw(st.booleans()) or fraction is None:
        text += draw(st.sampled_from("eE")) + draw(st.sampled_from(["", "+", "-"])) + str(draw(st.integers(0, 30)))
    return draw(st.sampled_from(["", "-", "+"])) + text


@settings(max_examples=500)
@given(decimal_texts() | st.sampled_from(["9007199254740993.0", "9007199254740992.5", "1e22", "1e23", "0.1e-22",
                                          "123456789012345678.0", "4.35e-7", "-0.0", "0e400", "1.e5"]))
def test_numbers_read_as_the_interpreter_rounds_them(text):
    expected = float(text)
    for read in (dral.parse_text, lambda t: dral.parse_text_value(t).value):
        got = read(text)
        assert type(got) is float and struct.pack("<d", got) == struct.pack("<d", expected), text


@pytest.mark.parametrize("at", range(0, 40, 3))
def test_escapes_anywhere_in_long_strings_read_back(at):
    """String bodies are scanned sixteen bytes at a time for a quote or a backslash."""
    for special in ['"', "\\", "\n", "\\q", '\\"']:
        text = "a" * at + special + "é" * (at % 5) + "b" * (40 - at)
        assert dral.parse_text(dral.pretty_print([text, {text: text}])) == [text, {text: text}]
        raw = '"' + "x" * at + special + "y" * (40 - at) + '"'  # as written, unknown escapes kept
        assert_paths_agree(raw)


ESCAPED = {"\n": "\\n", "\r": "\\r", "\t": "\\t", '"': '\\"', "\\": "\\\\"}
NARROW_PIECES = [*ESCAPED, "a", "x" * 15, "\x01", "é"]


# Escapes alone, in pairs and in runs, at any place of the blocks of sixteen and of the tail that
# strings are written in, in strings of one, two and four bytes a character.
@settings(max_examples=400)
@given(st.lists(st.sampled_from(NARROW_PIECES), max_size=60).map("".join)
       | st.lists(st.sampled_from([*NARROW_PIECES, "€", "😀"]), max_size=60).map("".join))
def test_strings_are_written_with_exactly_their_escapes(text):
    assert dral.pretty_print(text) == '"' + "".join(ESCAPED.get(c, c) for c in text) + '"'


@pytest.mark.parametrize("special", ['"', "\\", "\n", "\t", "\r", "-", " "])
def test_writer_scans_every_short_length_to_its_last_byte(special):
    """Strings and keys are looked at in words from both ends when shorter than sixteen bytes, and
    in blocks of sixteen, the last overlapping, when longer: a character at any place is seen."""
    for length in range(1, 36):
        for at in range(length):
            text = "k" * at + special + "_" * (length - at - 1)
            written = dral.pretty_print({text: text, "x" + text[1:]: 0})
            assert dral.parse_text(written) == {text: text, "x" + text[1:]: 0}, (length, at)
            bare_key = re.fullmatch(r"[A-Za-z_]\w*", text, re.ASCII) is not None
            assert written.startswith("{\n  " + (text if bare_key else '"')), (length, at)
            assert (f'"{text}";' in written) == (special in "- "), (length, at)


@pytest.mark.parametrize("length", [1, 15, 16, 17, 31, 32, 33, 47])
def test_strings_read_as_ascii_only_when_no_byte_is_wide(length):
    """The scan for a string's end also tells whether its body is ASCII: a wide character in an
    earlier block, in the block of the quote, past the quote or in the short tail."""
    for at in sorted({0, length // 2, length - 1}):
        wide = "x" * at + "é" + "y" * (length - at - 1)
        strings = [wide, "z" * length, wide[:-1] + '"', "a" * length + "\n" + wide]
        value = [*strings, {"k": "q" * length}, ["é" * length]]
        got = dral.parse_text(dral.pretty_print(value))
        assert same(got, value) and all(sys.getsizeof(s) == sys.getsizeof(s[:1] + s[1:]) for s in got[:4])
        assert_paths_agree(dral.pretty_print(value))


# The writer widens the text written so far when a string needs it: ASCII to Latin-1 to UTF-8.
FILLER = ["x" * 60] * 300  # text past the writer's first allocations


# A text after a short one is written in the buffer that one left; after a long one, in a str of
# its own.
@pytest.mark.parametrize("previous", [None, ["é" * (2 << 20)]], ids=["after_short", "after_long"])
@pytest.mark.parametrize("late", ["plain", "é", "ÿ", "€", "😀"])
@pytest.mark.parametrize("early", ["plain", "à", "Ω"])
def test_text_moving_to_wider_strings_keeps_every_character(early, late, previous):
    assert dral.parse_text(dral.pretty_print(previous)) == previous
    keys = {key: key for key in ["é", "a²", "²a", "×", "ªb", "ÿ_1"]}  # bare or quoted by Latin-1's classes
    value = {"start": [early, FILLER], **keys, "end": [FILLER, late, FILLER, late]}
    kind, written = assert_writers_agree(value)  # the narrowest str, as the interpreter makes it
    assert sys.getsizeof(written) == sys.getsizeof(written[:1] + written[1:])
    assert kind == "value" and dral.parse_text(written) == value


@pytest.mark.parametrize("value", ["", "é", "€", "😀", ["é"], {"é": "😀"}, [b"\xe9"], "é" * 10_000])
def test_strings_alone_or_first_keep_their_width(value):
    kind, written = assert_writers_agree(value)
    assert kind == "value" and sys.getsizeof(written) == sys.getsizeof(written[:1] + written[1:])


# Control characters without an escape of their own are written as they are, at any place in
# short and long strings, before and after ones that have one.
@pytest.mark.parametrize("length", [3, 16, 40, 64, 65, 150])
@pytest.mark.parametrize("char", ["\x00", "\x01", "\x08", "\x0b", "\x0c"])
def test_control_characters_without_escapes_stand_as_they_are(char, length):
    plain = [char * 2 + "a" * length, "a" * length + char]
    value = {text: text for text in [*plain, "b" * (length // 2) + char + '"' + "c" * length + char]}
    kind, written = assert_writers_agree(value)
    assert kind == "value" and all(f'"{text}"' in written for text in plain)


# Strings of two or four bytes a character are set into the text at the end, escaped in place.
# They are read sixteen characters at a time, the last sixteen over some read before: an escape
# among those counts once, and a block may be escapes only.
WIDE = ["€", "😀", "日本語", "Ω\n\"\\\t\r", "a€b" * 20, "😀\\x" * 5, *("€" * at + '"' + "😀" * 3 for at in (0, 3, 4, 7, 15, 16)),
        *("€" * at + "\n" + "€" * (length - at) for length in (10, 20) for at in (1, 5, 8, 15, 16, 20) if at <= length), *("😀" * at + "\t" + "😀" * (17 - at) for at in (1, 2, 16, 17)),
        "€" + "\n" * 40, "😀" + '"' * 16]


@pytest.mark.parametrize("wide", WIDE)
@pytest.mark.parametrize("where", ["value", "key", "both"])
def test_wide_strings_are_set_in_place_with_their_escapes(wide, where):
    value = {"a": ["x", wide if where != "key" else "y", "é"],
             wide if where != "value" else "k": {"n": 1, wide + "_": [2, wide]}, "z": "ÿ"}
    kind, written = assert_writers_agree(value)
    assert kind == "value" and dral.parse_text(written) == value


# A long text with wide strings is joined a part at a time; the widest string may come in a
# later part, and the text before may have been written in a str or in a buffer, by what the
# last text was.
LONG = ["x" * 50] * 3000


@pytest.mark.parametrize("previous", [None, "€" * (2 << 20), "x" * (2 << 20)], ids=["short", "wide", "long"])
@pytest.mark.parametrize("first, later", [("€", "😀"), ("😀", "€"), ("€", "é"), ("é", "€"), ("€", "€\ud800"),
                                          ("odd", "x"), ("odd", "€"), ("odd", "😀")])
def test_long_texts_with_wide_strings_are_joined_whole(previous, first, later):
    dral.pretty_print(previous)
    first = wider_than_needed("é", 0xFFFF) if first == "odd" else first
    value = {"a": [first, LONG], first: LONG, "b": [later, LONG, {later: [later] * 3}], "c": LONG, "z": later}
    kind, *written = assert_writers_agree(value)
    if "\ud800" in later:
        assert kind == "error"
    else:
        assert kind == "value" and sys.getsizeof(written[0]) == sys.getsizeof(written[0][:1] + written[0][1:])


# A text that grows long in the buffer goes on in a str of its own; a character past ASCII or a
# wide string may come before that, or after it, in the str.
HALF_LONG = ["x" * 50] * 12_000  # two of these are past the length where the text moves


@pytest.mark.parametrize("previous", [None, "€" * (2 << 20), "x" * (2 << 20)], ids=["short", "wide", "long"])
@pytest.mark.parametrize("early", ["plain", "é"])
@pytest.mark.parametrize("late", ["plain", "é", "€", "😀"])
def test_texts_growing_long_keep_every_character(previous, early, late):
    dral.pretty_print(previous)
    value = {"a": [early, HALF_LONG], "b": HALF_LONG, "c": [late, HALF_LONG], "z": late}
    kind, written = assert_writers_agree(value)
    assert kind == "value" and sys.getsizeof(written) == sys.getsizeof(written[:1] + written[1:])


@pytest.mark.parametrize("value", [["€", "\ud800"], ["x", "€\udfff"], {"€\ud800": 1}, ["😀\ud83d"],
                                   ["€" * 8 + "\udc00"], ["\udbff" + "€" * 8], {"k": "é" + "😀" * 9 + "\udc00"}])
def test_surrogates_in_wide_strings_fail_as_the_reference_does(value):
    assert assert_writers_agree(value)[0] == "error"
