"""Everyday Python objects: dataclasses, dates and times, UUIDs, enums, container subclasses, the
whole integer range, the default hook and max_depth, through every entry point that converts."""

import collections
import dataclasses
import datetime
import enum
import gc
import io
import typing
import uuid
import weakref
import zoneinfo

import orjson
import pytest

import dral
from helpers import data_stream, nested_list, varint

native = dral._dral_native
DralTypeError, DralEncodeError = dral.DralTypeError, dral.DralEncodeError
UTC = datetime.timezone.utc
NEW_YORK = zoneinfo.ZoneInfo("America/New_York")


def offset(**kwargs):
    return datetime.timezone(datetime.timedelta(**kwargs))


# Every entry point that converts, each returning the value as read back (or the text's parse).
def _through_file(obj, tmp_path, **options):
    dral.encode_to_file(obj, tmp_path / "out.dral", **options)
    return dral.decode_from_file(tmp_path / "out.dral")


def _through_encoder(obj, **options):
    encoder = dral.Encoder(**options)
    encoder.encode(obj)
    return dral.loads(encoder.finish())


def _through_dump(obj, **options):
    out = io.BytesIO()
    dral.dump(obj, out, **options)
    return dral.loads(out.getvalue())


ENTRY_POINTS = {
    "dumps": lambda obj, tmp, **o: dral.loads(dral.dumps(obj, **o)),
    "dump": lambda obj, tmp, **o: _through_dump(obj, **o),
    "encode": lambda obj, tmp, **o: dral.decode(dral.encode(obj, **o)),
    "encode_to_file": _through_file,
    "Encoder": lambda obj, tmp, **o: _through_encoder(obj, **o),
    "_dumps_reference": lambda obj, tmp, **o: dral.loads(native._dumps_reference(obj, **o)),
    "pretty_print": lambda obj, tmp, **o: dral.parse_text(dral.pretty_print(obj, **o)),
    "to_value": lambda obj, tmp, **o: dral.to_value(obj, **o).as_python(),
}
ENCODERS = [name for name in ENTRY_POINTS if name not in ("pretty_print", "to_value")]


SORTING = {"dumps", "dump", "Encoder", "_dumps_reference", "to_value"}


class EntryPoint:
    def __init__(self, name, tmp_path):
        self.name, self.tmp_path, self.sorts = name, tmp_path, name in SORTING

    def __call__(self, obj, **options):
        return ENTRY_POINTS[self.name](obj, self.tmp_path, **options)


@pytest.fixture(params=sorted(ENTRY_POINTS))
def convert(request, tmp_path):
    return EntryPoint(request.param, tmp_path)


@pytest.fixture(params=ENCODERS)
def encode(request, tmp_path):
    return EntryPoint(request.param, tmp_path)


TIMES = [
    datetime.datetime(2020, 1, 2, 3, 4, 5), datetime.datetime(2020, 1, 2, 3, 4, 5, 123),
    datetime.datetime(1, 1, 1), datetime.datetime.max, datetime.datetime(999, 12, 31, tzinfo=UTC),
    datetime.datetime(2020, 1, 2, 3, 4, 5, 999999, tzinfo=offset(hours=-5, minutes=-30)),
    datetime.datetime(2020, 1, 2, tzinfo=offset(hours=23, minutes=59)),
    datetime.datetime(2020, 1, 2, tzinfo=offset(hours=-23, minutes=-59)),
    datetime.datetime(2020, 1, 2, tzinfo=offset(minutes=1)),
    # The same wall time twice on the night clocks go back: fold picks the offset.
    datetime.datetime(2021, 11, 7, 1, 30, tzinfo=NEW_YORK),
    datetime.datetime(2021, 11, 7, 1, 30, fold=1, tzinfo=NEW_YORK),
    datetime.datetime(2021, 11, 7, 1, 30, fold=1),
    datetime.date(2020, 1, 2), datetime.date(5, 1, 2), datetime.date.max,
    datetime.time(3, 4, 5), datetime.time(0, 0), datetime.time(3, 4, 5, 6), datetime.time.max,
    uuid.UUID(int=0), uuid.UUID(int=2**128 - 1), uuid.UUID("12345678-1234-5678-1234-567812345678"),
]


