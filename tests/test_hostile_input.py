"""Hostile input for every reader of the binary format, the text notation and the typed document
language: each case fails with its documented exception, in a child process held to 1 GiB of
address space and 1 s of CPU time for the call itself (2 s for the documents built to reach the
memory limit), so that a regression fails its test instead of the run. Then every entry point
out of memory."""

import functools
import io
import random
import re
import struct

import pytest

import dral
from cbf_bytes import NULL, cbf, i64, seg, seq, sym, text, with_table
from collisions import clustered_strings
from helpers import (
    DATA, P, STRING_DICT, block, compressed, data_stream, depth, eof, memory, ratio, string_dict, varint, zstd_frame,
)
import isolated
import memory_cases
from isolated import run_fresh, run_isolated

MIB = 1 << 20
GIB = 1 << 30
MAX = 2**64 - 1
LIMIT = 256 * MIB
HEADER = b"\x00" * 9  # compression byte and checksum, for blocks whose payload is never reached
MIB_TEXT = b"\x05\x00" + varint(MIB) + b"x" * MIB  # a string of 1 MiB, read in full


def random_bytes(seed: int, n: int = MIB) -> bytes:
    return random.Random(seed).randbytes(n)


def random_text(seed: int, alphabet=None, n: int = 10**6) -> str:
    chosen = random.Random(seed).choices(alphabet or range(0xD800), k=n)
    return "".join(chosen) if alphabet else "".join(map(chr, chosen))


BEYOND = "Decompression error: {}: declared size exceeds what the data can hold"
# 64 MiB of 0xff bytes in a string, which zstd packs into a few KiB: a ratio bomb, and invalid UTF-8
# once unpacked.
BOMB_TEXT = 64 * MIB - 16
BOMB_SIZE = 2 + len(varint(BOMB_TEXT)) + BOMB_TEXT
BOMB = compressed(1, b"\x05\x00" + varint(BOMB_TEXT) + b"\xff" * BOMB_TEXT)
ANY = None  # any message of the documented exception class
EXPANSION = "expansion"  # with the limits lifted, only running out of memory would stop it
ITEMS = f"Item count {MAX} exceeds maximum 1000000"

