"""The bytes of a Dral stream: blocks, checksums, value encoding, the string dictionary."""

import math
import random
import struct

import pytest
from hypothesis import given
from hypothesis import strategies as st

import dral
from helpers import DATA, STRING_DICT, block, data_stream, payload_of, split_blocks, stream, string_dict

# Block by block, each block's header apart from its payload.
NULL_STREAM = bytes.fromhex("010100682705db4aa834e9 00 ff08002ed1fdb52d92bf9f2787ff0fb97bddf2")
EMPTY_STREAM = bytes.fromhex("ff0800510e4ba59404769099e9d85137db46ef")
DEDUP_STREAM = bytes.fromhex("040900876e24dcdd674202 020000017801000179 010d0046af424d204d0dff"
                             " 080305000178050001790a0009 ff0800a974402c4369c16481e4448e9e7c5491")


def test_fixed_streams_and_the_builders_of_all_other_vectors():
    dictionary = string_dict((0, 0, b"x"), (1, 0, b"y"))
    dedup_payload = b"\x08\x03\x05\x00\x01x\x05\x00\x01y\x0a\x00\x09"
    assert dral.dumps(None) == data_stream(b"\x00") == NULL_STREAM
    assert dral.Encoder().finish() == stream() == EMPTY_STREAM
    assert data_stream(dedup_payload, dictionary) == DEDUP_STREAM
    # References follow the order of the strings written in full: no dictionary is needed.
    assert dral.dumps(["x", "y", "x"], dedup=True) == data_stream(dedup_payload)
    assert dral.loads(NULL_STREAM) is None and dral.loads(EMPTY_STREAM) == []
    assert dral.loads(DEDUP_STREAM) == ["x", "y", "x"]


def f64(x: float) -> bytes:
    return struct.pack("<d", x)


PAYLOADS = [
    (None, b"\x00"), (True, b"\x01\x01"), (False, b"\x01\x00"),
    (0, b"\x02\x00"), (127, b"\x02\x7f"), (128, b"\x02\x80\x01"), (300, b"\x02\xac\x02"),
    (2**63 - 1, b"\x02" + b"\xff" * 8 + b"\x7f"), (-(2**63), b"\x03" + b"\xff" * 9 + b"\x01"),
    (-1, b"\x03\x01"), (-64, b"\x03\x7f"), (-65, b"\x03\x81\x01"),
    (1.5, b"\x04" + f64(1.5)), (-0.0, b"\x04" + f64(-0.0)), (math.inf, b"\x04" + f64(math.inf)),
    ("", b"\x05\x00\x00"), ("é", b"\x05\x00\x02\xc3\xa9"),
    ("a" * 200, b"\x05\x00\xc8\x01" + b"a" * 200),
    (b"", b"\x05\x01\x00"), (b"\x00\xff", b"\x05\x01\x02\x00\xff"),
    ([], b"\x08\x00\x09"), ({}, b"\x06\x00\x07"), ({"a": 1}, b"\x06\x01\x01a\x02\x01\x07"),
    ([None, [1]], b"\x08\x02\x00\x08\x01\x02\x01\x09\x09"),
    ({"k": [], "é": {"": b""}}, b"\x06\x02\x01k\x08\x00\x09\x02\xc3\xa9\x06\x01\x00\x05\x01\x00\x07\x07"),
    (["s", "s"], b"\x08\x02\x05\x00\x01s\x05\x00\x01s\x09"),
]


@pytest.mark.parametrize("value, payload", PAYLOADS, ids=repr)
def test_value_encoding(value, payload):
    assert dral.dumps(value) == data_stream(payload)
    back = dral.loads(data_stream(payload))
    assert back == value and type(back) is type(value)


def test_sort_keys_layout():
    assert dral.dumps({"b": 1, "a": 2}, sort_keys=True) == data_stream(b"\x06\x02\x01a\x02\x02\x01b\x02\x01\x07")
    assert dral.dumps({"b": 1, "a": 2}) == data_stream(b"\x06\x02\x01b\x02\x01\x01a\x02\x02\x07")


# Many strings with shared prefixes, prefixes of one another, NULs and multi-byte characters, so
# that long runs of equal leading bytes have to be told apart.
SIMILAR_TEXT = st.builds(
    lambda prefix, rest: prefix + rest,
    st.sampled_from(["", "https://example.org/plugins/", "x" * 7, "x" * 8, "x" * 9, "\x00" * 8]),
    st.text(st.sampled_from("ab\x00/\xe9\xea\u20ac\U0001f600"), max_size=24))


