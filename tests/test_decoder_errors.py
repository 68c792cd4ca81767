"""Every decoder failure with its exact message and offset, the reading limits, and truncation."""

import re
import tracemalloc

import pytest

import dral
from helpers import (
    DATA, STRING_DICT, P, block, data_stream, eof, nested_arrays, nested_list, read_varint, split_blocks, stream,
    string_dict, varint, xxh,
)

DralDecodeError, DralChecksumError = dral.DralDecodeError, dral.DralChecksumError
CHECKSUM = b"\x00" * 8
M16, M64 = 16 * 1024 * 1024, 64 * 1024 * 1024
DECOMPRESSION = "Decompression error: {0} decompression not available (enable '{0}' feature)"
UTF8, TAG = "Invalid UTF-8 in string field at offset {}", "Invalid wire type tag: 0x{}"
REF = "Invalid reference: index {} out of bounds (dictionary has {} entries)"
OVERFLOW, DICT_INDEX = "Varint overflow: encoded integer exceeds 64 bits", "Invalid data: StringDict entry has original_idx"


def bad_sum(kind, payload, compression=0):
    return block(kind, payload, compression, checksum=xxh(payload) ^ 1)


def mismatch(payload):
    return f"Checksum mismatch: expected 0x{xxh(payload) ^ 1:016x}, got 0x{xxh(payload):016x}"


