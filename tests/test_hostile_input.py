"""Hostile input for every reader of the binary format and the text notation: each case fails with
its documented exception, in a child process held to 1 GiB of address space and 1 s of CPU time,
so that a regression fails its test instead of the run. Then every entry point out of memory."""

import io
import random

import pytest

import dral
from helpers import DATA, P, STRING_DICT, block, data_stream, eof, string_dict, varint
import isolated
import memory_cases
from isolated import run_fresh, run_isolated

MIB = 1 << 20
MAX = 2**64 - 1
LIMIT = 256 * MIB
HEADER = b"\x00" * 9  # compression byte and checksum, for blocks whose payload is never reached


def full(text: bytes) -> bytes:
    return b"\x05\x00" + varint(len(text)) + text


def memory(requested: int) -> str:
    return f"Memory limit exceeded: requested {requested} bytes, limit {LIMIT}"


def depth(n: int) -> str:
    return f"Nesting depth {n} exceeds maximum {n}"


def random_bytes(seed: int, n: int = MIB) -> bytes:
    return random.Random(seed).randbytes(n)


DECOMPRESSION = "Decompression error: {0} decompression not available (enable '{0}' feature)"
ANY = None  # any message of the documented exception class
EXPANSION = "expansion"  # with the limits lifted, only running out of memory would stop it

