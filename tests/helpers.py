"""Builders for hand-made Dral streams and a small reader of the block layout.

A block is: type byte, varint payload length, compression byte, XXH64 (seed 0) of the payload as
8 little-endian bytes, payload. The end block carries the XXH64 of every byte before it.
"""

import gc
import struct
import tracemalloc

import cramjam
import xxhash

DATA, STRING_DICT, END = 1, 4, 255
P = 11  # offset of the first payload byte of a leading data block shorter than 128 bytes


def xxh(data: bytes) -> int:
    return xxhash.xxh64_intdigest(data, seed=0)


def varint(n: int) -> bytes:
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    return bytes(out + bytes([n]))


def read_varint(data: bytes, pos: int) -> tuple[int, int]:
    value = shift = 0
    while True:
        value |= (data[pos] & 0x7F) << shift
        pos, shift = pos + 1, shift + 7
        if not data[pos - 1] & 0x80:
            return value, pos


def block(kind: int, payload: bytes, compression: int = 0, checksum: int | None = None) -> bytes:
    checksum = xxh(payload) if checksum is None else checksum
    return bytes([kind]) + varint(len(payload)) + bytes([compression]) + struct.pack("<Q", checksum) + payload


def stream(*blocks: bytes, end: bool = True) -> bytes:
    body = b"".join(blocks)
    if not end:
        return body
    stream_sum = struct.pack("<Q", xxh(body))
    return body + b"\xff\x08\x00" + struct.pack("<Q", xxh(stream_sum)) + stream_sum


def data_stream(payload: bytes, dictionary: bytes | None = None, end: bool = True) -> bytes:
    """One data block, preceded by a StringDict block when `dictionary` is given."""
    blocks = [] if dictionary is None else [block(STRING_DICT, dictionary)]
    return stream(*blocks, block(DATA, payload), end=end)


def string_dict(*entries: tuple[int, int, bytes]) -> bytes:
    """StringDict payload from (original_idx, shared, suffix) triples."""
    return varint(len(entries)) + b"".join(varint(i) + varint(s) + varint(len(x)) + x for i, s, x in entries)


CODES = {"zstd": 1, "snappy": 2, "lz4": 3}
# Compressors and decompressors other than the libraries Dral links: they agree on the formats.
COMPRESS = {1: cramjam.zstd.compress, 2: cramjam.snappy.compress_raw,
            3: lambda raw: cramjam.lz4.compress_block(raw, store_size=False)}
DECOMPRESS = {1: lambda packed, size: cramjam.zstd.decompress(packed),
              2: lambda packed, size: cramjam.snappy.decompress_raw(packed),
              3: lambda packed, size: cramjam.lz4.decompress_block(packed, output_len=size)}


def compressed(code: int, payload: bytes, declared: int | None = None) -> bytes:
    """A compressed block's payload: the (declared) uncompressed size, then the codec's bytes."""
    return varint(len(payload) if declared is None else declared) + bytes(COMPRESS[code](payload))


def zstd_frame(content: bytes, *, window_log: int | None = None) -> bytes:
    """A zstd frame of one raw block, made by hand: with its content size stated, or, given
    `window_log`, with only a window of that size."""
    if window_log is None:
        header = bytes([0x20, len(content)])  # single segment, one-byte content size
    else:
        header = bytes([0x00, (window_log - 10) << 3])
    last_raw_block = (len(content) << 3 | 1).to_bytes(3, "little")
    return b"\x28\xb5\x2f\xfd" + header + last_raw_block + content


def split_blocks(data: bytes) -> list[tuple[int, int, bytes, int]]:
    """(type, compression, payload, start offset) of each block up to the end block."""
    blocks, pos = [], 0
    while pos < len(data):
        start, kind = pos, data[pos]
        if kind == END:
            blocks.append((kind, data[pos + 2], data[pos + 11 : pos + 19], start))
            break
        length, pos = read_varint(data, pos + 1)
        blocks.append((kind, data[pos], data[pos + 9 : pos + 9 + length], start))
        pos += 9 + length
    return blocks


def payload_of(data: bytes) -> bytes:
    """The payload of the one data block of an encoder's output."""
    (payload,) = [payload for kind, _, payload, _ in split_blocks(data) if kind == DATA]
    return payload


def nested_list(depth: int, leaf=None):
    """`depth` lists, each holding the next; the innermost holds `leaf` unless it is None."""
    value = [] if leaf is None else [leaf]
    for _ in range(depth - 1):
        value = [value]
    return value


def nested_arrays(depth: int) -> bytes:
    """Data block payload of `depth` nested arrays, the innermost empty."""
    return b"\x08\x01" * (depth - 1) + b"\x08\x00" + b"\x09" * depth


def same(a, b) -> bool:
    """Equality that also tells NaN, -0.0, bool from int, and key order apart (repr does)."""
    return type(a) is type(b) and repr(a) == repr(b)


def outcome(function, *args, **kwargs):
    """What a call gave, comparable across two paths: a value, or an exception's type and message."""
    try:
        return ("value", function(*args, **kwargs))
    except Exception as error:  # noqa: BLE001 - any difference counts
        return ("error", type(error), str(error))


def eof(offset: int) -> str:
    return f"Unexpected end of input at offset {offset}"


def depth(n: int) -> str:
    return f"Nesting depth {n} exceeds maximum {n}"


def memory(requested: int) -> str:
    return f"Memory limit exceeded: requested {requested} bytes, limit {256 << 20}"


def ratio(packed: int, size: int) -> str:
    return (f"Decompression ratio {size / packed:.1f}:1 exceeds maximum 100:1 "
            f"(compressed: {packed}, uncompressed: {size})")


def traced_growth(action, rounds=60):
    """Bytes the Python allocators hold more after `rounds` calls of `action` than before, once
    a few warm-up calls have filled every cache."""
    for _ in range(5):
        action()
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(rounds):
            action()
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