DEDUP_CASES = [
    # value, data payload
    (["", ""], b"\x08\x02\x05\x00\x00\x0a\x00\x09"),
    ("solo", b"\x05\x00\x04solo"),
    ([["a", "a"]], b"\x08\x01\x08\x02\x05\x00\x01a\x0a\x00\x09\x09"),
    ([{"k": "v"}, "v"], b"\x08\x02\x06\x01\x01k\x05\x00\x01v\x07\x0a\x00\x09"),
    (["abc", "abd", "ab", "abd"], b"\x08\x04\x05\x00\x03abc\x05\x00\x03abd\x05\x00\x02ab\x0a\x01\x09"),
    (["é", "ê", "é"], b"\x08\x03\x05\x00\x02\xc3\xa9\x05\x00\x02\xc3\xaa\x0a\x00\x09"),
    # keys are raw and never enter the table, even when the same text is also a value
    ({"k": "k", "j": "k"}, b"\x06\x02\x01k\x05\x00\x01k\x01j\x0a\x00\x07"),
    # bytes are never deduplicated
    ([b"q", b"q", "q"], b"\x08\x03\x05\x01\x01q\x05\x01\x01q\x05\x00\x01q\x09"),
]


@pytest.mark.parametrize("value, payload", DEDUP_CASES, ids=repr)
def test_dedup_layout(value, payload):
    data = dral.dumps(value, dedup=True)
    assert data == data_stream(payload)
    assert dral.loads(data) == value


def test_a_reference_longer_than_its_text_is_not_written():
    # Past 16384 strings a reference takes four bytes, the empty string in full three; a reader
    # numbers every string written in full, so each full copy takes an index of its own.
    values = [f"s{i}" for i in range(16384)] + ["", "", "s1", ""]
    data = dral.dumps(values, dedup=True)
    payload = payload_of(data)
    assert payload.count(b"\x05\x00\x00") == 3 and payload.endswith(b"\x0a\x01\x05\x00\x00\x09")
    assert dral.loads(data) == values and len(data) < len(dral.dumps(values))


@given(st.lists(SIMILAR_TEXT | st.sampled_from(["", "a", "b"]), max_size=300))
def test_dedup_never_makes_a_stream_larger(values):
    data = dral.dumps(values, dedup=True)
    assert len(data) <= len(dral.dumps(values))
    assert dral.loads(data) == values


def model_string_dict(values: list[str]) -> bytes:
    """The dictionary written for `values`: first appearances, sorted by UTF-8 bytes."""
    firsts = [text.encode() for text in dict.fromkeys(values)]
    entries, previous = [], b""
    for idx, raw in sorted(enumerate(firsts), key=lambda entry: entry[1]):
        shared = 0
        while shared < min(len(raw), len(previous)) and raw[shared] == previous[shared]:
            shared += 1
        while shared < len(raw) and raw[shared] & 0xC0 == 0x80:  # back to a character boundary
            shared -= 1
        entries.append((idx, shared, raw[shared:]))
        previous = raw
    return string_dict(*entries)


@given(st.lists(SIMILAR_TEXT, max_size=400))
def test_dictionary_matches_model(values):
    """Deduplication switched on after strings were written in full needs the dictionary."""
    enc = dral.Encoder()
    enc.encode("written in full first")
    enc.enable_dedup()
    enc.encode(values)
    data = enc.finish()
    dictionaries = [payload for kind, _, payload, _ in split_blocks(data) if kind == STRING_DICT]
    assert dictionaries == ([model_string_dict(values)] if values else [])
    assert dral.loads(data) == ["written in full first", values]


@pytest.mark.parametrize("value", [[1, 2.5, None], {"k": b"v"}, b"x", []], ids=repr)
def test_dedup_without_string_values_writes_no_dictionary(value):
    assert dral.dumps(value, dedup=True) == dral.dumps(value)


# Every checksum against the xxhash package: short blocks, every length past a whole number of
# XXH64's 32-byte stripes, and streams hashed in one piece or in pieces (with or without a
# dictionary, copied out or finished in their own buffer). The scalar loop, which processors
# without AVX-512 take, is held to xxhash at every length by the core's checksum tests.
CHECKSUM_SIZES = [*range(300), *range(4090, 4130), *range(100_000, 100_033), 1_500_017, 3_000_029]


@pytest.mark.parametrize("dedup", [False, True])
def test_checksums_match_xxhash_at_every_length(dedup):
    rng = random.Random(7)
    for size in CHECKSUM_SIZES:
        value = [rng.randbytes(size), "repeated", "repeated"]
        data = dral.dumps(value, dedup=dedup)
        rebuilt = stream(*[block(k, p, c) for k, c, p, _ in split_blocks(data) if k != 255])
        assert data == rebuilt, size
        assert dral.loads(data) == value  # the reader's checks agree with xxhash's too


