"""DralValue views: properties, key lookup, membership, repr, and the functions that make them."""

import contextlib
import enum
import gc
import math
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import dral
from helpers import nested_list, same, traced_growth
from strategies import WITH_NAN

BAD_KEY = "DralValue keys must be str or int"
INF = float("inf")
Color, Name = enum.IntEnum("Color", {"RED": 1}), type("Name", (str,), {})


# flags: is_null, is_array, is_object, is_scalar
@pytest.mark.parametrize("obj, kind, value, flags", [
    (None, "null", None, "n--s"), (True, "bool", True, "---s"), (1, "uint", 1, "---s"),
    (-1, "int", -1, "---s"), (Color.RED, "uint", 1, "---s"), (1.5, "float", 1.5, "---s"),
    ("s", "str", "s", "---s"), (b"b", "bytes", b"b", "---s"), ((1,), "array", None, "-a--"),
    ([1], "array", None, "-a--"), ({"a": 1}, "object", None, "--o-"),
])
def test_kind_value_and_flags(obj, kind, value, flags):
    view = dral.to_value(obj)
    assert (view.kind, view.is_null, view.is_array, view.is_object, view.is_scalar) == (
        kind, flags[0] == "n", flags[1] == "a", flags[2] == "o", flags[3] == "s")
    assert same(view.value, value)
    assert same(view.as_python(), value if view.is_scalar else list(obj) if isinstance(obj, tuple) else obj)
    with pytest.raises(AttributeError):
        view.kind = "null"


@pytest.mark.parametrize("obj, keys, values, items, length", [
    ({"b": 1, "a": [2]}, ["b", "a"], [1, [2]], [("b", 1), ("a", [2])], 2),
    ([3, {"x": None}], [], [3, {"x": None}], [], 2),
    ("abc", [], [], [], 0), (None, [], [], [], 0),
])
def test_keys_values_items_iteration_and_len(obj, keys, values, items, length):
    view = dral.to_value(obj)
    assert view.keys() == keys
    assert [v.as_python() for v in view.values()] == values
    assert [(k, v.as_python()) for k, v in view.items()] == items
    # As a dict: an object yields its keys; an array its items; a scalar nothing.
    iterated = list(view)
    assert (iterated if view.is_object else [v.as_python() for v in iterated]) == (keys if view.is_object else values)
    assert len(view) == length and bool(view) == (length > 0)


ARRAY, OBJECT, BOTH = [10, 20, 30], {"a": 1}, "get raises too"


# found: what both get and [] return; else [] raises error, and get returns None (or raises: BOTH)
@pytest.mark.parametrize("obj, key, found, error", [
    (ARRAY, 0, 10, None), (ARRAY, -1, 30, None), (ARRAY, -3, 10, None), (ARRAY, False, 10, None),
    (ARRAY, True, 20, None), (ARRAY, Color.RED, 20, None),
    (ARRAY, 3, None, (IndexError, "3")), (ARRAY, 99, None, (IndexError, "99")),
    (ARRAY, "a", None, (KeyError, "'a'")), (["a"], "a", None, (KeyError, "'a'")),
    (OBJECT, "a", 1, None), (OBJECT, Name("a"), 1, None), (OBJECT, 0, None, (IndexError, "0")),
    (OBJECT, -1, None, (IndexError, "0")), (OBJECT, "b", None, (KeyError, "'b'")),
    (OBJECT, "\ud800", None, (KeyError, repr("\ud800"))),
    (5, 0, None, (IndexError, "0")), (5, "a", None, (KeyError, "'a'")),
    *[(obj, key, BOTH, (TypeError, BAD_KEY)) for obj, key in [
        (ARRAY, -4), (OBJECT, -2), (5, -1), (OBJECT, 1.5), (ARRAY, None), (ARRAY, b"a")]],
    (ARRAY, 2**63, BOTH, (OverflowError, None)), (ARRAY, -(2**63) - 1, BOTH, (OverflowError, None)),
])
def test_lookup(obj, key, found, error):
    view = dral.to_value(obj)
    if error is None:
        assert view.get(key).as_python() == found and view[key].as_python() == found
        return
    if found is not BOTH:
        assert view.get(key) is None and view.get(key=key) is None
    for lookup in (view.__getitem__, view.get) if found is BOTH else (view.__getitem__,):
        with pytest.raises(error[0]) as info:
            lookup(key)
        assert error[1] is None or str(info.value) == error[1]
        if error[0] is KeyError:
            assert info.value.args == (key,)