# name, input, message under the strict limits, message with the limits lifted (max_depth as high
# as it goes).
BINARY = [
    ("a million nested arrays", data_stream(b"\x08\x01" * 10**6), depth(128), depth(4096)),
    ("a million nested objects", data_stream(b"\x06\x01\x00" * 10**6), depth(128), depth(4096)),
    ("array count 2^64-1", data_stream(b"\x08" + varint(MAX)), f"Item count {MAX} exceeds maximum 1000000",
     eof(P + 11)),
    ("object count 2^64-1", data_stream(b"\x06" + varint(MAX)), f"Item count {MAX} exceeds maximum 1000000",
     eof(P + 11)),
    ("dictionary count 2^64-1", block(STRING_DICT, varint(MAX)), f"Item count {MAX} exceeds maximum 1000000", eof(10)),
    ("string length 2^64-1", data_stream(b"\x05\x00" + varint(MAX)), f"String length {MAX} exceeds maximum {16 * MIB}",
     eof(MAX)),
    ("block length 2^64-1", b"\x01" + varint(MAX) + HEADER, f"Block size {MAX} exceeds maximum {64 * MIB}", eof(MAX)),
    ("eleven-byte varint", data_stream(b"\x02" + b"\xff" * 10 + b"\x01"),
     "Varint overflow: encoded integer exceeds 64 bits", "Varint overflow: encoded integer exceeds 64 bits"),
    ("string past the block", data_stream(b"\x05\x00" + varint(1000) + b"abc"), eof(P + 4 + 1000), eof(P + 4 + 1000)),
    ("block past the input", b"\x01" + varint(1000) + HEADER + b"abc", eof(12 + 1000), eof(12 + 1000)),
    ("decompression ratio", block(DATA, varint(64 * MIB) + b"\x00", compression=1),
     f"Decompression ratio {64 * MIB}.0:1 exceeds maximum 100:1 (compressed: 1, uncompressed: {64 * MIB})",
     DECOMPRESSION.format("zstd")),
    ("decompressed size 2^64-1", block(DATA, varint(MAX) + b"\x00", compression=3),
     f"Block size {MAX} exceeds maximum {64 * MIB}", DECOMPRESSION.format("lz4")),
    ("1 MB of random bytes", random_bytes(1), ANY, ANY),
    ("a block of 1 MB of random bytes", data_stream(random_bytes(2)), ANY, ANY),
    ("a million references to 1 MiB", data_stream(full(b"x" * MIB) + b"\x0a\x00" * 10**6), memory(257 * MIB),
     EXPANSION),
    ("3000 dictionary entries sharing 1 MiB",
     data_stream(b"\x0a\x00", string_dict((0, 0, b"x" * MIB), *[(i, MIB, b"") for i in range(1, 3000)])),
     memory(257 * MIB), EXPANSION),
    ("dictionary entries each one byte longer", data_stream(b"\x0a\x00", string_dict(*[(i, i, b"a") for i in range(150000)])),
     memory(23170 * 23171 // 2), EXPANSION),
]

STRICT_READERS = {
    "loads": dral.loads,
    "loads_value": dral.loads_value,  # the other sink: Value trees
    "load": lambda data: dral.load(io.BytesIO(data)),
    "decode": dral.decode,
    "DralDecoder": lambda data: dral.DralDecoder(data).decode_all(),
}
LIFTED_READERS = {
    "loads lifted": lambda data: dral.loads(data, strict=False, max_depth=MAX),
    "loads_value lifted": lambda data: dral.loads_value(data, strict=False, max_depth=MAX),
}


def binary_runs():
    for name, data, strict, lifted in BINARY:
        # An expansion makes 256 MiB of strings before it fails: it runs through the two sinks only.
        readers = list(STRICT_READERS)[:2] if lifted == EXPANSION else list(STRICT_READERS)
        runs = [(reader, strict) for reader in readers]
        if lifted != EXPANSION:
            runs += [(reader, lifted) for reader in LIFTED_READERS]
        for reader, message in runs:
            yield pytest.param(reader, data, message, id=f"{name}-{reader}")


def without_result(call, *args):
    call(*args)
    return "no exception"


def expect(outcome, exceptions: set, message):
    assert outcome[0] == "raised" and outcome[1] in exceptions, outcome[:3]
    if message is not ANY:
        assert outcome[2] == message


@pytest.mark.parametrize("reader, data, message", list(binary_runs()))
def test_binary_readers(reader, data, message):
    read = {**STRICT_READERS, **LIFTED_READERS}[reader]
    # None of the messages here names a checksum; random input may fail on one.
    exceptions = {"DralDecodeError", "DralChecksumError"} if message is ANY else {"DralDecodeError"}
    expect(run_isolated(lambda: without_result(read, data)), exceptions, message)


def parse_error(col: int, detail: str) -> str:
    return f"parse error: Text parse error at line 1, col {col}: {detail}"


TEXT = [
    ("a million brackets", "[" * 10**6, parse_error(4097, "nesting too deep (maximum 4096 levels)")),
    ("a million braces", "{a:" * 10**6, parse_error(3 * 4096 + 1, "nesting too deep (maximum 4096 levels)")),
    ("a million digits", "9" * 10**6, parse_error(10**6 + 1, "invalid integer: " + "9" * 10**6)),
    ("an unterminated million-character string", '"' + "a" * 10**6, parse_error(10**6 + 2, "unterminated string")),
    ("a million nested comments", "/*" * 10**6, parse_error(2 * 10**6 + 1, "unexpected end of input")),
    ("a million-character base64 payload", "b64#" + "A" * (10**6 + 1), ANY),
    ("a million random characters", "".join(map(chr, random.Random(3).choices(range(0xD800), k=10**6))), ANY),
    ("random brackets and separators", "".join(random.Random(4).choices('[]{}:;,"a1 ', k=10**6)), ANY),
]


@pytest.mark.parametrize("reader", [dral.parse_text, dral.parse_text_value], ids=["parse_text", "parse_text_value"])
@pytest.mark.parametrize("name, text, message", TEXT, ids=[case[0] for case in TEXT])
def test_text_readers(name, text, message, reader):
    expect(run_isolated(lambda: without_result(reader, text)), {"ValueError"}, message)


# Out of memory: every entry point raises MemoryError and leaves nothing behind.
@pytest.mark.skipif(isolated.SANITIZED, reason="no address-space limit under AddressSanitizer")
def test_out_of_memory_raises_memory_error():
    outcomes = run_fresh("memory_cases", memory_cases.NAMES, memory=memory_cases.ALLOWANCE)
    expected = {name: ("raised", "MemoryError", "") for name in memory_cases.NAMES}
    expected["Encoder after a failure"] = ("returned", ["kept", ["after", "kept", "new"]])
    assert outcomes == expected
