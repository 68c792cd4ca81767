"""The fast paths of dumps/loads against the reference paths through the value tree: both must
agree on every input, giving the same bytes or value, or the same exception type and message;
valid values read back as themselves, and damaged bytes fail only with decode errors."""

import datetime
import enum
import sys
import sysconfig

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import dral
from helpers import nested_list, outcome, same
from strategies import BYTE_INPUTS, COMPRESSION, MAYBE_VALID, PYTHON_OBJECTS, WITH_NAN, Cell, SlotCell

native = dral._dral_native


def assert_same_outcome(fast, reference):
    if fast[0] == "value" and reference[0] == "value":
        assert same(fast[1], reference[1])
    else:
        assert fast == reference


@settings(max_examples=300)
@given(MAYBE_VALID, COMPRESSION, st.booleans(), st.booleans())
@example([{1}, nested_list(200)], "bad", False, False)
@example({"k": [2**64]}, "LZ4", True, True)
@example(nested_list(129), "bad", False, False)
@example(["\ud800", {2: 3}], None, False, False)
def test_dumps_matches_reference(value, compression, dedup, sort_keys):
    options = {"compression": compression, "dedup": dedup, "sort_keys": sort_keys}
    fast = outcome(dral.dumps, value, **options)
    assert fast == outcome(native._dumps_reference, value, **options)


@given(WITH_NAN, st.booleans(), st.booleans())
def test_valid_values_round_trip_and_encode_identically(value, dedup, sort_keys):
    data = dral.dumps(value, dedup=dedup, sort_keys=sort_keys)
    assert data == native._dumps_reference(value, dedup=dedup, sort_keys=sort_keys)
    back = dral.loads(data)
    assert same(back, native._loads_reference(data)) and same(back, dral.loads(data, strict=False))
    assert same(dral.DralDecoder(data).decode_all(), [back])
    # same() also tells key order, NaN, int from bool and -0.0 apart; sorted keys are written again.
    assert same(back, value) if not sort_keys else dral.dumps(back, sort_keys=True, dedup=dedup) == data


@settings(max_examples=500)
@given(BYTE_INPUTS, st.booleans(), st.sampled_from([0, 1, 2, 3, 128]))
def test_loads_matches_reference_and_fails_only_with_decode_errors(data, strict, max_depth):
    fast = outcome(dral.loads, data, strict=strict, max_depth=max_depth)
    assert fast[0] == "value" or issubclass(fast[1], dral.DralDecodeError), fast
    assert_same_outcome(fast, outcome(native._loads_reference, data, strict=strict, max_depth=max_depth))


# Subclasses of the scalar types are written where they are met, never by replaying the whole
# value on the reference path; the bytes are those of the plain values they stand for.

Colour = enum.IntEnum("Colour", {"RED": 1, "DEEP": -(2**40)})
Flags = enum.IntFlag("Flags", {"A": 1, "B": 2})
Ratio = enum.Enum("Ratio", {"HALF": 0.5}, type=float)
Name = enum.Enum("Name", {"ADA": "Ada"}, type=str)
BigInt = type("BigInt", (int,), {})
Text = type("Text", (str,), {})
Blob = type("Blob", (bytes,), {})
SUBCLASSED = [
    (Colour.RED, 1), (Colour.DEEP, -(2**40)), (Flags.A | Flags.B, 3), (Ratio.HALF, 0.5),
    (BigInt(2**63 - 1), 2**63 - 1), (BigInt(-(2**63)), -(2**63)), (Name.ADA, "Ada"),
    (Text("é\U0001f600"), "é\U0001f600"), (Blob(b"\x00\xff"), b"\x00\xff"),
    (("a", (Colour.RED,)), ["a", [1]]),
]


@pytest.mark.parametrize("dedup", [False, True])
@pytest.mark.parametrize("sort_keys", [False, True])
def test_subclassed_scalars_write_the_plain_values(dedup, sort_keys):
    mixed = [{"k": odd, "z": [odd, "Ada"], Text("t"): i} for i, (odd, _) in enumerate(SUBCLASSED)]
    plain = [{"k": even, "z": [even, "Ada"], "t": i} for i, (_, even) in enumerate(SUBCLASSED)]
    options = {"dedup": dedup, "sort_keys": sort_keys}
    data = dral.dumps(mixed, **options)
    assert data == dral.dumps(plain, **options) == native._dumps_reference(mixed, **options)
    encoder = dral.Encoder(sort_keys=sort_keys)
    if dedup:
        encoder.enable_dedup()
    encoder.encode(mixed)
    assert encoder.finish() == data


class Point:
    def __init__(self):
        self.y, self.x, self.label = 2, [1], "p"


def dicts_of_every_table():
    """Tables with holes, of any keys, of str subclass keys, an emptied one, an instance's split
    table, and tables whose index takes one, two and four bytes a slot."""
    holes = {f"k{i}": i for i in range(40)}
    for i in range(0, 40, 3):
        del holes[f"k{i}"]
    once_any = {1: 0, "a": 1, "b": [2]}
    del once_any[1]
    emptied = {"a": 1}
    del emptied["a"]
    tables = [holes, once_any, {Text("t"): 1, "u": {"v": None}}, emptied, Point().__dict__]
    for size in (100, 200, 70_000):
        table = {f"k{i}": i for i in range(size)}
        del table["k0"], table[f"k{size // 2}"]
        tables.append(table)
    return tables