@pytest.mark.parametrize("value", TIMES, ids=repr)
def test_times_and_uuids_read_back_as_the_text_orjson_writes(convert, value):
    text = orjson.loads(orjson.dumps(value))
    assert convert(value) == text
    assert convert({"when": [value], "at": {"k": value}}) == {"when": [text], "at": {"k": text}}


class MyDateTime(datetime.datetime):
    pass


class MyUuid(uuid.UUID):
    pass


class SilentZone(datetime.tzinfo):
    """A tzinfo of Python's that knows no offset: its datetimes are naive."""

    def utcoffset(self, dt):
        return None


class FixedZone(datetime.tzinfo):
    def __init__(self, result):
        self.result = result

    def utcoffset(self, dt):
        if isinstance(self.result, Exception):
            raise self.result
        return self.result


BOOM = ValueError("boom")
# Where orjson differs or refuses: Python's own isoformat() is then the text.
BEYOND_ORJSON = [
    MyDateTime(2020, 1, 2, 3, 4, tzinfo=UTC), MyUuid(int=5),
    datetime.datetime(2020, 1, 2, tzinfo=SilentZone()),
    datetime.datetime(2020, 1, 2, tzinfo=FixedZone(datetime.timedelta(hours=2))),
    datetime.time(3, 4, tzinfo=UTC), datetime.time(3, 4, 5, 6, tzinfo=offset(hours=-1)),
]


@pytest.mark.parametrize("value", BEYOND_ORJSON, ids=repr)
def test_times_orjson_refuses_or_misreads_follow_isoformat(convert, value):
    assert convert([value]) == [str(value) if isinstance(value, uuid.UUID) else value.isoformat()]


@pytest.mark.parametrize("value, error, message", [
    (datetime.datetime(2020, 1, 2, tzinfo=offset(seconds=61)), DralTypeError,
     "cannot convert datetime to Dral value at $[0] (its UTC offset is not a whole number of minutes)"),
    (datetime.time(1, tzinfo=offset(minutes=1, microseconds=1)), DralTypeError,
     "cannot convert time to Dral value at $[0] (its UTC offset is not a whole number of minutes)"),
    (datetime.datetime(2020, 1, 2, tzinfo=FixedZone(BOOM)), ValueError, "boom"),
    (datetime.datetime(2020, 1, 2, tzinfo=FixedZone(5)), TypeError,
     "tzinfo.utcoffset() must return None or timedelta, not 'int'"),
    (datetime.datetime(2020, 1, 2, tzinfo=FixedZone(datetime.timedelta(days=1))), ValueError, None),
])
def test_offsets_without_rfc_3339_text_are_refused(convert, value, error, message):
    with pytest.raises(error) as info:
        convert([value])
    assert type(info.value) is error and (info.value is BOOM) == (message == "boom")  # a tzinfo's own, unchanged
    assert message is None or str(info.value) == message
    if error is DralTypeError:  # a refusal, so the hook may convert it
        assert convert([value], default=datetime.datetime.isoformat if hasattr(value, "date") else str) == [
            value.isoformat() if hasattr(value, "date") else str(value)]


class Plain(enum.Enum):
    ONE = 1
    WORD = "w"
    NAN = None
    PAIR = (1, "x")
    MAP = {"k": [1.5]}
    RAW = b"\x00"
    FLAG = True


@dataclasses.dataclass
class Point:
    y: int
    x: int = 0


class Wrapped(enum.Enum):
    OTHER = Plain.WORD
    POINT = Point(1, 2)
    WHEN = datetime.date(2020, 1, 2)


class Number(enum.IntEnum):
    TWO = 2


class Colour(enum.Flag):
    RED = 1
    BLUE = 2


class Word(str, enum.Enum):
    HELLO = "hello"