def test_duplicate_keys_select_the_first_entry():
    view = dral.parse_text_value("{a: 1; b: 2; a: 3;}")
    assert (view["a"].value, view.get("a").value, len(view)) == (1, 1, 3)
    assert [(k, v.value) for k, v in view.items()] == [("a", 1), ("b", 2), ("a", 3)]
    assert view.as_python() == {"a": 3, "b": 2}


def object_text(keys) -> str:
    """An object in the text notation whose entries are the keys in order, each holding its
    position."""
    return "{" + "".join(f'"{key}": {i};' for i, key in enumerate(keys)) + "}"


# Keys that order and compare in every way: prefixes of one another, the empty key, NUL, long
# shared prefixes, non-ASCII, and many duplicates.
KEY_ALPHABET = st.sampled_from(["", "a", "b", "a\x00", "ab", "é", "日本", "x" * 40, "\u202e"])
KEYS = st.lists(st.lists(KEY_ALPHABET, max_size=4).map("".join), max_size=300)


def check_first_entries(keys, absent):
    first = {}
    for i, key in enumerate(keys):
        first.setdefault(key, i)
    root = dral.parse_text_value(object_text(keys))
    nested = dral.parse_text_value("{o: " + object_text(keys) + ";}")
    # A long object is indexed part-way through the first round. The nested one is looked up
    # through a view made afresh every time, which finds the index its tree keeps.
    for _ in range(2):
        for key in [*first, *absent]:
            for view in (root, nested["o"]):
                found = view.get(key)
                assert (None if found is None else found.value) == first.get(key)
                assert (key in view) is (key in first)
                if key in first:
                    assert view[key].value == first[key]
    with pytest.raises(KeyError):
        root["\ud800"]


@settings(max_examples=60, deadline=None)
@given(keys=KEYS, absent=st.lists(KEY_ALPHABET.map(lambda key: key + "?"), max_size=5))
def test_every_lookup_finds_the_first_entry_with_its_key(keys, absent):
    check_first_entries(keys, absent)


@pytest.mark.parametrize("size", [17, 100, 2000])
@pytest.mark.parametrize("distinct", [1, 10, 10**6])
def test_long_objects_find_the_first_entry_with_each_key(size, distinct):
    rng = random.Random(size * distinct)
    keys = [f"k{rng.randrange(distinct)}" * rng.randrange(1, 4) for _ in range(size)]
    check_first_entries(keys, ["k", "", "k-1"])


@pytest.mark.parametrize("obj, key, expected", [
    (OBJECT, "a", True), (OBJECT, "b", False), (OBJECT, Name("a"), True), (OBJECT, "\ud800", False),
    (["a"], "a", False), ("a", "a", False), (None, "", False),
    (OBJECT, 0, "int"), (OBJECT, None, "NoneType"), (OBJECT, b"a", "bytes"),  # not str: TypeError
])
def test_contains_tests_str_object_keys_only(obj, key, expected):
    if isinstance(expected, bool):
        assert (key in dral.to_value(obj)) is expected
        return
    with pytest.raises(TypeError) as info:
        key in dral.to_value(obj)
    assert str(info.value) == f"__contains__() argument 'key' must be str, not {expected}"


@pytest.mark.parametrize("obj, rendering", [
    (7, "UInt(7)"), (-3, "Int(-3)"), (None, "Null"), (True, "Bool(true)"), (False, "Bool(false)"),
    (1.0, "Float(1.0)"), (0.25, "Float(0.25)"), (0.0, "Float(0.0)"), (-0.0, "Float(-0.0)"),
    (1e-4, "Float(0.0001)"), (9.5e15, "Float(9500000000000000.0)"), (1e16, "Float(1e16)"),
    (1.5e-7, "Float(1.5e-7)"), (-2.5e20, "Float(-2.5e20)"), (math.nan, "Float(NaN)"),
    (INF, "Float(inf)"), (-INF, "Float(-inf)"), ('q"\\\t\r\né', 'Str("q\\"\\\\\\t\\r\\né")'),
    (b"\x01\x02\xff", "Bytes([1, 2, 255])"), (b"", "Bytes([])"), ([], "Array([])"),
    ({}, "Object([])"), ([1, [None]], "Array([UInt(1), Array([Null])])"),
    ({"a": "x"}, 'Object([("a", Str("x"))])'),
    ({"a b": {"c": -1}, "d": 2}, 'Object([("a b", Object([("c", Int(-1))])), ("d", UInt(2))])'),
])
def test_repr(obj, rendering):
    kind = dral.to_value(obj).kind
    assert repr(dral.to_value(obj)) == f'DralValue(kind="{kind}", value={rendering})'


def test_no_constructor():  # DralValue() itself: the stub test
    with pytest.raises(TypeError):
        dral.DralValue.__new__(dral.DralValue)


