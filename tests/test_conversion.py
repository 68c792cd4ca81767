"""Conversion between Python objects and Dral values, through every converting entry point."""

import collections
import decimal
import enum
import io
import math
import string
import struct
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from helpers import data_stream, nested_list, payload_of, same

DralTypeError, DralEncodeError = dral.DralTypeError, dral.DralEncodeError

CONVERTERS = {
    "dumps": dral.dumps,
    "dumps_sorted_dedup": lambda obj: dral.dumps(obj, sort_keys=True, dedup=True),
    "encode": dral.encode,
    "dump": lambda obj: dral.dump(obj, io.BytesIO()),
    "encode_to_file": None,  # writes below tmp_path, see the fixture
    "Encoder.encode": lambda obj: dral.Encoder().encode(obj),
    "_dumps_reference": dral._dral_native._dumps_reference,
}


@pytest.fixture(params=sorted(CONVERTERS))
def convert(request, tmp_path):
    return CONVERTERS[request.param] or (lambda obj: dral.encode_to_file(obj, tmp_path / "out.dral"))


Colour = enum.IntEnum("Colour", {"RED": 7})
MyFloat, MyStr, MyBytes = type("MyFloat", (float,), {}), type("MyStr", (str,), {}), type("MyBytes", (bytes,), {})
MyList, MyDict = type("MyList", (list,), {}), type("MyDict", (dict,), {})
Point = collections.namedtuple("Point", "x y")

ROUND_TRIPS = [
    None, True, False, 0, 1, -1, 127, 128, 2**63 - 1, 2**63, 2**64 - 1, -(2**63), 0.0, -0.0, 1.5, -2.5e-300, float("inf"),
    float("-inf"), 5e-324, "", "a", "é", "\U0001f600", "\x00", "a" * 1000, b"", b"\x00\xff", bytes(range(256)),
    [], {}, [None, [True, [1.0, ["x"]]]], {"b": 1, "a": {"z": [], "y": {}}}, {"": b""}, {"\U0001f600": "\u20ac"},
]


@pytest.mark.parametrize("value", ROUND_TRIPS, ids=repr)
@pytest.mark.parametrize("options", [{}, {"dedup": True}, {"sort_keys": True}], ids=["plain", "dedup", "sorted"])
def test_round_trip_keeps_value_and_type(value, options):
    back = dral.loads(dral.dumps(value, **options))
    sorted_keys = "sort_keys" in options  # else same(): also key order, -0.0, bool vs int
    assert (back == value and type(back) is type(value)) if sorted_keys else same(back, value)


# Each width a str can take, the wide character before, inside and after 8-byte ASCII runs.
WIDE_TEXTS = [
    before + char + after
    for char in ["", "\x80", "\xff", "\u0100", "\u20ac", "\uffff", "\U00010000", "\U0010ffff"]
    for before, after in [("", ""), ("a" * 7, "b" * 9), ("a" * 8, ""), ("", "z" * 16)]
] + ["\xe9\u20ac\U0001f600" * 5 + "q" * 11] + [
    # Long texts are read another way than short ones.
    "a" * 300 + char + "b" * 9
    for char in ["\xff", "\u0100", "\u0416", "\U0010ffff"]
] + [
    # Written text becomes a str unmeasured; ASCII runs around wide characters copy 16 or 8 at once.
    "a" * before + char + "b" * after
    for char in ["\xe9", "\u0416", "\U0001f600"]
    for before, after in [(15, 0), (16, 1), (17, 31), (32, 33), (0, 48), (100, 7)]
]


def read_by_every_reader(value):
    return {
        "loads": dral.loads(dral.dumps(value)),
        "loads by reference": dral.loads(dral.dumps([value, value], dedup=True))[1],
        "parse_text": dral.parse_text(dral.pretty_print(value)),
        "loads_value": dral.loads_value(dral.dumps(value)).as_python(),
        "_loads_reference": dral._dral_native._loads_reference(dral.dumps(value)),
    }


@pytest.mark.parametrize("text", WIDE_TEXTS, ids=ascii)
def test_text_of_every_width_is_written_and_read_back_exactly(text):
    value = [text, {text: text}]
    for reader, back in read_by_every_reader(value).items():
        # A str stored wider than it needs compares unequal; isascii() reads the ASCII flag.
        assert back == value, reader
        assert [back[0].isascii(), *(s.isascii() for s in back[1].popitem())] == [text.isascii()] * 3, reader
    for value, expected in ((text, f'"{text}"'), ([text, "x" * 40], f'["{text}", "{"x" * 40}"]')):
        written = dral.pretty_print(value)  # as narrow as the interpreter would make it
        assert written == expected and sys.getsizeof(written) == sys.getsizeof(expected)
        assert dral.parse_text(written) == value