@pytest.mark.parametrize("member, expected", [
    (Plain.ONE, 1), (Plain.WORD, "w"), (Plain.NAN, None), (Plain.PAIR, [1, "x"]), (Plain.MAP, {"k": [1.5]}),
    (Plain.RAW, b"\x00"), (Plain.FLAG, True), (Wrapped.OTHER, "w"), (Wrapped.POINT, {"y": 1, "x": 2}),
    (Wrapped.WHEN, "2020-01-02"), (Number.TWO, 2), (Colour.RED | Colour.BLUE, 3), (Word.HELLO, "hello"),
], ids=repr)
def test_enum_members_convert_as_their_values(convert, member, expected):
    assert convert([member]) == [expected]


class Loop(enum.Enum):
    SELF = 1


Loop.SELF._value_ = Loop.SELF  # a member that is its own value


@dataclasses.dataclass
class Row:
    when: datetime.datetime
    id: uuid.UUID
    kind: Plain
    point: Point
    _note: str = "kept"  # orjson drops fields named with an underscore; they are fields all the same
    tags: list = dataclasses.field(default_factory=list)
    computed: int = dataclasses.field(init=False, default=7)
    limit: typing.ClassVar[int] = 10
    seed: dataclasses.InitVar[int] = 0

    def __post_init__(self, seed):
        self.tags = self.tags + [seed]


@dataclasses.dataclass(slots=True)
class Slotted:
    b: int
    a: Point = dataclasses.field(default_factory=lambda: Point(0))


@dataclasses.dataclass
class Derived(Point):
    z: int = 3


ROW = Row(datetime.datetime(2020, 1, 2, tzinfo=UTC), uuid.UUID(int=1), Plain.WORD, Point(5), seed=9)


@pytest.mark.parametrize("value, expected", [
    (ROW, {"when": "2020-01-02T00:00:00+00:00", "id": "00000000-0000-0000-0000-000000000001", "kind": "w",
           "point": {"y": 5, "x": 0}, "_note": "kept", "tags": [9], "computed": 7}),
    (Slotted(1), {"b": 1, "a": {"y": 0, "x": 0}}),
    (Derived(1, 2), {"y": 1, "x": 2, "z": 3}),
    (Point(Point(Point(1))), {"y": {"y": {"y": 1, "x": 0}, "x": 0}, "x": 0}),
], ids=["fields of every sort", "slots", "inherited fields first", "nested"])
def test_dataclasses_convert_to_their_fields_in_definition_order(convert, value, expected):
    back = convert([value])
    assert back == [expected] and list(back[0]) == list(expected)
    if convert.sorts:
        assert list(convert(value, sort_keys=True)) == sorted(expected)


@dataclasses.dataclass
class WithProperty:
    """A property beside its field: not a field itself."""

    x: int = 0

    @property
    def doubled(self):
        return self.x * 2


@dataclasses.dataclass
class Lazy:
    """Its attributes are read through Python code."""

    value: int

    def __getattribute__(self, name):
        if name == "value":
            return "from Python"
        return object.__getattribute__(self, name)


def test_dataclasses_read_through_python_code_convert_the_same(convert):
    assert convert([WithProperty(2), Lazy(1)]) == [{"x": 2}, {"value": "from Python"}]


def test_dataclass_with_a_field_removed_raises_the_attribute_error(convert):
    broken = Point(1)
    del broken.y
    with pytest.raises(AttributeError, match="'Point' object has no attribute 'y'"):
        convert({"k": [broken]})
    without_default = Point(1)
    del without_default.x  # the class's default stands in, as getattr reads it
    assert convert(without_default) == {"y": 1, "x": 0}


class Overridden(dict):
    """Its own view of its items; the conversion reads what the dict holds, as dict's rules do."""

    def items(self):
        return [("fake", 1)]

    def __iter__(self):
        return iter(["fake"])

    def keys(self):
        return ["fake"]


Pair = collections.namedtuple("Pair", "left right")
Tuple = type("Tuple", (tuple,), {})
List = type("List", (list,), {"__iter__": lambda self: iter([])})


def _moved():
    ordered = collections.OrderedDict(a=1, b=2, c=3)
    ordered.move_to_end("a")
    return ordered