# name, input, message under the strict limits, message with the limits lifted (max_depth as high
# as it goes).
BINARY = [
    ("a million nested arrays", data_stream(b"\x08\x01" * 10**6), depth(128), depth(4096)),
    ("a million nested objects", data_stream(b"\x06\x01\x00" * 10**6), depth(128), depth(4096)),
    ("array count 2^64-1", data_stream(b"\x08" + varint(MAX)), ITEMS, eof(P + 11)),
    ("object count 2^64-1", data_stream(b"\x06" + varint(MAX)), ITEMS, eof(P + 11)),
    ("dictionary count 2^64-1", block(STRING_DICT, varint(MAX)), ITEMS, eof(10)),
    ("string length 2^64-1", data_stream(b"\x05\x00" + varint(MAX)), f"String length {MAX} exceeds maximum {16 * MIB}",
     eof(MAX)),
    ("block length 2^64-1", b"\x01" + varint(MAX) + HEADER, f"Block size {MAX} exceeds maximum {64 * MIB}", eof(MAX)),
    ("eleven-byte varint", data_stream(b"\x02" + b"\xff" * 10 + b"\x01"),
     "Varint overflow: encoded integer exceeds 64 bits", "Varint overflow: encoded integer exceeds 64 bits"),
    ("string past the block", data_stream(b"\x05\x00" + varint(1000) + b"abc"), eof(P + 4 + 1000), eof(P + 4 + 1000)),
    ("block past the input", b"\x01" + varint(1000) + HEADER + b"abc", eof(12 + 1000), eof(12 + 1000)),
    ("decompression ratio", block(DATA, varint(64 * MIB) + b"\x00", compression=1), ratio(1, 64 * MIB),
     BEYOND.format("zstd")),
    ("decompressed size 2^64-1", block(DATA, varint(MAX) + b"\x00", compression=3),
     f"Block size {MAX} exceeds maximum {64 * MIB}", BEYOND.format("lz4")),
    ("zstd ratio bomb of 64 MiB", block(DATA, BOMB, compression=1),
     ratio(len(BOMB) - len(varint(BOMB_SIZE)), BOMB_SIZE), "Invalid UTF-8 in string field at offset 6"),
    ("lz4 garbage declaring 64 MiB", block(DATA, varint(64 * MIB) + random_bytes(5), compression=3), ANY, ANY),
    ("zstd frame asking for a 2 GiB window, cut short",
     block(DATA, varint(MIB) + zstd_frame(bytes(MIB), window_log=31)[:4096], compression=1), ANY, ANY),
    ("two 64 MiB blocks of nulls", b"".join([block(DATA, bytes(64 * MIB - 6))] * 2) + b"\xff",
     memory((LIMIT // 128 + 1) * 128), EXPANSION),
    ("1 MB of random bytes", random_bytes(1), ANY, ANY),
    ("a block of 1 MB of random bytes", data_stream(random_bytes(2)), ANY, ANY),
    ("a million references to 1 MiB", data_stream(MIB_TEXT + b"\x0a\x00" * 10**6),
     memory(256 * (MIB + 128 + 48)), EXPANSION),
    ("3000 dictionary entries sharing 1 MiB",
     data_stream(b"\x0a\x00", string_dict((0, 0, b"x" * MIB), *[(i, MIB, b"") for i in range(1, 3000)])),
     memory(257 * MIB), EXPANSION),
    ("dictionary entries each one byte longer", data_stream(b"\x0a\x00", string_dict(*[(i, i, b"a") for i in range(150000)])),
     memory(23170 * 23171 // 2), EXPANSION),
]

STRICT_READERS = {  # loads and loads_value first: the two sinks, Python values and Value trees
    "loads": dral.loads, "loads_value": dral.loads_value, "decode": dral.decode,
    "load": lambda data: dral.load(io.BytesIO(data)),
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


def fails_in_a_child(read, data, exceptions: set, message):
    def call():
        read(data)
        return "no exception"

    outcome = run_isolated(call, cpu_seconds=1)
    assert outcome[0] == "raised" and outcome[1] in exceptions, outcome[:3]
    if message is not ANY:
        assert outcome[2] == message


@pytest.mark.parametrize("reader, data, message", list(binary_runs()))
def test_binary_readers(reader, data, message):
    # None of the messages here names a checksum; random input may fail on one.
    exceptions = {"DralDecodeError", "DralChecksumError"} if message is ANY else {"DralDecodeError"}
    fails_in_a_child({**STRICT_READERS, **LIFTED_READERS}[reader], data, exceptions, message)


# Under the strict limits no stream makes a reader hold more than the budget and a small margin
# (the reader's own workings, and the block being read); measured in the child with VmHWM.
PEAK_CASES = {name: data for name, data, _, lifted in BINARY if lifted == EXPANSION}
PEAK_CASES["32 MiB block of 1 MiB strings"] = data_stream(MIB_TEXT * 32)


@pytest.mark.skipif(isolated.SANITIZED, reason="AddressSanitizer's shadow memory dwarfs what is measured")
@pytest.mark.parametrize("reader", list(STRICT_READERS)[:2])
@pytest.mark.parametrize("name", PEAK_CASES)
def test_strict_reading_holds_memory_to_the_budget(name, reader):
    from peak_memory import peak_growth

    data = PEAK_CASES[name]
    result = run_isolated(lambda: peak_growth(lambda: STRICT_READERS[reader](data)), memory=2 * GIB)
    assert result[0] == "returned", result
    outcome, peak = result[1]
    assert outcome in ("returned", "DralDecodeError")
    assert peak < LIMIT + 32 * MIB, f"{peak / MIB:.0f} MiB"


def parse_error(col: int, detail: str) -> str:
    return f"parse error: Text parse error at line 1, col {col}: {detail}"


TEXT = [
    ("a million brackets", "[" * 10**6, parse_error(4097, "nesting too deep (maximum 4096 levels)")),
    ("a million braces", "{a:" * 10**6, parse_error(3 * 4096 + 1, "nesting too deep (maximum 4096 levels)")),
    ("a million digits", "9" * 10**6, parse_error(10**6 + 1, "invalid integer: " + "9" * 10**6)),
    ("an unterminated million-character string", '"' + "a" * 10**6, parse_error(10**6 + 2, "unterminated string")),
    ("a million nested comments", "/*" * 10**6, parse_error(2 * 10**6 + 1, "unexpected end of input")),
    ("a million-character base64 payload", "b64#" + "A" * (10**6 + 1), ANY),
    ("a million random characters", random_text(3), ANY),
    ("random brackets and separators", random_text(4, '[]{}:;,"a1 '), ANY),
]
TEXT_READERS = {"parse_text": dral.parse_text, "parse_text_value": dral.parse_text_value}


# Out of memory: every entry point raises MemoryError and leaves nothing behind.
@pytest.mark.skipif(isolated.SANITIZED, reason="no address-space limit under AddressSanitizer")
def test_out_of_memory_raises_memory_error():
    outcomes = run_fresh("memory_cases", memory_cases.NAMES, memory=memory_cases.ALLOWANCE)
    expected = {name: ("raised", "MemoryError", "") for name in memory_cases.NAMES}
    expected["Encoder after a failure"] = ("returned", ["kept", ["after", "kept", "new"]])
    assert outcomes == expected


# ---- The typed document readers: CTN text, compiled files and queries.
def length_overflow(n: int) -> str:
    return f"Length overflow: {n} exceeds platform maximum"


CTN_TOO_DEEP = "Nesting depth 513 exceeds maximum 512"  # trees nest at most 512 levels
CBF_TOO_DEEP = "Nesting depth 65 exceeds maximum 64"  # segments nest at most 64 below the root
EXPANSION_LIMIT = "Invalid data: reference expansion exceeds limit"


def nested_blocks(levels: int) -> str:
    """`levels` sequence blocks, each the only item of the one above, around the number 1."""
    return "".join(" " * (2 * i) + "seq<any>\n" for i in range(levels)) + " " * (2 * levels) + "1"


def reference_chain(first: str, levels: int, fan_out: int) -> str:
    """Bindings a1 ... a<levels>, each a sequence of `fan_out` references to the one before."""
    lines = [f"let a0 = {first}"]
    lines += [f"let a{i} = [{', '.join([f'&a{i - 1}'] * fan_out)}]" for i in range(1, levels + 1)]
    return "\n".join(lines)


CTN = [
    ("a million brackets", "[" * 500_000 + "]" * 500_000, CTN_TOO_DEEP),
    ("a million parentheses", "(" * 500_000 + ")" * 500_000, CTN_TOO_DEEP),
    ("a million references by id", "ref " * 250_000 + "1", CTN_TOO_DEEP),
    # A colon anywhere makes a payload named: its first field is "T", whose value ":V(T::V(..."
    # holds a type name the notation cannot write back.
    ("nested tuple payloads", "T::V(" * 200_000 + "1" + ")" * 200_000, "Invalid data: invalid enum type name ':V(T'"),
    ("nested inline maps", "map<a, b>[1 => " * 70_000 + "1" + "]" * 70_000, CTN_TOO_DEEP),
    ("600 nested sequence blocks", nested_blocks(600), CTN_TOO_DEEP),
    ("a million random characters", random_text(5), ANY),
    ("a million random CTN marks", random_text(6, "[](){}<>:=,;\"'&@-_ \n\tab1.#"), ANY),
]
CTN_READERS = {f.__name__: f for f in [dral.rfc_parse_ctn, dral.rfc_format_ctn,
                                        dral.rfc_parse_ctn_model]}

# Compiling inlines every reference to a binding: chains that double at every step, and a deep
# one, must fail before anything is built. Queries over CTN compile it first.
COMPILE = [
    ("references doubling 63 times", reference_chain("[1, 2, 3]", 63, 2), EXPANSION_LIMIT),
    ("a 1 MiB text referenced 100 times", reference_chain('"' + "x" * MIB + '"', 1, 100), EXPANSION_LIMIT),
    ("100000 bindings each wrapping the last", reference_chain("1", 99_999, 1),
     CBF_TOO_DEEP),
]
COMPILERS = {"rfc_compile_ctn": dral.rfc_compile_ctn,
             "rfc_query_ctn": lambda text: dral.rfc_query_ctn(text, ".")}


def nested_segments(tag: int, prefix: bytes, levels: int, inner: bytes) -> bytes:
    """`levels` segments of type `tag`, each holding `prefix` and then the next, around `inner`
    (built from the inside out without copying the whole at every level)."""
    sizes = [len(inner)]
    for _ in range(levels):
        sizes.append(4 + len(prefix) + sizes[-1])
    assert sizes[-1] < 0xFFFFFF  # short headers throughout
    heads = [bytes([tag]) + (sizes[k] - 4).to_bytes(3, "little") + prefix for k in range(levels, 0, -1)]
    return b"".join(heads) + inner


def same_offsets(levels: int, fan_out: int) -> bytes:
    """Sequences whose `fan_out` items all lie at offset 0, `levels` deep: fan_out^levels items."""
    inner = i64(1)
    for _ in range(levels):
        inner = seg(0x68, b"\x00" + varint(fan_out) + b"\x00" * 4 * fan_out + inner)
    return inner


ONE_ITEM = b"\x00\x01\x00\x00\x00\x00"  # no element type, one item at offset 0
CBF = [
    ("100000 nested sequences", cbf(nested_segments(0x68, ONE_ITEM, 100_000, i64(1))), CBF_TOO_DEEP),
    ("250000 nested references", cbf(nested_segments(0x90, b"\x01", 250_000, NULL)), CBF_TOO_DEEP),
    ("100000 nested products", cbf(nested_segments(0x40, b"\x00\x01" + text("a"), 100_000, NULL)), CBF_TOO_DEEP),
    ("sequence count 2^64-1", cbf(seg(0x68, b"\x00" + varint(MAX))), length_overflow(MAX)),
    # The offset table's end, 10 + 4 * (2^62 - 1), passes 2^64.
    ("sequence count 2^62-1", cbf(seg(0x68, b"\x00" + varint(2**62 - 1))), length_overflow(2**62 - 1)),
    ("inline sequence count 2^64-1", cbf(seg(0x60, b"\x00" + varint(MAX))), eof(11)),
    ("map count 2^64-1", cbf(seg(0x78, varint(MAX))), length_overflow(MAX)),
    ("product field count 2^64-1", cbf(seg(0x40, b"\x00" + varint(MAX))), eof(11)),
    ("tuple item count 2^64-1", cbf(seg(0x50, b"\x00" + text("V") + b"\x01" + varint(MAX))), eof(17)),
    ("stream annotation count 2^64-1", cbf(seg(0xA0, text("t") + varint(MAX))), eof(15)),
    ("tensor element count 2^61-1", cbf(seg(0x80, bytes([2, 0, 1, 0]) + struct.pack("<Q", 2**61 - 1))),
     length_overflow(2**61 - 1)),
    ("opaque length 2^64-1", cbf(seg(0xD1, varint(MAX))), length_overflow(MAX)),
    ("reference name length 2^64-1", cbf(seg(0x90, b"\x00" + varint(MAX))), length_overflow(MAX)),
    ("segment length 2^64-1", cbf(b"\x10\xff\xff\xff" + b"\xff" * 8), length_overflow(MAX)),
    ("segment past the end", cbf(b"\x20\xfe\xff\xff" + b"abc"), eof(4 + 0xFFFFFE)),
    ("symbol count 2^32-1", cbf(struct.pack("<I", 2**32 - 1) + b"\x05", flags=0x03), eof(10)),
    ("symbol length 2^64-1", cbf(struct.pack("<I", 1) + varint(MAX), flags=0x03), length_overflow(MAX)),
    ("root offset 2^64-1", cbf(NULL, root_offset=MAX), eof(MAX)),
    ("symbol table offset 2^32-1", cbf(NULL, flags=0x03, symtab_offset=2**32 - 1), eof(2**32 - 1)),
    ("1000 symbols of a 1 MiB entry", with_table(["x" * MIB], seq(*[sym(0)] * 1000)),
     "Invalid data: decoded symbol text exceeds limit"),
    ("a billion items at one offset", cbf(same_offsets(3, 1000)),
     "Invalid data: segment count exceeds body size"),
    ("1 MB of random bytes", random_bytes(7), ANY),
    ("1 MB of random bytes in a valid frame", cbf(random_bytes(8)), ANY),
]
CBF_READERS = {f.__name__: f for f in [dral.rfc_decode_cbf, dral.rfc_cbf_to_ctn,
                                        dral.rfc_decode_cbf_model]}
CBF_READERS["rfc_query_cbf"] = lambda data: dral.rfc_query_cbf(data, ".")  # all of it

# A query reads only what it selects, but what it reads keeps every bound of a decode: queries
# that walk into the hostile part of the files above, which must fail as a decode does.
WALKS = {
    "100000 nested sequences": "." + "[0]" * 100_000,
    "250000 nested references": ".[]",
    "100000 nested products": ".a" * 100_000,
    "sequence count 2^64-1": ".[0]",
    "sequence count 2^62-1": ".[-1]",
    "inline sequence count 2^64-1": ".[-1]",
    "map count 2^64-1": ".x",
    "product field count 2^64-1": ".x",
    "reference name length 2^64-1": ".x",
    "segment length 2^64-1": ".x",
    "segment past the end": ".[]",
    "1000 symbols of a 1 MiB entry": ".[]",
    "a billion items at one offset": ".[][][]",
    "1 MB of random bytes in a valid frame": ".[][].a[0]",
}
CBF_WALKS = [pytest.param(lambda data, query=query: dral.rfc_query_cbf(data, query), data, "DralRfcError",
                          message, id=f"{name}-walk")
             for name, data, message in CBF if name in WALKS for query in [WALKS[name]]]


DOCUMENT = "struct\n  items = [1, 2, 3]\n  name = \"x\""
QUERY_RUNNERS = {
    "over CBF": lambda query: dral.rfc_query_cbf(dral.rfc_compile_ctn(DOCUMENT), query),
    "over CTN": lambda query: dral.rfc_query_ctn(DOCUMENT, query, as_ctn=True),
    "for models": lambda query: dral.rfc_query_ctn_model(DOCUMENT, query),
}
QUERIES = [("a random query", random_text(9, ".[]'\"aZ_09- "), ANY),
           ("a random query after a dot", "." + random_text(10, ".[]'\"aZ_09- "), ANY)]


def runs(readers: dict, cases: list, exception: str):
    return [pytest.param(read, data, exception, message, id=f"{name}-{reader}")
            for name, data, message in cases for reader, read in readers.items()]


@pytest.mark.parametrize("read, data, exception, message", [
    *runs(TEXT_READERS, TEXT, "ValueError"), *runs(CTN_READERS, CTN, "DralRfcError"),
    *runs(COMPILERS, COMPILE, "DralRfcError"), *runs(CBF_READERS, CBF, "DralRfcError"),
    *runs(QUERY_RUNNERS, QUERIES, "DralRfcError"), *CBF_WALKS,
])
def test_text_and_document_readers(read, data, exception, message):
    fails_in_a_child(read, data, {exception}, message)


# ---- The memory the typed document readers take. A call counts what it builds against 256 MiB
# (the README's limits section says what counts), so no input makes it hold much more: a call
# that fails on the limit, and one just within it, peak in a child's own resident memory below
# the limit and a little slack for the interpreter.
SLACK = 32 * MIB


def memory_refused(outcome) -> bool:
    return (outcome[:2] == ("raised", "DralRfcError")
            and re.fullmatch(r"Memory limit exceeded: requested \d+ bytes, limit 268435456", outcome[2]))


def deep_ctn(leaves: int) -> str:
    """A sequence 500 levels deep whose innermost one holds `leaves` numbers: 2 bytes of CTN per
    number, a line of 1000 spaces and more in its canonical text."""
    return "[" * 499 + "[" + "1," * leaves + "]" * 500


def deep_cbf(leaves: int) -> bytes:
    """The same in a compiled file, 60 levels deep (files nest at most 64)."""
    inner = seg(0x60, b"\x00" + varint(leaves) + seg(0x0A, b"\x02") * leaves)
    for _ in range(59):
        inner = seg(0x60, b"\x00" + varint(1) + inner)
    return cbf(inner)


def bound_text(strings: int, uses: int) -> str:
    """`strings` bindings of 1 MiB texts, each referred to `uses` times by the root: inlined, a
    file of strings * uses MiB, which the expansion bound allows."""
    lines = [f'let a{i} = "' + "x" * MIB + '"' for i in range(strings)]
    return "\n".join(lines + ["[" + ", ".join(f"&a{i}" for i in range(strings) for _ in range(uses)) + "]"])


class Later:
    """A call on an object made before it, which is not the call's memory: `make(data)` makes the
    object and returns the call."""

    def __init__(self, make):
        self.make = make


def measured(call, data):
    """(outcome, peak) of `call(data)` in a child; a Later's object is made first, unmeasured."""
    def prepared():
        run = call.make(data) if isinstance(call, Later) else lambda: call(data)
        return lambda: run() is not None and "no exception"
    return run_isolated(prepared, prepare=True, measure_peak=True)


def query_all(as_ctn=False):
    return lambda data: dral.rfc_query_cbf(data, ".", as_ctn=as_ctn)


CTN_CALLS = {**CTN_READERS, **COMPILERS}
CBF_FORMS = {"rfc_decode_cbf": dral.rfc_decode_cbf, "rfc_cbf_to_ctn": dral.rfc_cbf_to_ctn,
             "rfc_query_cbf": query_all(), "rfc_query_cbf as CTN": query_all(as_ctn=True)}
CBF_CALLS = {**CBF_FORMS, "rfc_decode_cbf_model": dral.rfc_decode_cbf_model}
TO_CTN = {"rfc_format_ctn": dral.rfc_format_ctn,
          "RfcDocument.to_ctn": Later(lambda text: dral.rfc_parse_ctn_model(text).to_ctn)}

# name, the input's builder (run in the parent, once), the calls that must fail on the limit
MEMORY = [
    ("3 million empty sequences", lambda: "[" + "[]," * 3_000_000 + "]", CTN_CALLS),
    ("a million map entries", lambda: "map<a, b>[" + "1 => 2, " * 1_000_000 + "]", CTN_CALLS),
    ("10 million tensor numbers", lambda: "tensor<f64>[_]\n  [" + "1," * 10_000_000 + "]", CTN_CALLS),
    ("10 million tensor dimensions", lambda: "tensor<f64>[" + "1," * 10_000_000 + "]\n  [1]", CTN_CALLS),
    ("a million lines", lambda: "let a = 1\n" * 1_000_000, CTN_CALLS),
    ("a binary placeholder of 300 MB", lambda: "tensor<u8>\n  <binary: 300000000 bytes>", CTN_CALLS),
    # 1 MB of text whose canonical form is 500 MB.
    ("1 MB of 500-deep CTN", lambda: deep_ctn(500_000), {**TO_CTN, "rfc_parse_ctn": dral.rfc_parse_ctn}),
    ("8 texts of 1 MiB inlined 20 times each", lambda: bound_text(8, 20), COMPILERS),
    ("a million nulls in a compiled sequence", lambda: cbf(seg(0x60, b"\x00" + varint(10**6) + NULL * 10**6)), CBF_CALLS),
    ("4 MB compiled, 60 deep, whose text is 60 MB", lambda: deep_cbf(500_000), CBF_FORMS),
]
# Calls that succeed just within the limit.
WITHIN = [
    ("the model of 1 MB of 500-deep CTN", lambda: deep_ctn(500_000), dral.rfc_parse_ctn_model),
    ("100,000 numbers 500 deep, formatted to 100 MB", lambda: deep_ctn(100_000), dral.rfc_format_ctn),
    ("a compiled file of 7 texts of 1 MiB inlined 16 times", lambda: bound_text(7, 16), dral.rfc_compile_ctn),
]


@functools.lru_cache(maxsize=1)
def built(name: str):
    return {case[0]: case[1] for case in MEMORY + WITHIN}[name]()


@pytest.mark.parametrize("name, call", [pytest.param(name, call, id=f"{name}-{reader}")
                                        for name, _, calls in MEMORY for reader, call in calls.items()])
def test_memory_limit_bounds_the_document_readers(name, call):
    outcome, peak = measured(call, built(name))
    assert memory_refused(outcome), outcome[:3]
    if not isolated.SANITIZED:
        assert peak < LIMIT + SLACK, f"peak {peak / MIB:.0f} MiB"


def prepare(name: str):
    """The call of a case that succeeds within the limit, for run_fresh."""
    call = {case[0]: case[2] for case in WITHIN}[name]
    data = built(name)
    return lambda: call(data) is not None and "no exception"


# Measured from a new interpreter: a child of this one starts from a heap that earlier tests
# shaped, which can add tens of MiB to the peak of a call that grows large buffers.
@pytest.mark.parametrize("name", [case[0] for case in WITHIN])
def test_calls_within_the_memory_limit_stay_within_it(name):
    outcome, peak = run_fresh("test_hostile_input", [name], memory=GIB, measure_peak=True)[name]
    assert outcome == ("returned", "no exception")
    if not isolated.SANITIZED:
        assert peak < LIMIT + SLACK, f"peak {peak / MIB:.0f} MiB"


# ---- Hash flooding: keys made to collide in a table run in its average time. The keys are made
# in the parent, so the child's CPU time is the call's alone.
FORCED_SEED = 0x2545F4914F6CDD1D


def dedup_round_trip(strings, seed=None, incremental=False):
    def call():
        if seed is not None:
            dral._dral_native._set_hash_seed(seed)
        values = list(strings) * 2  # the second half all references
        if incremental:
            encoder = dral.Encoder()
            encoder.enable_dedup()
            encoder.encode(values)
            data = encoder.finish()
        else:
            data = dral.dumps(values, dedup=True)
        return dral.loads(data) == values and len(data) < 12 * len(strings) + 8 * len(values)
    return call


def long_names(count: int, prefix_length: int) -> list[str]:
    return ["n" * prefix_length + f"{i:06d}" for i in range(count)]


def compile_and_check(text: str, fields: int):
    def call():
        return len(dral.rfc_decode_cbf(dral.rfc_compile_ctn(text))["symbols"]) == fields
    return call


def seeded(seed: int, call):
    def with_seed():
        dral._dral_native._set_hash_seed(seed)
        return call()
    return with_seed


def colliding_bindings(count: int) -> str:
    """Bindings named to collide, each the next number of a chain the root ends: every lookup of
    a name goes through the table."""
    names = clustered_strings(count, FORCED_SEED, "k")
    lines = [f"let {names[0]} = 'x"] + [f"let {b} = &{a}" for a, b in zip(names, names[1:])]
    return "\n".join(lines + [f"&{names[-1]}"])


COLLISIONS = [
    ("65536 strings colliding under the unseeded hash",
     lambda: dedup_round_trip(clustered_strings(65536))),
    ("65536 strings colliding under a known seed",
     lambda: dedup_round_trip(clustered_strings(65536, FORCED_SEED), seed=FORCED_SEED)),
    ("65536 strings colliding under a known seed, through Encoder",
     lambda: dedup_round_trip(clustered_strings(65536, FORCED_SEED), seed=FORCED_SEED, incremental=True)),
    # The compiler's tables of names hash with the same seed.
    ("65536 field names colliding under a known seed",
     lambda: seeded(FORCED_SEED, compile_and_check(
         "struct\n" + "".join(f"  {n} = 'x\n" for n in clustered_strings(65536, FORCED_SEED, "k")), 65537))),
    ("65536 binding names colliding under a known seed, each referred to",
     lambda: seeded(FORCED_SEED, compile_and_check(colliding_bindings(65536), 1))),
    # Long names cost their length to hash and compare, not more.
    ("20000 field names sharing 1000 characters",
     lambda: compile_and_check("struct\n" + "".join(f"  {n} = 'x\n" for n in long_names(20000, 1000)), 20001)),
    ("20000 bindings named alike, each referred to",
     lambda: compile_and_check("\n".join(f"let {n} = {n}" for n in long_names(20000, 1000))
                               + "\n[" + ", ".join(f"&{n}" for n in long_names(20000, 1000)[::500]) + "]", 40)),
]


@pytest.mark.parametrize("build", [pytest.param(build, id=name) for name, build in COLLISIONS])
def test_colliding_keys_take_average_time(build):
    assert run_isolated(build(), cpu_seconds=1) == ("returned", True)


# ---- Views of long objects: every key looked up one by one costs about what a dict's lookups
# cost, whatever the keys (a scan per lookup made this quadratic).
VIEW_KEYS = 65_536


def numbered(prefix: str = "") -> list[str]:
    return [f"{prefix}{i}" for i in range(VIEW_KEYS)]


of = dral.to_value


def views_made_per_lookup(root: dral.DralValue):
    return (lambda key: root["o"].get(key)), numbered()


# name, the lookup function and the keys it is given (made outside the limits), entries found
VIEW_LOOKUPS = [
    ("distinct keys", lambda: (of(dict.fromkeys(numbered(), 1)).get, numbered()), VIEW_KEYS),
    ("keys sharing 256 bytes", lambda: (of(dict.fromkeys(numbered("p" * 256), 1)).get, numbered("p" * 256)),
     VIEW_KEYS),
    ("absent keys", lambda: (of(dict.fromkeys(numbered(), 1)).get, numbered("absent")), 0),
    ("one key repeated, absent keys",
     lambda: (dral.parse_text_value("{" + "k: 1;" * VIEW_KEYS + "}").get, ["absent"] * VIEW_KEYS), 0),
    ("decoded, in reverse", lambda: (dral.loads_value(dral.dumps(dict.fromkeys(numbered(), 1))).get,
                                     numbered()[::-1]), VIEW_KEYS),
    ("through a view made per lookup", lambda: views_made_per_lookup(of({"o": dict.fromkeys(numbered(), 1)})),
     VIEW_KEYS),
]


@pytest.mark.parametrize("make, found", [pytest.param(make, found, id=name) for name, make, found in VIEW_LOOKUPS])
def test_view_lookups_in_long_objects(make, found):
    def prepare():
        get, keys = make()
        return lambda: sum(get(key) is not None for key in keys)

    assert run_isolated(prepare, prepare=True, cpu_seconds=1) == ("returned", found)