# Readers reuse the str of a text seen before, or the interpreter's own for one ASCII character,
# and must never hand out one that merely resembles it: many texts of one length differing in a
# few bytes, more than any cache has room for.
def near_keys():
    yield from map(chr, range(0x80))
    letters = [chr(c) for c in range(0x20, 0x7F)]
    yield from (a + b for a in letters for b in letters)
    yield from ("a" + a + b for a in letters for b in letters)
    for length in (4, 5, 7, 8, 9, 16, 17, 64):
        for i in range(3000):
            digits = f"{i:04d}"
            yield digits + "a" * (length - 4)
            yield "a" * (length - 4) + digits


NEAR_KEYS = list(dict.fromkeys(near_keys()))


def test_keys_that_look_alike_stay_apart():
    value = dict(zip(NEAR_KEYS, NEAR_KEYS))
    for _ in range(2):  # the second read finds every text already seen
        for reader, back in read_by_every_reader(value).items():
            assert list(back.items()) == list(value.items()), reader


# A key read again is the str read before: numbered keys (item1, item2, ...) differ only in their
# last characters, and each keeps a place of its own among the shared ones.
@pytest.mark.parametrize("length", [2, 4, 5, 7, 8, 9, 16, 17, 64])
def test_keys_differing_only_at_their_end_are_shared_between_dicts(length):
    keys = ["k" * (length - 1) + c for c in string.ascii_letters[:40]]
    value = [dict.fromkeys(keys, 0), dict.fromkeys(keys, 1)]
    for reader, read in (("loads", lambda: dral.loads(dral.dumps(value))),
                         ("parse_text", lambda: dral.parse_text(dral.pretty_print(value)))):
        first, second = read()
        shared = sum(a is b for a, b in zip(first, second))
        # A few keys may meet by chance; all of them meeting is the fault.
        assert shared >= 25, (reader, shared)


NAN = b"\x04" + struct.pack("<d", math.nan)


@pytest.mark.parametrize("value, payload, back", [
    (True, b"\x01\x01", True), (1, b"\x02\x01", 1), (-1, b"\x03\x01", -1),
    (Colour.RED, b"\x02\x07", 7), (MyFloat(1.0), b"\x04" + struct.pack("<d", 1.0), 1.0),
    (math.nan, NAN, math.nan),
    ({"k": [math.nan]}, b"\x06\x01\x01k\x08\x01" + NAN + b"\x09\x07", {"k": [math.nan]}),
    (MyStr("s"), b"\x05\x00\x01s", "s"), (MyBytes(b"z"), b"\x05\x01\x01z", b"z"),
    ((1, ("x",)), b"\x08\x02\x02\x01\x08\x01\x05\x00\x01x\x09\x09", [1, ["x"]]),
    ({"t": ()}, b"\x06\x01\x01t\x08\x00\x09\x07", {"t": []}),
], ids=repr)
def test_conversion_picks_the_value_kind(value, payload, back):
    data = dral.dumps(value)
    assert payload_of(data) == payload
    assert same(dral.loads(data), back)


OddName = type("OddName", (type,), {"__name__": property(lambda cls: 12345)})


CANNOT = "cannot convert {} to Dral value"
KEYS = "dict keys must be strings"
FAILURES = [
    (2**64, OverflowError, None), (-(2**63) - 1, OverflowError, None), ([1, 2**70], OverflowError, None),
    *[(value, DralTypeError, CANNOT.format(name) + where) for value, name, where in [
        (set(), "set", ""), (frozenset([1]), "frozenset", ""), (bytearray(b"x"), "bytearray", ""),
        (memoryview(b"x"), "memoryview", ""), (decimal.Decimal(1), "Decimal", ""), (object(), "object", ""),
        (OddName("Odd", (), {})(), 12345, ""), (1j, "complex", ""), ({"a": [1, {2}]}, "set", " at $.a[1]"),
        ([MyDict(k=[MyList([Point(1, {3})])])], "set", " at $[0].k[0][0][1]")]],
    ({1: 2}, DralTypeError, KEYS), ({b"k": 2}, DralTypeError, KEYS),
    ({"ok": {None: 1}}, DralTypeError, KEYS + " at $.ok"),
    ("\ud800", UnicodeEncodeError, None), ({"k": "a\udfffb"}, UnicodeEncodeError, None),
]