ERRORS = [
    # block headers
    ("type 0", b"\x00", "Invalid block type: 0"),
    ("type 5", b"\x05", "Invalid block type: 5"),
    ("type 254", b"\xfe\x00\x00" + CHECKSUM, "Invalid block type: 254"),
    ("type after a block", data_stream(b"\x00", end=False) + b"\x09", "Invalid block type: 9"),
    ("no length", b"\x01", eof(1)),
    ("cut length varint", b"\x01\x80\x80", eof(3)),
    ("length varint overflow", b"\x01" + b"\xff" * 9 + b"\x02", OVERFLOW),
    ("length varint tenth byte 0x81", b"\x01" + b"\xff" * 9 + b"\x81", OVERFLOW),
    ("no compression byte", b"\x01\x01", eof(2)),
    ("cut checksum", b"\x01\x01\x00" + b"\x00" * 7, eof(3)),
    ("no checksum", b"\x01\x00\x00", eof(3)),
    ("cut payload", b"\x01\x05\x00" + CHECKSUM + b"\x00", eof(16)),
    ("cut payload of the only data block", data_stream(b"\x08\x02\x00\x00\x09")[:14], eof(16)),
    ("cut reserved block", block(2, b"abc")[:-1], eof(14)),
    ("cut dictionary block", block(STRING_DICT, string_dict((0, 0, b"x")))[:-2], eof(16)),
    ("unknown compression", block(DATA, b"\x00", compression=4), "Unknown compression type: 4"),
    ("unknown compression 255", block(STRING_DICT, b"\x00", compression=255), "Unknown compression type: 255"),
    # checksums
    ("data checksum", bad_sum(DATA, b"\x02\x01"), mismatch(b"\x02\x01")),
    ("empty data checksum", bad_sum(DATA, b""), mismatch(b"")),
    ("dictionary checksum", bad_sum(STRING_DICT, string_dict()), mismatch(string_dict())),
    ("reserved block checksum", bad_sum(3, b"opaque"), mismatch(b"opaque")),
    ("second block checksum", stream(block(DATA, b"\x00"), bad_sum(DATA, b"\x00")), mismatch(b"\x00")),
    # compressed blocks: size and ratio limits, then no decompressor; the checksum is not looked at
    ("zstd", block(DATA, b"\x05\x01", compression=1), DECOMPRESSION.format("zstd")),
    ("snappy", block(DATA, b"\x05\x01", compression=2), DECOMPRESSION.format("snappy")),
    ("lz4", block(DATA, b"\x05\x01", compression=3), DECOMPRESSION.format("lz4")),
    ("lz4 reserved type", block(2, b"\x05\x01", compression=3), DECOMPRESSION.format("lz4")),
    ("compressed bad checksum", bad_sum(DATA, b"\x05\x01", compression=3), DECOMPRESSION.format("lz4")),
    ("ratio 100 allowed", block(DATA, b"\x64\x01", compression=3), DECOMPRESSION.format("lz4")),
    ("no compressed bytes", block(DATA, b"\xc9\x01", compression=1), DECOMPRESSION.format("zstd")),
    ("ratio rounds down", block(DATA, b"\xc9\x01\x01\x02", compression=2), DECOMPRESSION.format("snappy")),
    # string dictionary (offsets count from the dictionary payload)
    ("dictionary index", block(STRING_DICT, b"\x01\x01\x00\x01x"), f"{DICT_INDEX} 1 >= count 1"),
    ("dictionary index 2", block(STRING_DICT, string_dict((0, 0, b"a"), (5, 0, b"b"))), f"{DICT_INDEX} 5 >= count 2"),
    ("dictionary suffix cut", block(STRING_DICT, b"\x01\x00\x00\x05x"), eof(4)),
    ("dictionary suffix utf-8", block(STRING_DICT, b"\x02\x00\x00\x01a\x01\x00\x02\xc3\x28"), UTF8.format(10)),
    ("dictionary varint cut", block(STRING_DICT, b"\x01\x00"), eof(2)),
    ("dictionary varint continues", block(STRING_DICT, b"\x01\x00\x80"), eof(3)),
    ("dictionary empty payload", block(STRING_DICT, b""), eof(0)),
    # a dictionary promises a data block: a stream that ends first was cut (offset: where it ended)
    ("dictionary then end block", stream(block(STRING_DICT, string_dict((0, 0, b"x")))), eof(16)),
    ("dictionary then end of input", block(STRING_DICT, string_dict((0, 0, b"x"))), eof(16)),
    ("dictionary then reserved block", stream(block(STRING_DICT, string_dict()), block(2, b"")), eof(12 + 11)),
    ("dictionary after the data block", stream(block(DATA, b"\x00"), block(STRING_DICT, string_dict())), eof(12 + 12)),
    # values
    ("tag 0x0b", data_stream(b"\x0b"), TAG.format("0b")),
    ("tag 0x1f", data_stream(b"\x1f"), TAG.format("1f")),
    ("tag 0xfc", data_stream(b"\xfc"), TAG.format("fc")),
    ("stray object end", data_stream(b"\x07"), TAG.format("07")),
    ("stray array end", data_stream(b"\x00\x09"), TAG.format("09")),
    ("stray end with high bits", data_stream(b"\x17"), TAG.format("17")),
    ("end tag as array item", data_stream(b"\x08\x01\x09"), TAG.format("09")),
    ("value varint overflow", data_stream(b"\x02" + b"\xff" * 9 + b"\x02"), OVERFLOW),
    ("bool cut", data_stream(b"\x01"), eof(P + 1)),
    ("float cut", data_stream(b"\x04" + b"\x00" * 7), eof(P + 1)),
    ("uint cut", data_stream(b"\x02"), eof(P + 1)),
    ("uint varint cut", data_stream(b"\x02\x80"), eof(P + 2)),
    ("int varint cut", data_stream(b"\x00\x03\xff\xff"), eof(P + 4)),
    ("varint not completed by next block", stream(block(DATA, b"\x02\x80"), block(DATA, b"\x02\x01")), eof(P + 2)),
    ("subtype cut", data_stream(b"\x05"), eof(P + 1)),
    ("string length cut", data_stream(b"\x05\x00"), eof(P + 2)),
    ("string bytes cut", data_stream(b"\x05\x00\x05ab"), eof(P + 8)),
    ("bytes cut", data_stream(b"\x05\x01\x02a"), eof(P + 5)),
    ("string invalid utf-8", data_stream(b"\x00\x05\x00\x02a\xff"), UTF8.format(15)),
    ("string surrogate utf-8", data_stream(b"\x05\x00\x03\xed\xa0\x80"), UTF8.format(14)),
    ("string overlong utf-8", data_stream(b"\x05\x00\x02\xc0\xaf"), UTF8.format(14)),
    ("string two-byte overlong utf-8", data_stream(b"\x05\x00\x02\xc1\xbf"), UTF8.format(14)),
    ("string two-byte lead at end", data_stream(b"\x05\x00\x02a\xd0"), UTF8.format(14)),
    ("string two-byte lead then ascii", data_stream(b"\x05\x00\x02\xd0a"), UTF8.format(14)),
    ("long string invalid utf-8", data_stream(b"\x05\x00\xac\x02" + b"\xd0\x96" * 149 + b"\xd0("), UTF8.format(16)),  # longer block length
    ("reference to empty table", data_stream(b"\x0a\x00"), REF.format(0, 0)),
    ("reference past table", data_stream(b"\x05\x00\x01a\x05\x00\x01b\x0a\x03"), REF.format(3, 2)),
    ("reference past dictionary", data_stream(b"\x0a\x02", string_dict((0, 0, b"a"), (1, 0, b"b"))), REF.format(2, 2)),
    ("reference varint cut", data_stream(b"\x0a"), eof(P + 1)),
    ("array count cut", data_stream(b"\x08"), eof(P + 1)),
    ("array items missing", data_stream(b"\x08\x02\x00"), eof(P + 3)),
    ("array item cut", data_stream(b"\x08\x01\x05\x00\x09x"), eof(P + 14)),
    ("object count cut", data_stream(b"\x06"), eof(P + 1)),
    ("object key length cut", data_stream(b"\x06\x01"), eof(P + 2)),
    ("object key cut", data_stream(b"\x06\x01\x05ab"), eof(P + 8)),
    ("object value missing", data_stream(b"\x06\x01\x01a"), eof(P + 4)),
    ("object entries missing", data_stream(b"\x06\x02\x01a\x00\x07"), eof(P + 13)),
    ("object key utf-8", data_stream(b"\x06\x01\x01\xff\x00\x07"), UTF8.format(14)),
    ("error in second block", stream(block(DATA, b"\x00"), block(DATA, b"\x0b")), TAG.format("0b")),
    ("129 nested arrays", data_stream(nested_arrays(129)), "Nesting depth 128 exceeds maximum 128"),
    ("129 nested objects", data_stream(b"\x06\x01\x00" * 128 + b"\x06\x00" + b"\x07" * 129), "Nesting depth 128 exceeds maximum 128"),
]