@pytest.mark.parametrize("value, expected", [
    (collections.OrderedDict(b=1, a=2), {"b": 1, "a": 2}), (_moved(), {"b": 2, "c": 3, "a": 1}),
    (collections.defaultdict(list, k=[1]), {"k": [1]}), (collections.Counter("abca"), {"a": 2, "b": 1, "c": 1}),
    (Overridden(real=1), {"real": 1}), (Pair(1, Pair(2, 3)), [1, [2, 3]]), (Tuple((1,)), [1]),
    (List([1, 2]), [1, 2]),
], ids=["OrderedDict", "OrderedDict moved", "defaultdict", "Counter", "items overridden", "namedtuple",
        "tuple subclass", "list subclass"])
def test_container_subclasses_convert_by_their_base_types_rules(convert, value, expected):
    back = convert({"v": value})
    assert back == {"v": expected} and (not isinstance(expected, dict) or list(back["v"]) == list(expected))


INTEGER_EDGES = [-(2**63), -(2**63) + 1, -1, 0, 1, 2**63 - 1, 2**63, 2**64 - 2, 2**64 - 1]


@pytest.mark.parametrize("n", INTEGER_EDGES)
def test_every_integer_the_format_holds_reads_and_writes_back(convert, n):
    tag, number = (b"\x02", n) if n >= 0 else (b"\x03", (-n << 1) - 1)  # zigzag of a negative
    assert dral.loads(data_stream(tag + varint(number))) == n
    assert convert([n, {"n": n}]) == [n, {"n": n}]
    assert dral.dumps(dral.loads(dral.dumps(n))) == dral.dumps(n)


@pytest.mark.parametrize("n", [2**64, -(2**63) - 1, 2**100])
def test_integers_beyond_the_format_are_refused_without_the_hook(convert, n):
    calls = []
    with pytest.raises(OverflowError):
        convert([n], default=calls.append)
    assert calls == []


class Opaque:
    def __init__(self, tag):
        self.tag = tag


def test_the_hook_is_called_for_what_the_rules_refuse_and_nothing_else(convert):
    calls = []

    def default(obj):
        calls.append(obj)
        return {"opaque": obj.tag} if isinstance(obj, Opaque) else sorted(obj)

    first, second = Opaque(1), Opaque(2)
    value = [first, {"s": {3, 1}}, ROW, Plain.ONE, collections.OrderedDict(k=second), 2**64 - 1]
    back = convert(value, default=default)
    assert back[:3] == [{"opaque": 1}, {"s": [1, 3]}, convert(ROW)] and back[4] == {"k": {"opaque": 2}}
    assert [type(call) for call in calls] == [Opaque, set, Opaque] and calls[0] is first and calls[2] is second
    calls.clear()
    accepted = [ROW, Plain.ONE, 2**64 - 1, Pair(1, 2)]
    assert convert(accepted) == convert(accepted, default=default) and calls == []
    with pytest.raises(DralTypeError, match=r"^cannot convert Opaque to Dral value at \$\[0\]$"):
        convert([Opaque(1)], default=None)


def test_the_hook_may_hand_back_objects_it_converts_again(convert):
    chain = {Opaque: lambda o: {1, 2}, set: sorted}
    assert convert([Opaque(0)], default=lambda o: chain[type(o)](o)) == [[1, 2]]


def test_an_exception_of_the_hook_propagates_unchanged(convert):
    error = LookupError("no conversion")

    def default(obj):
        raise error

    with pytest.raises(LookupError) as info:
        convert({"a": [1, Opaque(0)]}, default=default)
    assert info.value is error


@pytest.mark.parametrize("default, detail", [
    (lambda o: o, "default returned Opaque"),
    (lambda o: Opaque(o.tag + 1), "default returned Opaque"),
    (lambda o: {1j} if isinstance(o, Opaque) else o, "default returned set"),
], ids=["itself", "a new one each time", "a set it returns unchanged"])
def test_a_hook_that_never_converts_names_the_original_type(convert, default, detail):
    with pytest.raises(DralTypeError) as info:
        convert({"rows": [Opaque(0)]}, default=default)
    assert str(info.value) == f"cannot convert Opaque to Dral value at $.rows[0] ({detail})"