def test_views_leak_nothing():  # that they outlive their roots: the property test below
    def use(view=dral.to_value({"k": [1, "s", b"b", {"x": None}]})):
        view.values(), view.items(), view.keys(), repr(view), view.as_python(), list(view["k"]), "k" in view
        for key in ("k", "zz", 9, -9, 1.5):
            for lookup in (view.get, view.__getitem__, view["k"].get, view["k"].__getitem__):
                with contextlib.suppress(LookupError, TypeError):
                    lookup(key)

    assert traced_growth(use, rounds=200) < 4096


def test_to_value_options_and_errors():
    value = {"b": 1, "a": {"d": 1, "c": 2}}
    assert same(dral.to_value(value, sort_keys=True).as_python(), {"a": {"c": 2, "d": 1}, "b": 1})
    with pytest.raises(TypeError, match="^to_value\\(\\) argument 'sort_keys' must be bool, not int$"):
        dral.to_value({}, sort_keys=1)
    assert dral.to_value(2**64 - 1).kind == "uint"  # refusals: the conversion tests of every entry point


def _stream(*values):
    encoder = dral.Encoder()
    for value in values:
        encoder.encode(value)
    return encoder.finish()


def test_loads_value_shapes_and_arguments():
    one = dral.loads_value(_stream({"a": [1]}))
    assert type(one) is dral.DralValue and one.as_python() == {"a": [1]}
    two = dral.loads_value(_stream(1, "x"))
    assert type(two) is list and [v.as_python() for v in two] == [1, "x"]
    assert dral.loads_value(_stream()) == []
    assert dral.loads_value(_stream([1, 2])).kind == "array"  # one array is one value, not a list
    assert dral.loads_value(_stream(nested_list(5)), max_depth=5).as_python() == nested_list(5)
    assert dral.loads_value(type("B", (bytes,), {})(_stream(5))).value == 5
    for data in (bytearray(_stream(5)), memoryview(_stream(5)), "x"):
        for read in (dral.loads, dral.loads_value):
            with pytest.raises(TypeError, match="argument 'data' must be bytes"):
                read(data)
    for options, error in (({"strict": None}, TypeError), ({"max_depth": -1}, OverflowError)):
        with pytest.raises(error):
            dral.loads_value(_stream(5), **options)


@pytest.mark.parametrize("data, options", [
    (_stream(nested_list(5)), {"max_depth": 4}),
    (_stream(nested_list(5)), {"max_depth": 4, "strict": False}),
    (_stream([1, 2])[:14], {}),
    (_stream("x" * 40)[:20] + b"\x00" + _stream("x" * 40)[21:], {}),  # corrupt payload byte
    (b"garbage", {}),
], ids=["depth", "depth-lax", "truncated", "checksum", "garbage"])
def test_loads_value_fails_as_loads_does(data, options):
    with pytest.raises(dral.DralDecodeError) as expected:
        dral.loads(data, **options)
    with pytest.raises(dral.DralDecodeError) as info:
        dral.loads_value(data, **options)
    assert (type(info.value), str(info.value)) == (type(expected.value), str(expected.value))


def parts(view, value):
    """(view of a part, the part) for every part, reached by each kind of accessor in turn."""
    yield view, value
    if isinstance(value, dict):
        children = list(zip(view.values(), value.values()))
        children += [(view.get(k), value[k]) for k in value] + [(v, value[k]) for k, v in view.items()]
    elif isinstance(value, list):
        children = [(view[i], item) for i, item in enumerate(value)] + list(zip(view.values(), value))
        children += [(view.get(i - len(value)), item) for i, item in enumerate(value)]
    else:
        return
    for child_view, child in children:
        yield from parts(child_view, child)


@given(WITH_NAN)
def test_views_of_parts_read_as_the_value_and_as_their_own_copy(value):
    # Views of parts share their tree, yet read as a view of a copy, also once their roots are gone.
    kept = []
    for root in (dral.to_value(value), dral.loads_value(dral.dumps(value)),
                 dral.parse_text_value(dral.pretty_print(value))):
        for view, part in parts(root, value):
            alone = dral.to_value(part)
            assert (repr(view), view.kind, len(view)) == (repr(alone), alone.kind, len(alone))
            assert same(view.as_python(), part)
            assert view.keys() == (list(part) if isinstance(part, dict) else [])
            assert not isinstance(part, list) or view.get(len(part)) is None
            kept.append((view, repr(alone)))
    del root, view, alone
    gc.collect()
    assert [repr(view) for view, _ in kept] == [expected for _, expected in kept]