def test_writers_read_the_tables_of_every_interpreter_we_support():
    supported = (3, 10) <= sys.version_info[:2] <= (3, 13) and not sysconfig.get_config_var("Py_GIL_DISABLED")
    assert native._dict_tables_read == supported


@pytest.mark.parametrize("sort_keys", [False, True])
def test_every_dict_table_writes_as_the_reference(sort_keys):
    for table in dicts_of_every_table():
        data = dral.dumps(table, sort_keys=sort_keys)
        assert data == native._dumps_reference(table, sort_keys=sort_keys)
        items = list(table.items())
        assert list(dral.loads(data).items()) == (sorted(items) if sort_keys else items)
        assert dral.pretty_print(table) == native._pretty_print_reference(table)


@pytest.mark.parametrize("bad", [BigInt(2**64), BigInt(-(2**63) - 1), Text("\ud800"), frozenset(),
                                 enum.Enum("E", {"X": frozenset()}).X])
def test_subclassed_scalars_fail_as_on_the_reference_path(bad):
    value = [Colour.RED, {"a": [Name.ADA, bad]}]
    expected = outcome(native._dumps_reference, value)
    assert expected[0] == "error"
    assert outcome(dral.dumps, value) == expected


# Ints are read from their digits where they have at most two (30 bits each on most builds).
INT_EDGES = [0, 1, -1, 2**15 - 1, 2**15, 2**30 - 1, 2**30, -(2**30), 2**60 - 1, 2**60, -(2**60) + 1, -(2**60),
             2**62, 2**63 - 1, -(2**63)]


@pytest.mark.parametrize("n", INT_EDGES + [2**63, -(2**63) - 1, 2**64, -(2**90)])
def test_ints_at_digit_edges_match_reference(n):
    for value in (n, BigInt(n), [n, {"k": BigInt(n)}]):
        assert outcome(dral.dumps, value) == outcome(native._dumps_reference, value)
    if n in INT_EDGES:
        assert dral.loads(dral.dumps([n, BigInt(n)])) == [n, n]


# Numbers in a row are written as runs, 64 at a time; a run ends at any other value.
@given(st.lists(st.integers(-(2**63), 2**63 - 1) | st.floats() | st.sampled_from([True, None, BigInt(5), Ratio.HALF, 2**63, "s"]),
                min_size=60, max_size=200))
def test_long_lists_of_numbers_match_reference(items):
    for value in (items, [float(i) for i in range(130)] + items, list(range(-70, 70)) + items):
        assert outcome(dral.dumps, value) == outcome(native._dumps_reference, value)


# Short lists of floats are written in one piece, with the container checks of any list.
@pytest.mark.parametrize("floats", [[0.5], [1.0, -0.0], [float(i) for i in range(64)], [float(i) for i in range(65)],
                                    [1.5, Ratio.HALF], [2.5, 1]])
@pytest.mark.parametrize("depth", [1, 127, 128, 129])
def test_lists_of_floats_match_reference(floats, depth):
    value = nested_list(depth - 1, floats) if depth > 1 else floats
    assert outcome(dral.dumps, value) == outcome(native._dumps_reference, value)
    assert outcome(dral.dumps, [value, {"k": floats}]) == outcome(native._dumps_reference, [value, {"k": floats}])


# Dataclasses, dates, UUIDs, enums, container subclasses: the direct writers write those they can
# read without running Python code and leave the rest to the reference path, with the same result.
def hooked(value):
    return f"<{type(value).__name__}>"


@settings(max_examples=300)
@given(PYTHON_OBJECTS, st.booleans(), st.booleans(), st.sampled_from([None, hooked]), st.sampled_from([2, 128, 4096]))
@example([datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone(datetime.timedelta(seconds=1))), Cell("a")],
         False, False, hooked, 128)
@example(nested_list(150, Cell("deep", SlotCell({1}))), False, True, None, 4096)
def test_python_objects_encode_as_on_the_reference_path(value, dedup, sort_keys, default, max_depth):
    options = {"dedup": dedup, "sort_keys": sort_keys, "default": default, "max_depth": max_depth}
    fast = outcome(dral.dumps, value, **options)
    assert fast == outcome(native._dumps_reference, value, **options)
    encoder = dral.Encoder(sort_keys=sort_keys, default=default, max_depth=max_depth)
    if dedup:
        encoder.enable_dedup()
    assert outcome(lambda: encoder.encode(value) or encoder.finish()) == fast


@given(PYTHON_OBJECTS, st.integers(0, 4), st.sampled_from([None, hooked]))
def test_python_objects_print_as_on_the_reference_path(value, indent, default):
    text = outcome(dral.pretty_print, value, indent, default=default)
    assert text == outcome(native._pretty_print_reference, value, indent, default=default)
    if text[0] == "value":
        assert same(dral.parse_text(text[1]), dral.to_value(value, default=default).as_python())