@pytest.mark.parametrize("value, exc, message", FAILURES, ids=repr)
def test_unconvertible_objects(convert, value, exc, message):
    with pytest.raises(exc) as info:
        convert(value)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_sort_keys_sorts_every_dict_by_code_point():
    value = {"b": 1, "a": {"y": 2, "x": [{"d": 0, "c": 0}]}, "ab": 3, "\U00010000": 4, "\uffff": 5, "": 6}
    back = dral.loads(dral.dumps(value, sort_keys=True))
    assert list(back) == ["", "a", "ab", "b", "\uffff", "\U00010000"]
    assert list(back["a"]) == ["x", "y"] and list(back["a"]["x"][0]) == ["c", "d"]


# Keys from a few characters sharing prefixes, in all lengths around the 8 bytes compared at once.
@given(st.dictionaries(st.text(st.sampled_from("ab\x00\xe9\u20ac\U0001f600"), max_size=12), st.none(), max_size=60))
def test_sort_keys_orders_any_number_of_keys_by_code_point(value):
    data = dral.dumps({"outer": value}, sort_keys=True)
    assert list(dral.loads(data)["outer"]) == sorted(value)
    assert data == dral._dral_native._dumps_reference({"outer": value}, sort_keys=True)


IdentityKey = type("IdentityKey", (str,), {"__hash__": object.__hash__,
                                           "__eq__": lambda self, other: self is other})


@pytest.mark.parametrize("size", [3, 9, 40])
def test_sort_keys_keeps_the_order_of_equal_keys(size):
    # str subclasses can give a dict several keys of one text; they stay in the dict's order.
    value = {IdentityKey("same") if i % 3 == 0 else f"k{i:02}": i for i in range(size)}
    data = dral.dumps(value, sort_keys=True)
    assert data == dral._dral_native._dumps_reference(value, sort_keys=True)
    stream = dral.Encoder(sort_keys=True)
    stream.encode(value)
    assert stream.finish() == data
    # Each "same" key on the wire is followed by its value: tag 2 and a one-byte varint.
    assert [after[1] for after in data.split(b"\x04same")[1:]] == list(range(0, size, 3))


def test_repeated_key_on_the_wire_keeps_first_position_and_last_value():
    payload = b"\x06\x03" + b"\x01a\x02\x01" + b"\x01b\x02\x02" + b"\x01a\x02\x03" + b"\x07"
    back = dral.loads(data_stream(payload))
    assert back == {"a": 3, "b": 2} and list(back) == ["a", "b"]


# Conversion from Python must never crash, whatever the shape of the object.
@pytest.mark.parametrize("make", [
    lambda: (items := [1]).append(items) or items, lambda: (obj := {}).update(me=[obj]) or obj,
    lambda: nested_list(100_000), lambda: nested_list(1_000_000, {"k": 1}),
], ids=["self-list", "self-dict", "100k-deep", "1M-deep"])
def test_cycles_and_very_deep_nesting_raise_cleanly(convert, make):
    with pytest.raises((RecursionError, DralEncodeError)) as info:
        convert(make())
    if isinstance(info.value, DralEncodeError):
        assert type(info.value) is DralEncodeError
        assert info.match(r"^Nesting depth (\d+) exceeds maximum \1 at \$(\[\d\]|\.me)+$")


@pytest.mark.parametrize("name", ["dumps", "encode", "Encoder.encode", "_dumps_reference"])
def test_depth_limit_is_128_containers(name):
    convert = CONVERTERS[name]
    convert(nested_list(128, 0))
    convert([{"k": nested_list(126)}])
    for too_deep, where in ((nested_list(129), "$" + "[0]" * 128), ([{"k": nested_list(127)}], "$[0].k" + "[0]" * 126)):
        with pytest.raises(DralEncodeError) as info:
            convert(too_deep)
        assert type(info.value) is DralEncodeError
        assert str(info.value) == f"Nesting depth 128 exceeds maximum 128 at {where}"


def test_item_limit_applies_per_container():
    dral.dumps([None] * 1_000_000)
    for too_many in ([None] * 1_000_001, {"k": [0] * 1_000_001}, dict.fromkeys(map(str, range(1_000_001)))):
        with pytest.raises(DralEncodeError, match=r"^Item count 1000001 exceeds maximum 1000000$"):
            dral.dumps(too_many)