def test_recursion_through_the_hook_is_bounded_by_max_depth(encode):
    with pytest.raises(DralEncodeError) as info:
        encode({"k": Opaque(0)}, default=lambda o: [o], max_depth=10)
    assert str(info.value) == "Nesting depth 10 exceeds maximum 10 at $.k" + "[0]" * 9
    assert encode(Opaque(0), default=lambda o: nested_list(8, 1), max_depth=8) == nested_list(8, 1)


def test_the_hook_must_be_callable(convert):
    with pytest.raises(TypeError, match=r"argument 'default' must be callable or None, not int$"):
        convert(1, default=5)
    assert not (convert.tmp_path / "out.dral").exists()


@pytest.mark.parametrize("max_depth, error", [(-1, OverflowError), (2**64, OverflowError), ("1", TypeError),
                                              (1.0, TypeError)])
def test_max_depth_must_be_an_unsigned_64_bit_int(encode, max_depth, error):
    with pytest.raises(error):
        encode([], max_depth=max_depth)


@pytest.mark.parametrize("max_depth, deepest", [(0, 0), (1, 1), (202, 202), (4096, 4096), (10**9, 4096)])
def test_max_depth_sets_the_deepest_nesting_up_to_the_native_bound(encode, max_depth, deepest):
    if deepest:
        data = dral.dumps(nested_list(deepest), max_depth=max_depth)
        assert data == native._dumps_reference(nested_list(deepest), max_depth=max_depth)
        back, levels = dral.loads(data, max_depth=deepest), 0
        while isinstance(back, list):
            back, levels = back[0] if back else None, levels + 1
        assert levels == deepest
    with pytest.raises(DralEncodeError, match=fr"^Nesting depth {deepest} exceeds maximum {deepest}( at \$(\[0\])+)?$"):
        encode(nested_list(deepest + 1), max_depth=max_depth)
    assert encode(5, max_depth=max_depth) == 5


@pytest.mark.parametrize("value, message", [
    ({"rows": [1, 2, 3, {"when": {1}}]}, "cannot convert set to Dral value at $.rows[3].when"),
    ({"a b": [{"é": {1}}]}, 'cannot convert set to Dral value at $["a b"][0]["é"]'),
    ({'q"\\\n': {1}}, 'cannot convert set to Dral value at $["q\\"\\\\\\u000a"]'),
    ({"x" * 50: {1}}, 'cannot convert set to Dral value at $["' + "x" * 40 + '..."]'),
    ({"é" * 30: {1}}, 'cannot convert set to Dral value at $["' + "é" * 20 + '..."]'),
    ([Point(Row)], "cannot convert type to Dral value at $[0].y"),  # a dataclass's class is no dataclass
    ({"cls": Point}, "cannot convert type to Dral value at $.cls"),
    ([Loop.SELF], "cannot convert Loop to Dral value at $[0] (its value nests too deeply)"),
    ([{"k": {1: 2}}], "dict keys must be strings at $[0].k"),
    ([collections.OrderedDict(k=Plain.PAIR, m=Wrapped.POINT, z={1})], "cannot convert set to Dral value at $[0].z"),
], ids=lambda p: repr(p) if isinstance(p, str) else None)  # a member that is its own value has no repr
def test_refusals_say_where_the_object_lies(convert, value, message):
    with pytest.raises(DralTypeError) as info:
        convert(value)
    assert str(info.value) == message


class Mutating:
    """Changes the containers being converted when the hook converts it."""

    def __init__(self, victim, change):
        self.victim, self.change = victim, change


def _mutate(obj):
    obj.change(obj.victim)
    return "changed"


@pytest.mark.parametrize("change", [list.clear, lambda l: l.extend(range(100)), lambda l: l.__setitem__(0, None)])
def test_a_hook_that_changes_a_list_being_converted_cannot_crash(convert, change):
    victim = ["a" * 100, Opaque(0), "b" * 100]
    victim[1] = Mutating(victim, change)
    back = convert([victim, victim], default=_mutate)
    assert back[0][1] == "changed" and isinstance(back, list)


def test_a_hook_that_changes_a_dict_being_converted_is_refused(convert):
    for first in (True, False):
        victim = {"m": None} if first else {}
        victim.update((f"k{i}", i) for i in range(20))
        victim["m"] = Mutating(victim, lambda d: d.update((f"n{i}", i) for i in range(100)))
        with pytest.raises(RuntimeError, match="^dictionary changed size during iteration$"):
            convert({"d": victim}, default=_mutate)