# Reading: what the grammar allows beyond what the writer produces.

READ_CASES = [
    ("high nibble of a tag ignored", data_stream(b"\x12\x05"), 5),
    ("high nibble on null", data_stream(b"\xf0"), None),
    ("any non-zero bool byte is true", data_stream(b"\x01\x7f"), True),
    ("non-zero subtype is bytes", data_stream(b"\x05\x07\x01z"), b"z"),
    ("non-canonical varint", data_stream(b"\x02\x80\x00"), 0),
    ("largest unsigned", data_stream(b"\x02" + b"\xff" * 9 + b"\x01"), 2**64 - 1),
    ("signed varint of non-negative", data_stream(b"\x03\x0a"), 5),
    ("zigzag maximum", data_stream(b"\x03" + b"\xff" * 9 + b"\x01"), -(2**63)),
    ("nan", data_stream(b"\x04" + f64(math.nan)), "nan"),
    ("array end tag missing", data_stream(b"\x08\x01\x02\x01\x02\x02"), [[1], 2]),
    ("object end tag missing", data_stream(b"\x06\x01\x01a\x00"), {"a": None}),
    ("top-level values concatenated", data_stream(b"\x00\x01\x00\x02\x03"), [None, False, 3]),
    ("two top-level lists", data_stream(b"\x08\x00\x09\x08\x00\x09"), [[], []]),
    ("two data blocks", stream(block(DATA, b"\x02\x01"), block(DATA, b"\x02\x02")), [1, 2]),
    ("empty data block skipped", stream(block(DATA, b""), block(DATA, b"\x02\x02")), 2),
    ("reserved block types skipped", stream(block(2, b"junk"), block(DATA, b"\x00"), block(3, b"")), None),
    ("compressed reserved block skipped", stream(block(2, b"\x05junk", compression=3), block(DATA, b"\x00")), None),
    ("bytes after the end block", data_stream(b"\x02\x09") + b"\x00garbage", 9),
    ("dictionary rebuilds by shared prefix",
     data_stream(b"\x08\x02\x0a\x00\x0a\x01\x09", string_dict((1, 0, b"abc"), (0, 2, b"x"))), ["abx", "abc"]),
    ("shared longer than previous is clamped",
     data_stream(b"\x0a\x01", string_dict((0, 0, b"ab"), (1, 9, b"c"))), "abc"),
    ("shared cut back to a character boundary",
     data_stream(b"\x0a\x01", string_dict((0, 0, "é".encode()), (1, 1, b"z"))), "z"),
    ("gaps in the dictionary are empty strings",
     data_stream(b"\x08\x02\x0a\x00\x0a\x02\x09", string_dict((2, 0, b"c"), (2, 0, b"d"), (1, 0, b"b"))), ["", "d"]),
    ("empty dictionary holds one empty string", data_stream(b"\x0a\x00", string_dict()), ""),
    ("values read in full extend the dictionary",
     data_stream(b"\x08\x02\x05\x00\x01q\x0a\x01\x09", string_dict((0, 0, b"p"))), ["q", "q"]),
    ("later dictionary replaces earlier",
     stream(block(STRING_DICT, string_dict((0, 0, b"old"))), block(STRING_DICT, string_dict((0, 0, b"new"))), block(DATA, b"\x0a\x00")), "new"),
    ("dictionary compression byte ignored",
     stream(block(STRING_DICT, string_dict((0, 0, b"d")), compression=3), block(DATA, b"\x0a\x00")), "d"),
]


@pytest.mark.parametrize("name, data, expected", READ_CASES, ids=[c[0] for c in READ_CASES])
def test_reading(name, data, expected):
    for strict in (True, False):
        back = dral.loads(data, strict=strict)
        if expected == "nan":
            assert math.isnan(back)
        else:
            assert back == expected and type(back) is type(expected)


def test_string_table_restarts_with_each_data_block():
    message = "Invalid reference: index 0 out of bounds (dictionary has 0 entries)"
    ref = block(DATA, b"\x0a\x00")
    for data in (stream(block(STRING_DICT, string_dict((0, 0, b"d"))), ref, ref),
                 stream(block(DATA, b"\x05\x00\x01a"), ref)):
        with pytest.raises(dral.DralDecodeError) as info:
            dral.loads(data)
        assert str(info.value) == message
