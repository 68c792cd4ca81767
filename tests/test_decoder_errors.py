"""Every decoder failure with its exact message and offset, the reading limits, and truncation."""

import io
import os
import tempfile
import tracemalloc

import pytest

import dral
from helpers import (
    CODES, DATA, STRING_DICT, P, block, compressed, data_stream, depth, eof, memory, nested_arrays, ratio,
    read_varint, split_blocks, stream, string_dict, varint, xxh,
)

DralDecodeError, DralChecksumError = dral.DralDecodeError, dral.DralChecksumError
reference = dral._dral_native._loads_reference
CHECKSUM = b"\x00" * 8
M16, M64 = 16 * 1024 * 1024, 64 * 1024 * 1024
DECOMPRESSION = "Decompression error: {}: {}"
UTF8, TAG = "Invalid UTF-8 in string field at offset {}", "Invalid wire type tag: 0x{}"
REF = "Invalid reference: index {} out of bounds (dictionary has {} entries)"
OVERFLOW, DICT_INDEX = "Varint overflow: encoded integer exceeds 64 bits", "Invalid data: StringDict entry has original_idx"


STRICT = [dral.loads, reference, lambda d: dral.DralDecoder(d).decode_all()]
LIFTED = [lambda d: dral.loads(d, strict=False), lambda d: reference(d, strict=False)]


def failure(read, data):
    with pytest.raises(DralDecodeError) as info:
        read(data)
    return type(info.value), str(info.value)


def bad_sum(kind, payload, compression=0):
    return block(kind, payload, compression, checksum=xxh(payload) ^ 1)


def checksum(expected: int, got: int) -> str:
    return f"Checksum mismatch: expected 0x{expected:016x}, got 0x{got:016x}"


def mismatch(payload):
    return checksum(xxh(payload) ^ 1, xxh(payload))


END_OF_NOTHING = stream()  # the end block of a stream of no blocks
NINE = data_stream(b"\x02\x09")


CORRUPT = "corrupt compressed data"
LONGER, SHORTER = "output longer than the declared size", "output shorter than the declared size"
PACKED = b"\x05\x00\x03abc" * 40  # a payload each codec shrinks