def test_an_encoder_refuses_calls_from_its_own_hook():
    encoder = dral.Encoder(default=lambda obj: encoder.finish())
    with pytest.raises(RuntimeError, match="^Encoder is already in use by another call$"):
        encoder.encode([Opaque(0)])
    encoder.encode([1])  # still usable, and nothing half-written
    assert dral.loads(encoder.finish()) == [1]


def test_an_encoder_holding_its_hook_in_a_cycle_is_collected():
    class Holder:
        pass

    holder = Holder()
    holder.encoder = dral.Encoder(default=lambda obj: holder)
    alive = weakref.ref(holder)
    del holder
    gc.collect()
    assert alive() is None


class Inner(enum.Enum):
    X = 1


class Middle(enum.Enum):
    X = Inner.X


class Outer(enum.Enum):
    X = Middle.X


def test_a_chain_of_enum_values_counts_against_max_depth(encode):
    with pytest.raises(DralTypeError, match=r"^cannot convert Inner to Dral value at \$\[0\] \(its value nests too deeply\)$"):
        encode([Outer.X], max_depth=2)
    assert encode([Outer.X], max_depth=3) == [1]


# The direct writers call the hook themselves, and leave to the reference path what they cannot
# write, which then takes the calls already made instead of making them again.
AFTER_THE_HOOK = {
    "a tzinfo of Python's": datetime.datetime(2020, 1, 1, tzinfo=FixedZone(datetime.timedelta(hours=1))),
    "an OrderedDict": collections.OrderedDict(z=1, a=2),
    "a dataclass read through Python code": Lazy(1),
}


@pytest.mark.parametrize("later", sorted(AFTER_THE_HOOK))
def test_the_hook_is_called_once_per_object_in_document_order(encode, later):
    value = AFTER_THE_HOOK[later]
    objects = [Opaque(i) for i in range(4)]
    calls = []

    def default(obj):
        calls.append(obj)
        return {"tag": obj.tag} if obj.tag % 2 else [obj.tag]

    document = {"a": objects[0], "b": [objects[1], {"c": objects[2]}], "later": value, "d": objects[3]}
    back = encode(document, default=default)
    assert [back["a"], back["b"], back["d"]] == [[0], [{"tag": 1}, {"c": [2]}], {"tag": 3}]
    assert back["later"] == encode(value)
    assert len(calls) == 4 and all(call is obj for call, obj in zip(calls, objects))


def test_with_sort_keys_the_hook_is_called_once_per_object(encode):
    if not encode.sorts:
        pytest.skip("no sort_keys")
    objects = [Opaque(i) for i in range(3)]
    calls = []

    def default(obj):
        calls.append(obj)
        return {"z": obj.tag, "a": [obj.tag]}

    back = encode({"z": objects[0], "m": [objects[1]], "a": {"y": objects[2]}}, default=default, sort_keys=True)
    assert back == {"a": {"y": {"a": [2], "z": 2}}, "m": [{"a": [1], "z": 1}], "z": {"a": [0], "z": 0}}
    assert list(back) == ["a", "m", "z"] and list(back["z"]) == ["a", "z"]
    assert len(calls) == 3 and all(call is obj for call, obj in zip(calls, objects))


@pytest.mark.parametrize("error, exception, message", [
    ({1: 2}, DralTypeError, "dict keys must be strings at $[2]"),
    ("itself", DralTypeError, "cannot convert Opaque to Dral value at $[2] (default returned Opaque)"),
    (nested_list(150), DralEncodeError, "Nesting depth 140 exceeds maximum 140 at $[2]" + "[0]" * 139),
], ids=["a key", "the hook's own result", "nesting"])
def test_an_error_after_the_hook_ran_names_its_place_and_calls_once(encode, error, exception, message):
    last = Opaque(2)
    calls = []

    def default(obj):
        calls.append(obj)
        return obj if obj is last else "ok"

    document = [Opaque(0), Opaque(1), last if error == "itself" else error]
    with pytest.raises(exception) as info:
        encode(document, default=default, max_depth=140)
    assert str(info.value) == message
    assert calls == [o for o in document if isinstance(o, Opaque)]


