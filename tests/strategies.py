"""Hypothesis strategies shared by the property and differential tests."""

import collections
import dataclasses
import datetime
import enum
import typing
import zoneinfo

from hypothesis import strategies as st

import dral
from helpers import END, block, nested_list, split_blocks, stream

I64 = st.integers(-(2**63), 2**63 - 1)
# A small pool makes repeated strings (and so string references) common.
POOL = st.sampled_from(["", "a", "ab", "abc", "abd", "é", "ê", "key", "x" * 20, "\U0001f600"])
TEXT = POOL | st.text(max_size=12)
SCALARS = st.none() | st.booleans() | I64 | st.floats(allow_nan=False) | TEXT | st.binary(max_size=12)


def json_like(scalars=SCALARS, keys=TEXT):
    return st.recursive(
        scalars,
        lambda kids: st.lists(kids, max_size=6) | st.dictionaries(keys, kids, max_size=6),
        max_leaves=30,
    )


JSON_LIKE = json_like()
WITH_NAN = json_like(SCALARS | st.just(float("nan")))


class MyList(list):
    pass


class MyDict(dict):
    pass


def _wrap(value, depth):
    return nested_list(depth, value)


# Values that may or may not convert: every way conversion can fail, mixed with valid data.
INVALID_LEAVES = (
    st.sets(st.integers(0, 3), max_size=2)
    | st.frozensets(st.integers(0, 3), max_size=1)
    | st.binary(max_size=3).map(bytearray)
    | st.integers(2**63, 2**70)
    | st.integers(-(2**70), -(2**63) - 1)
    | st.text(st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF) | st.characters(), min_size=1, max_size=3)
    | st.just(object())
    | st.just(1j)
)
ANY_KEY = TEXT | st.integers(-3, 3) | st.binary(max_size=2) | st.none() | st.booleans()
MAYBE_VALID = st.recursive(
    SCALARS | INVALID_LEAVES | st.just(float("nan")),
    lambda kids: st.lists(kids, max_size=4)
    | st.lists(kids, max_size=3).map(tuple)
    | st.lists(kids, max_size=2).map(MyList)
    | st.dictionaries(TEXT, kids, max_size=4)
    | st.dictionaries(ANY_KEY, kids, max_size=3)
    | st.dictionaries(TEXT, kids, max_size=2).map(MyDict)
    | st.dictionaries(TEXT, kids, max_size=2).map(collections.OrderedDict)
    | st.tuples(kids, st.integers(100, 140)).map(lambda p: _wrap(*p)),
    max_leaves=12,
)
COMPRESSION = st.sampled_from([None, "none", "lz4", "zstd", "snappy", "LZ4", "bad", ""])


def _mutate(draw, data: bytes) -> bytes:
    data = bytearray(data)
    for _ in range(draw(st.integers(1, 4))):
        op = draw(st.sampled_from(["flip", "set", "insert", "delete", "truncate"]))
        pos = draw(st.integers(0, max(len(data) - 1, 0)))
        if op == "flip" and data:
            data[pos] ^= 1 << draw(st.integers(0, 7))
        elif op == "set" and data:
            data[pos] = draw(st.sampled_from([0x00, 0x01, 0x07, 0x09, 0x0A, 0x0B, 0x7F, 0x80, 0xFF]))
        elif op == "insert":
            data[pos:pos] = draw(st.binary(min_size=1, max_size=3))
        elif op == "delete" and data:
            del data[pos : pos + draw(st.integers(1, 3))]
        elif op == "truncate":
            del data[pos:]
    return bytes(data)


@st.composite
def mutated_streams(draw):
    """Encoder output with damage: to the raw bytes, or to one payload with its checksum fixed up."""
    data = dral.dumps(draw(JSON_LIKE), dedup=draw(st.booleans()))
    if draw(st.booleans()):
        return _mutate(draw, data)
    blocks = [b for b in split_blocks(data) if b[0] != END]
    index = draw(st.integers(0, len(blocks) - 1))
    rebuilt = [
        block(kind, _mutate(draw, payload) if i == index else payload)
        for i, (kind, _, payload, _) in enumerate(blocks)
    ]
    return stream(*rebuilt, end=draw(st.booleans()))


BYTE_INPUTS = mutated_streams() | st.binary(max_size=64) | st.binary(max_size=8).map(lambda b: block(1, b))


# The standard library's objects and dataclasses, in every form the conversion tells apart.
class Shade(enum.Enum):
    PLAIN = 1
    WORD = "w"
    PAIR = (1, "x")
    NOTHING = None


class Level(enum.IntEnum):
    LOW = 1


class Nested(enum.Enum):
    INNER = Shade.WORD


@dataclasses.dataclass
class Cell:
    name: str
    value: typing.Any = None
    _hidden: int = 0


@dataclasses.dataclass(slots=True)
class SlotCell:
    z: typing.Any
    a: int = 2


ZONES = st.sampled_from([
    None, datetime.timezone.utc, datetime.timezone(datetime.timedelta(hours=5, minutes=30)),
    datetime.timezone(-datetime.timedelta(hours=23, minutes=59)),
    datetime.timezone(datetime.timedelta(seconds=61)),  # refused: seconds in the offset
    zoneinfo.ZoneInfo("America/New_York"),
])
TIMES = (
    st.datetimes(timezones=ZONES, allow_imaginary=True)
    | st.dates()
    | st.times(timezones=ZONES.filter(lambda zone: not isinstance(zone, zoneinfo.ZoneInfo)))
)
STDLIB = (
    TIMES
    | st.uuids()
    | st.sampled_from([*Shade, *Level, *Nested, enum.Enum("Odd", {"SET": frozenset()}).SET])
    | st.integers(2**63, 2**64 - 1)
)
PYTHON_OBJECTS = st.recursive(
    SCALARS | STDLIB | INVALID_LEAVES,
    lambda kids: st.lists(kids, max_size=4)
    | st.lists(kids, max_size=3).map(tuple)
    | st.lists(kids, max_size=2).map(MyList)
    | st.dictionaries(TEXT, kids, max_size=4)
    | st.dictionaries(TEXT, kids, max_size=2).map(MyDict)
    | st.dictionaries(TEXT, kids, max_size=3).map(lambda d: collections.OrderedDict(reversed(d.items())))
    | st.builds(Cell, TEXT, kids, st.integers(0, 3))
    | st.builds(SlotCell, kids),
    max_leaves=12,
)