ERRORS = [
    # block headers
    *[(f"type {kind}", bytes([kind]), f"Invalid block type: {kind}") for kind in (0, 5)],
    ("type 254", b"\xfe\x00\x00" + CHECKSUM, "Invalid block type: 254"),
    ("type after a block", data_stream(b"\x00", end=False) + b"\x09", "Invalid block type: 9"),
    ("cut length varint", b"\x01\x80\x80", eof(3)),
    ("length varint overflow", b"\x01" + b"\xff" * 9 + b"\x02", OVERFLOW),
    ("length varint tenth byte 0x81", b"\x01" + b"\xff" * 9 + b"\x81", OVERFLOW),
    ("cut reserved block", block(2, b"abc")[:-1], eof(14)),
    ("unknown compression", block(DATA, b"\x00", compression=4), "Unknown compression type: 4"),
    ("unknown compression 255", block(STRING_DICT, b"\x00", compression=255), "Unknown compression type: 255"),
    # checksums
    ("data checksum", bad_sum(DATA, b"\x02\x01"), mismatch(b"\x02\x01")),
    ("empty data checksum", bad_sum(DATA, b""), mismatch(b"")),
    ("dictionary checksum", bad_sum(STRING_DICT, string_dict()), mismatch(string_dict())),
    ("reserved block checksum", bad_sum(3, b"opaque"), mismatch(b"opaque")),
    ("second block checksum", stream(block(DATA, b"\x00"), bad_sum(DATA, b"\x00")), mismatch(b"\x00")),
    # compressed blocks: the checksum as stored first, then the size and ratio limits, then the codec
    ("compressed bad checksum", bad_sum(DATA, b"\x05\x01", compression=3), mismatch(b"\x05\x01")),
    ("zstd not a frame", block(DATA, b"\x05\x01", compression=1), DECOMPRESSION.format("zstd", "not a zstd frame")),
    ("snappy length disagrees", block(DATA, b"\x05\x01", compression=2), DECOMPRESSION.format("snappy", SHORTER)),
    ("lz4 literals cut", block(DATA, b"\x05\x10", compression=3), DECOMPRESSION.format("lz4", CORRUPT)),
    ("ratio 100 allowed", block(DATA, b"\x64\x01", compression=3), DECOMPRESSION.format("lz4", SHORTER)),
    ("no compressed bytes", block(DATA, b"\xc9\x01", compression=1), DECOMPRESSION.format("zstd", "no compressed data")),
    ("more than snappy can hold", block(DATA, b"\xc9\x01\x01\x02", compression=2),
     DECOMPRESSION.format("snappy", "declared size exceeds what the data can hold")),
    # a valid compressed payload whose declared size lies, in either direction
    *[(f"{name} declared {delta:+}", block(DATA, compressed(code, PACKED, len(PACKED) - delta), compression=code),
       DECOMPRESSION.format(name, LONGER if delta > 0 else SHORTER))
      for name, code in CODES.items() for delta in (1, -1)],
    ("lz4 output cut", block(DATA, compressed(3, PACKED)[:-4], compression=3), DECOMPRESSION.format("lz4", CORRUPT)),
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
    ("dictionary then reserved block", stream(block(STRING_DICT, string_dict()), block(2, b"")), eof(12 + 11)),
    ("dictionary after the data block", stream(block(DATA, b"\x00"), block(STRING_DICT, string_dict())), eof(12 + 12)),
    # values
    # unknown tags, and end tags (with or without high bits) where a value starts
    *[(f"tag 0x{tag:02x}", data_stream(bytes([tag])), TAG.format(f"{tag:02x}"))
      for tag in b"\x0b\x1f\xfc\x07\x17"],
    ("stray array end", data_stream(b"\x00\x09"), TAG.format("09")),
    ("end tag as array item", data_stream(b"\x08\x01\x09"), TAG.format("09")),
    ("value varint overflow", data_stream(b"\x02" + b"\xff" * 9 + b"\x02"), OVERFLOW),
    ("varint not completed by next block", stream(block(DATA, b"\x02\x80"), block(DATA, b"\x02\x01")), eof(P + 2)),
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
    ("object entries missing", data_stream(b"\x06\x02\x01a\x00\x07"), eof(P + 13)),
    ("object key utf-8", data_stream(b"\x06\x01\x01\xff\x00\x07"), UTF8.format(14)),
    ("error in second block", stream(block(DATA, b"\x00"), block(DATA, b"\x0b")), TAG.format("0b")),
    # two faults in one input: the one met first while reading wins
    ("cut before bad checksum", stream(block(DATA, b"\x02\x05\x04\x00"), bad_sum(DATA, b"\x00")),
     eof(14)),
    ("bad checksum before cut", stream(block(DATA, b"\x00"), bad_sum(DATA, b"\x01\x01"), end=False)
     + b"\x01\x05\x00", mismatch(b"\x01\x01")),
    ("reference before cut", data_stream(b"\x0a\x00\x05\x00\x09", string_dict((0, 0, b"s"))),
     eof(16 + 11 + 14)),
    ("129 nested arrays", data_stream(nested_arrays(129)), depth(128)),
    # the end block: required, with both of its checksums
    ("empty input", b"", eof(0)),
    ("only the end type byte", b"\xff", eof(1)),
    ("missing end block", data_stream(b"\x02\x09", end=False), eof(P + 2)),
    ("end block cut short", data_stream(b"\x02\x09")[:-5], eof(P + 2 + 14)),
    ("end block checksum", NINE[:-16] + bytes(8) + NINE[-8:], checksum(0, xxh(NINE[-8:]))),
    ("stream checksum", NINE[:-19] + END_OF_NOTHING, checksum(xxh(b""), xxh(NINE[:-19]))),
    ("end block length", data_stream(b"\x00")[:-18] + b"\x09" + data_stream(b"\x00")[-17:], "Invalid data: malformed end block"),
    ("end block compressed", data_stream(b"\x00")[:-17] + b"\x01" + data_stream(b"\x00")[-16:], "Invalid data: malformed end block"),
    ("129 nested objects", data_stream(b"\x06\x01\x00" * 128 + b"\x06\x00" + b"\x07" * 129), depth(128)),
]