@dataclasses.dataclass
class Box:
    first: object
    second: str = "second"


def _changing_documents():
    """Documents whose hook resizes the lists being written, or drops from the document the
    containers being written, rebuilt for each call: the count of a list is written before its
    items, and may then need more or fewer bytes; what is dropped must outlive its writing."""
    def grow(victim):
        victim.extend(["x", "y"] * 100)

    def drop(victim):
        holder.clear()
        victim.clear()

    holder = []
    long = ["x"] * 150
    long[1] = Mutating(long, drop)
    holder.append(long)
    short = ["x", "y", "z"]
    short[1] = Mutating(short, grow)
    boxes = [Box(None)]
    boxes[0].first = Mutating(boxes, list.clear)
    dicts = [{"k": None, "after": "z" * 20}]
    dicts[0]["k"] = Mutating(dicts, list.clear)
    return [holder, "y", short, "x", {"k": "z"}, boxes, dicts]


@pytest.mark.parametrize("dedup", [False, True])
def test_a_hook_that_resizes_lists_being_written_writes_what_the_reference_path_writes(dedup):
    data = dral.dumps(_changing_documents(), default=_mutate, dedup=dedup)
    assert data == native._dumps_reference(_changing_documents(), default=_mutate, dedup=dedup)
    back = dral.loads(data)
    assert back[0] == [["x", "changed"]] and back[2] == ["x", "changed", "z"] + ["x", "y"] * 100
    assert back[5:] == [[{"first": "changed", "second": "second"}], [{"k": "changed", "after": "z" * 20}]]


class Wrapper:
    def __init__(self, inner):
        self.inner = inner


def _wrapped(obj, times):
    for _ in range(times):
        obj = Wrapper(obj)
    return obj


def _unwrap(obj):
    return obj.inner if isinstance(obj, Wrapper) else {"opaque": obj.tag}


HOOKED_DOCUMENTS = {
    "scalars": [Wrapper(1), Wrapper("s" * 40), Wrapper(2.5), Wrapper(None), Wrapper(b"b"), Wrapper(2**64 - 1)],
    "containers": {"a": Wrapper([1, 2, 3, Opaque(0)]), "b": Wrapper({"k": Opaque(1)}), "c": (Opaque(2), 1.5)},
    "a chain": [Wrapper(Wrapper(Wrapper(Opaque(3))))],
    "a chain longer than the direct writer follows": [Opaque(0), _wrapped(Opaque(1), 100), Opaque(2)],
    "the types written natively": [Wrapper(ROW), Wrapper(Plain.ONE), Wrapper(uuid.UUID(int=5)),
                                   Wrapper(datetime.date(2020, 1, 2))],
    "an offset without its text": [datetime.datetime(2020, 1, 2, tzinfo=offset(seconds=61)), "same text " * 3],
    "runs of numbers": [1, 2, 3, Opaque(4), 5, 6, 1.5, 2.5, Opaque(7), 3.5] * 20,
    "repeated strings": [["same text " * 3, Wrapper("same text " * 3)] for _ in range(5)],
}


@pytest.mark.parametrize("dedup", [False, True])
@pytest.mark.parametrize("name", sorted(HOOKED_DOCUMENTS))
def test_the_direct_writer_calling_the_hook_writes_what_the_reference_path_writes(name, dedup):
    document = HOOKED_DOCUMENTS[name]

    def default(obj):
        return obj.isoformat() if isinstance(obj, datetime.datetime) else _unwrap(obj)

    data = dral.dumps(document, default=default, dedup=dedup)
    assert data == native._dumps_reference(document, default=default, dedup=dedup)


def test_a_hook_may_write_with_a_hook_in_turn(encode):
    def default(obj):
        return dral.dumps([obj.tag, Opaque(obj.tag + 1)], default=lambda inner: {"inner": inner.tag})

    back = encode({"k": [Opaque(1), Opaque(5)]}, default=default)
    assert [dral.loads(part) for part in back["k"]] == [[1, {"inner": 2}], [5, {"inner": 6}]]