@pytest.mark.parametrize("name, data, message", ERRORS, ids=[e[0] for e in ERRORS])
def test_decode_errors(name, data, message):
    expected_class = DralChecksumError if "Checksum mismatch" in message else DralDecodeError
    for strict in (True, False):
        for loads in (dral.loads, dral._dral_native._loads_reference):
            with pytest.raises(DralDecodeError) as info:
                loads(data, strict=strict)
            assert type(info.value) is expected_class and str(info.value) == message
    with pytest.raises(expected_class, match="^" + re.escape(message) + "$"):
        dral.DralDecoder(data).decode_all()


# Limits: strict reading enforces them, non-strict lifts all but the depth. Rows: input (built on
# demand), strict message, then the non-strict result: a value, or the message of the next failure.
ITEMS = "Item count 1000001 exceeds maximum 1000000"
LIMITS = [
    ("ratio", lambda: block(DATA, b"\xc9\x01\x01", compression=3),
     "Decompression ratio 201.0:1 exceeds maximum 100:1 (compressed: 1, uncompressed: 201)", DECOMPRESSION.format("lz4")),
    ("declared block size", lambda: b"\x01" + varint(M64 + 1) + b"\x00" + CHECKSUM,
     f"Block size {M64 + 1} exceeds maximum {M64}", eof(1 + 4 + 1 + 8 + M64 + 1)),
    ("declared uncompressed size", lambda: block(DATA, varint(M64 + 1) + b"\x00", compression=1),
     f"Block size {M64 + 1} exceeds maximum {M64}", DECOMPRESSION.format("zstd")),
    ("declared string length", lambda: data_stream(b"\x05\x00" + varint(M16 + 1)),
     f"String length {M16 + 1} exceeds maximum {M16}", eof(P + 2 + 4 + M16 + 1)),
    ("declared bytes length", lambda: data_stream(b"\x05\x01" + varint(M16 + 1) + b"b"),
     f"String length {M16 + 1} exceeds maximum {M16}", eof(P + 2 + 4 + M16 + 1)),
    ("dictionary count", lambda: block(STRING_DICT, varint(1_000_001)), ITEMS, eof(3)),
    ("array count", lambda: data_stream(b"\x08" + varint(1_000_001)), ITEMS, eof(P + 4)),
    ("object count", lambda: data_stream(b"\x06" + varint(1_000_001) + b"\x00\x00"), ITEMS, eof(P + 6)),
    ("array items", lambda: data_stream(b"\x08" + varint(1_000_001) + bytes(1_000_001) + b"\x09"), ITEMS, [None] * 1_000_001),
    ("object entries", lambda: data_stream(b"\x06" + varint(1_000_001) + bytes(2_000_002) + b"\x07"), ITEMS, {"": None}),
    ("long string", lambda: dral.dumps("s" * (M16 + 1)), f"String length {M16 + 1} exceeds maximum {M16}", "s" * (M16 + 1)),
    ("large block", lambda: dral.dumps(bytes(M64)), f"Block size {M64 + 6} exceeds maximum {M64}", bytes(M64)),
]