@pytest.mark.parametrize("name, data, message", ERRORS, ids=[e[0] for e in ERRORS])
def test_decode_errors(name, data, message):
    expected_class = DralChecksumError if "Checksum mismatch" in message else DralDecodeError
    for read in STRICT + LIFTED:
        assert failure(read, data) == (expected_class, message)


def _full(text: bytes) -> bytes:
    return b"\x05\x00" + varint(len(text)) + text


BIG = b"x" * M16
# Limits: strict reading enforces them, non-strict lifts all but the depth. Rows: input (built on
# demand), strict message, then the non-strict result: a value, or the message of the next failure.
ITEMS = "Item count 1000001 exceeds maximum 1000000"
# What each decoded value counts against the memory budget beside its bytes: any value 48 (128 at
# the top level), a str or bytes value 48 more, an array or object 80 more, an object entry 112
# more.
VALUE, TOP, STRING, CONTAINER = 48, 128, 48, 80
FILL = M16 - TOP - STRING  # sixteen top-level values of this many bytes fill the budget
CHUNK = b"\x05\x01" + varint(FILL) + bytes(FILL)


ZEROS = b"\x05\x01" + varint(M16) + bytes(M16)  # 16 MiB of zero bytes: zstd packs it 4000 to 1
ZEROS_PACKED = compressed(1, ZEROS)
LIMITS = [
    ("ratio", lambda: block(DATA, b"\xc9\x01\x01", compression=3), ratio(1, 201), DECOMPRESSION.format("lz4", SHORTER)),
    ("ratio of a real block", lambda: stream(block(DATA, ZEROS_PACKED, compression=1)),
     ratio(len(ZEROS_PACKED) - 4, len(ZEROS)), bytes(M16)),
    ("declared block size", lambda: b"\x01" + varint(M64 + 1) + b"\x00" + CHECKSUM,
     f"Block size {M64 + 1} exceeds maximum {M64}", eof(1 + 4 + 1 + 8 + M64 + 1)),
    ("declared uncompressed size", lambda: block(DATA, varint(M64 + 1) + b"\x00", compression=1),
     f"Block size {M64 + 1} exceeds maximum {M64}",
     DECOMPRESSION.format("zstd", "declared size exceeds what the data can hold")),
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
    # Sixteen values fill the memory budget exactly, over several blocks; one value more is refused.
    ("memory", lambda: stream(*[block(DATA, CHUNK * 3)] * 5, block(DATA, CHUNK + b"\x05\x00\x01z")),
     memory(256 * 1024 * 1024 + TOP), [bytes(FILL)] * 16 + ["z"]),
    ("three million nulls", lambda: stream(*[block(DATA, bytes(1_500_000))] * 2),
     memory((256 * 1024 * 1024 // TOP + 1) * TOP), [None] * 3_000_000),
    # Strings copied from the table cost what strings read in full cost: each of these exceeds the
    # budget by its last string, and the message reports the running total.
    ("references", lambda: data_stream(_full(BIG) + b"\x0a\x00" * 16),
     memory(16 * (TOP + STRING + M16)), [BIG.decode()] * 17),
    ("dictionary entries sharing a prefix",
     lambda: data_stream(b"\x0a\x00",
                         string_dict((0, 0, BIG), *[(i, M16, b"") for i in range(1, 17)])),
     memory(17 * M16), BIG.decode()),
    ("dictionary entries each one byte longer",
     lambda: data_stream(b"\x0a\x00", string_dict(*[(i, i, b"a") for i in range(23170)])),
     memory(23170 * 23171 // 2), "a"),
    ("dictionary entry and references",
     lambda: data_stream(b"\x0a\x00" * 16, string_dict((0, 0, BIG))),
     memory(M16 + 15 * (TOP + STRING + M16)), [BIG.decode()] * 16),
]


@pytest.mark.parametrize("name, make, message, lifted", LIMITS, ids=[c[0] for c in LIMITS])
def test_limits(name, make, message, lifted):
    data = make()
    for read in STRICT:
        assert failure(read, data) == (DralDecodeError, message)
    for read in LIFTED:
        if isinstance(lifted, str) and lifted.startswith(("Unexpected", "Decompression error")):
            assert failure(read, data) == (DralDecodeError, lifted)
        else:
            assert read(data) == lifted


def test_strings_up_to_the_limits_are_accepted():
    assert dral.loads(dral.dumps("s" * M16)) == "s" * M16
    # An array of sixteen strings that fill the budget with the array itself.
    text = b"x" * (M16 - VALUE - STRING - (TOP + CONTAINER) // 16)
    values = dral.loads(data_stream(b"\x08\x10" + _full(text) + b"\x0a\x00" * 15 + b"\x09"))
    assert len(values) == 16 and all(v == text.decode() for v in values)
    # 23169 entries of 1 to 23169 bytes: 268412865 bytes, just under the budget.
    entries = string_dict(*[(i, i, b"a") for i in range(23169)])
    assert dral.loads(data_stream(b"\x0a\x00", entries)) == "a"


@pytest.mark.parametrize("max_depth", [0, 1, 2, 5, 4096, 5000, 10**6, 2**64 - 1])
def test_max_depth_up_to_the_native_bound_of_4096(max_depth):
    bound = min(max_depth, 4096)
    scalars = data_stream(b"\x00\x02\x07\x05\x00\x01s")
    assert dral.loads(scalars, max_depth=max_depth) == [None, 7, "s"]
    objects = b"\x06\x01\x01k" * bound + b"\x08\x00\x09" + b"\x07" * bound
    for strict in (True, False):
        if bound:
            deepest = data_stream(nested_arrays(bound))
            value = dral.loads(deepest, max_depth=max_depth, strict=strict)
            for _ in range(bound - 1):
                (value,) = value
            assert value == []
        for read in (lambda d: dral.loads(d, max_depth=max_depth, strict=strict),
                     lambda d: reference(d, max_depth=max_depth, strict=strict),
                     lambda d: dral.DralDecoder(d, max_depth=max_depth).decode_all()):
            for payload in (nested_arrays(bound + 1), objects, nested_arrays(5000)):
                assert failure(read, data_stream(payload)) == (DralDecodeError, depth(bound))


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


# Truncation: a stream cut anywhere, at a block boundary too, is an error for every reader.
ONE_VALUE = dral.dumps({"key": [1, -2, 3.5, "text", b"\x00"]})
TRUNCATED_STREAMS = {
    "one value": ONE_VALUE,
    "dedup": dral.dumps(["repeat", "repeat", {"k": "repeat"}, "other"], dedup=True),
    "long block": dral.dumps(["x" * 150, "y"], dedup=True),
}


@pytest.mark.parametrize("name", sorted(TRUNCATED_STREAMS))
def test_every_truncation(name):
    data = TRUNCATED_STREAMS[name]
    starts = [start for *_, start in split_blocks(data)]
    for cut in range(len(data)):
        # Cut in the length varint or before the compression byte: reported at the cut; in the
        # checksum: after the compression byte; inside a payload: where it should end. At a
        # block boundary or in the end block: where the input ends.
        start = max(s for s in starts if s <= cut)
        if start == cut or start == starts[-1]:
            offset = cut
        else:
            length, end = read_varint(data, start + 1)
            offset = cut if cut <= end else end + 1 if cut < end + 9 else end + 9 + length
        for read in STRICT + LIFTED:
            assert failure(read, data[:cut]) == (DralDecodeError, eof(offset)), cut


def _late_dedup() -> bytes:
    enc = dral.Encoder()
    enc.encode("first")
    enc.enable_dedup()  # a dictionary block, then the data block
    enc.encode(["repeat", "repeat", "first"])
    return enc.finish()


def _records(compression):
    return dral.dumps([{"name": "abc" * 5, "n": i} for i in range(8)], compression=compression)


# What an encoder writes, in each of its layouts.
WRITTEN = {
    "one value": ONE_VALUE,
    "dedup": dral.dumps(["repeat", "repeat", {"k": "repeat"}], dedup=True),
    "dictionary": _late_dedup(),
    **{f"{name}": _records(name) for name in ("zstd", "snappy", "lz4")},
    "nothing": dral.Encoder().finish(),
}
EVERY_READER = [*STRICT, *LIFTED, dral.loads_value, lambda d: dral.load(io.BytesIO(d)),
                lambda d: dral.decode_from_file(_written(d))]


def _written(data: bytes) -> str:
    path = os.path.join(tempfile.gettempdir(), "dral-damaged.dral")
    with open(path, "wb") as f:
        f.write(data)
    return path


def _damaged(data: bytes):
    """Every truncation and single-bit flip of `data`, and its blocks duplicated, dropped and
    swapped as a faulty copy would leave them."""
    for cut in range(len(data)):
        yield f"cut at {cut}", data[:cut]
    for at in range(len(data)):
        for bit in range(8):
            yield f"bit {bit} of byte {at}", data[:at] + bytes([data[at] ^ 1 << bit]) + data[at + 1:]
    starts = [start for *_, start in split_blocks(data)] + [len(data)]
    blocks = [data[a:b] for a, b in zip(starts, starts[1:])]
    for i, piece in enumerate(blocks[:-1]):
        rest = blocks[:i] + blocks[i + 1:]
        yield f"block {i} twice", b"".join(blocks[:i + 1] + blocks[i:])
        yield f"block {i} dropped", b"".join(rest)
        yield f"block {i} last", b"".join(rest + [piece])


@pytest.mark.parametrize("name", WRITTEN)
def test_damage_is_an_error_for_every_reader_never_another_value(name):
    dral.loads(WRITTEN[name])  # undamaged, it reads
    for how, data in _damaged(WRITTEN[name]):
        for read in EVERY_READER:
            with pytest.raises(DralDecodeError):
                read(data)
                pytest.fail(f"{how} read as a stream")


class Cut(Exception):
    pass


def _varint(p: bytes, pos: int) -> tuple[int, int]:
    try:
        return read_varint(p, pos)
    except IndexError:
        raise Cut(len(p)) from None


def _text_end(p: bytes, pos: int) -> int:
    length, pos = _varint(p, pos)
    if pos + length > len(p):
        raise Cut(pos + length)
    return pos + length


def skip_value(p: bytes, pos: int) -> int:
    """Position after the value at `pos`, or Cut(offset) when the value runs past `p`."""
    fixed = {0: 0, 1: 1, 4: 8, 5: 1}  # bytes after the tag: null, bool, float, string subtype
    if pos >= len(p):
        raise Cut(pos)
    code, pos = p[pos] & 0x0F, pos + 1
    if code in fixed:
        if pos + fixed[code] > len(p):
            raise Cut(pos)
        return _text_end(p, pos + 1) if code == 5 else pos + fixed[code]
    if code in (2, 3, 10):
        return _varint(p, pos)[1]
    count, pos = _varint(p, pos)
    for _ in range(count):
        pos = skip_value(p, _text_end(p, pos) if code == 6 else pos)
    return pos + 1 if pos < len(p) and p[pos] == code + 1 else pos


def test_every_cut_of_a_data_block_payload():
    # Every kind of value cut at every byte, by every reader.
    values = [{"k": [1, -300, 2.5, True]}, "héllo", b"\x00\x01\x02", [None, {"": [[]]}], 2**40, -1]
    enc = dral.Encoder()
    for value in values:
        enc.encode(value)
    payload = split_blocks(enc.finish())[0][2]
    assert len(payload) < 128
    for cut in range(len(payload) + 1):
        data, pos, count = data_stream(payload[:cut]), 0, 0
        try:
            while pos < cut:
                pos, count = skip_value(payload[:cut], pos), count + 1
        except Cut as where:
            for read in STRICT + LIFTED:
                assert failure(read, data) == (DralDecodeError, eof(P + where.args[0])), cut
            continue
        assert dral.loads(data) == (values[:count] if count != 1 else values[0]), cut
    assert count == len(values)