@pytest.mark.parametrize("name, make, message, lifted", LIMITS, ids=[c[0] for c in LIMITS])
def test_limits(name, make, message, lifted):
    data = make()
    for decode in (dral.loads, dral._dral_native._loads_reference, lambda d: dral.DralDecoder(d).decode_all()):
        with pytest.raises(DralDecodeError) as info:
            decode(data)
        assert type(info.value) is DralDecodeError and str(info.value) == message
    for loads in (dral.loads, dral._dral_native._loads_reference):
        if isinstance(lifted, str) and lifted.startswith(("Unexpected", "Decompression")):
            with pytest.raises(DralDecodeError) as info:
                loads(data, strict=False)
            assert str(info.value) == lifted
        else:
            assert loads(data, strict=False) == lifted


def test_string_of_exactly_the_limit_is_accepted():
    assert dral.loads(dral.dumps("s" * M16)) == "s" * M16


def test_memory_limit_counts_every_string_and_bytes_value():
    # Sixteen 16 MiB values fill the 256 MiB budget exactly; one byte more is refused.
    chunk = b"\x05\x01" + varint(M16) + bytes(M16)
    blocks = [block(DATA, chunk * 3)] * 5 + [block(DATA, chunk + b"\x05\x00\x01z")]
    data = stream(*blocks)
    with pytest.raises(DralDecodeError) as info:
        dral.loads(data)
    limit = 256 * 1024 * 1024
    assert str(info.value) == f"Memory limit exceeded: requested {limit + 1} bytes, limit {limit}"
    values = dral.loads(data, strict=False)
    assert len(values) == 17 and values[-1] == "z"


def _full(text: bytes) -> bytes:
    return b"\x05\x00" + varint(len(text)) + text


BIG = b"x" * M16
# Strings copied from the table cost what strings read in full cost. Each row exceeds the 256 MiB
# budget by its last string; the message reports the running total.
EXPANSIONS = [
    ("references", data_stream(_full(BIG) + b"\x0a\x00" * 16), 17 * M16),
    ("dictionary entries sharing a prefix",
     data_stream(b"\x0a\x00", string_dict((0, 0, BIG), *[(i, M16, b"") for i in range(1, 17)])), 17 * M16),
    ("dictionary entries each one byte longer",
     data_stream(b"\x0a\x00", string_dict(*[(i, i, b"a") for i in range(23170)])), 23170 * 23171 // 2),
    ("dictionary entry and references", data_stream(b"\x0a\x00" * 16, string_dict((0, 0, BIG))), 17 * M16),
]


@pytest.mark.parametrize("name, data, requested", EXPANSIONS, ids=[e[0] for e in EXPANSIONS])
def test_memory_limit_counts_strings_made_from_the_table(name, data, requested):
    for decode in (dral.loads, dral._dral_native._loads_reference):
        with pytest.raises(DralDecodeError) as info:
            decode(data)
        assert str(info.value) == f"Memory limit exceeded: requested {requested} bytes, limit {256 * 1024 * 1024}"


def test_references_up_to_the_memory_limit_are_accepted():
    values = dral.loads(data_stream(b"\x08\x10" + _full(BIG) + b"\x0a\x00" * 15 + b"\x09"))
    assert len(values) == 16 and all(v == BIG.decode() for v in values)
    # 23169 entries of 1 to 23169 bytes: 268412865 bytes, just under the budget.
    entries = string_dict(*[(i, i, b"a") for i in range(23169)])
    assert dral.loads(data_stream(b"\x0a\x00", entries)) == "a"


@pytest.mark.parametrize("max_depth", [0, 1, 2, 5])
def test_small_max_depth(max_depth):
    scalars = data_stream(b"\x00\x02\x07\x05\x00\x01s")
    assert dral.loads(scalars, max_depth=max_depth) == [None, 7, "s"]
    for strict in (True, False):
        if max_depth:
            deepest = data_stream(nested_arrays(max_depth))
            assert dral.loads(deepest, max_depth=max_depth, strict=strict) == nested_list(max_depth)
        objects = b"\x06\x01\x01k" * max_depth + b"\x08\x00\x09" + b"\x07" * max_depth
        for payload in (nested_arrays(max_depth + 1), objects):
            with pytest.raises(DralDecodeError) as info:
                dral.loads(data_stream(payload), max_depth=max_depth, strict=strict)
            assert str(info.value) == f"Nesting depth {max_depth} exceeds maximum {max_depth}"


@pytest.mark.parametrize("max_depth", [4096, 5000, 10**6, 2**64 - 1])
def test_native_depth_bound_is_4096(max_depth):
    deepest = data_stream(nested_arrays(4096))
    too_deep = data_stream(nested_arrays(5000))
    value = dral.loads(deepest, max_depth=max_depth, strict=False)
    for _ in range(4095):
        (value,) = value
    assert value == []
    for decode in (
        lambda: dral.loads(too_deep, max_depth=max_depth),
        lambda: dral.loads(too_deep, max_depth=max_depth, strict=False),
        lambda: dral._dral_native._loads_reference(too_deep, max_depth=max_depth),
        lambda: dral.DralDecoder(too_deep, max_depth=max_depth).decode_all(),
    ):
        with pytest.raises(DralDecodeError) as info:
            decode()
        assert str(info.value) == "Nesting depth 4096 exceeds maximum 4096"


def test_declared_counts_do_not_drive_allocation():
    # Each of 100 nested arrays claims far more items than exist; whatever one of them sets
    # aside up front must come out of bytes no enclosing array has claimed, so together they
    # allocate about as much as the block itself, not 100 times it.
    filler = 1 << 20
    payload = b"".join(b"\x08" + varint(2**40) for _ in range(100))
    data = data_stream(payload + b"\x00" * filler)
    tracemalloc.start()
    try:
        with pytest.raises(DralDecodeError, match="Unexpected end of input"):
            dral.loads(data, strict=False)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 4 * 8 * filler


# Truncation: a stream cut anywhere other than a block boundary is an error.


def header_cut_offset(data: bytes, start: int, cut: int) -> int:
    """Offset reported when the input ends at `cut` inside the block starting at `start`."""
    pos = start + 1
    while pos < cut and data[pos] & 0x80:
        pos += 1
    length_end = pos + 1  # one past the last length byte
    if cut < length_end:
        return cut  # inside the length varint
    if cut == length_end:
        return cut  # no compression byte
    if cut < length_end + 9:
        return length_end + 1  # checksum incomplete
    length, _ = read_varint(data, start + 1)
    return length_end + 9 + length


TRUNCATED_STREAMS = {
    "one value": dral.dumps({"key": [1, -2, 3.5, "text", b"\x00"]}),
    "dedup": dral.dumps(["repeat", "repeat", {"k": "repeat"}, "other"], dedup=True),
    "long block": dral.dumps(["x" * 150, "y"], dedup=True),
}


@pytest.mark.parametrize("name", sorted(TRUNCATED_STREAMS))
def test_every_truncation(name):
    data = TRUNCATED_STREAMS[name]
    full = dral.loads(data)
    blocks = split_blocks(data)
    starts = [start for *_, start in blocks]
    end_start = starts[-1]
    for cut in range(len(data)):
        prefix = data[:cut]
        if cut >= end_start:
            assert dral.loads(prefix) == full
        elif cut == 0:
            assert dral.loads(prefix) == []
        elif cut in starts:
            # Only a dictionary block came before: it promises a data block that never came.
            with pytest.raises(DralDecodeError) as info:
                dral.loads(prefix)
            assert str(info.value) == eof(cut), cut
        else:
            start = max(s for s in starts if s < cut)
            with pytest.raises(DralDecodeError) as info:
                dral.loads(prefix)
            assert str(info.value) == eof(header_cut_offset(data, start, cut)), cut


class Cut(Exception):
    pass


def _varint_end(p: bytes, pos: int, end: int) -> tuple[int, int]:
    value = shift = 0
    while True:
        if pos >= end:
            raise Cut(end)
        byte = p[pos]
        value |= (byte & 0x7F) << shift
        pos += 1
        shift += 7
        if not byte & 0x80:
            return value, pos


def skip_value(p: bytes, pos: int, end: int) -> int:
    """Position after the value at `pos`, or Cut(offset) when the value runs past `end`."""
    if pos >= end:
        raise Cut(pos)
    code, pos = p[pos] & 0x0F, pos + 1
    if code == 0:
        return pos
    if code == 1:
        if pos >= end:
            raise Cut(pos)
        return pos + 1
    if code in (2, 3, 10):
        return _varint_end(p, pos, end)[1]
    if code == 4:
        if pos + 8 > end:
            raise Cut(pos)
        return pos + 8
    if code == 5:
        if pos >= end:
            raise Cut(pos)
        length, pos = _varint_end(p, pos + 1, end)
        if pos + length > end:
            raise Cut(pos + length)
        return pos + length
    count, pos = _varint_end(p, pos, end)
    for _ in range(count):
        if code == 6:
            length, pos = _varint_end(p, pos, end)
            if pos + length > end:
                raise Cut(pos + length)
            pos += length
        pos = skip_value(p, pos, end)
    if pos < end and p[pos] == code + 1:
        pos += 1
    return pos


def test_every_cut_of_a_data_block_payload():
    values = [{"k": [1, -300, 2.5, True]}, "héllo", b"\x00\x01\x02", [None, {"": [[]]}], 2**40, -1]
    enc = dral.Encoder()
    for value in values:
        enc.encode(value)
    payload = split_blocks(enc.finish())[0][2]
    assert len(payload) < 128
    for cut in range(len(payload) + 1):
        prefix, pos, count = payload[:cut], 0, 0
        try:
            while pos < cut:
                pos, count = skip_value(prefix, pos, cut), count + 1
            expected = values[:count] if count != 1 else values[0]
        except Cut as where:
            expected = eof(P + where.args[0])
        if isinstance(expected, str):
            with pytest.raises(DralDecodeError) as info:
                dral.loads(data_stream(prefix))
            assert str(info.value) == expected, cut
        else:
            assert dral.loads(data_stream(prefix)) == expected, cut
    assert expected == values
