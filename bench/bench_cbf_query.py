#!/usr/bin/env python3
"""Queries over compiled files read what they select: time against a CRC-64 pass and against
decoding the whole file first, at 1, 5, 22 and 200 MB, and peak memory over a mapped file.

    python3 bench/bench_cbf_query.py [--sizes 1,5,22,200] [--quick] [--cache DIR]

Per size (of the compiled file, from `ctn_document.py`, compiled up to 5 MB and larger by
repeating the items of the 5 MB file, since a call's memory limit bounds what the compiler and a
whole decode take; compiled files are cached in --cache),
each query is timed in the same rounds (gc on, process CPU time, round-robin repeats, medians) as:
- `crc`: the CRC-64 pass over the same bytes, as the query itself makes it: the file with its
  trailer zeroed, whose opening fails right after the pass (the cost of raising included);
- `decode`: `_rfc_query_cbf_reference`, which decodes the whole file, then queries the tree
  ("refused" where the decode passes the memory limit).
Queries: a point query (`.title`), index queries (`.items[-1]`, `.items[N/2].id`) and the
projection `.items[].id`; and the point query through `rfc_query_cbf_file`, mapping the file. Goals: point and index queries at most 1.5 x crc + 50 us; the
projection at least 5 x faster than decoding first.

Peak memory: a fresh interpreter imports dral, notes its resident high-water mark (VmHWM of
/proc/self/status), runs `rfc_query_cbf_file(path, ".title")` over the largest file, mapped, and
notes the mark again. Goal: below 32 MiB above the baseline.

The machine this runs on may be shared: compare the ratios of one run, and take final figures on
an idle machine.
"""

from __future__ import annotations

import argparse
import gc
import pathlib
import struct
import subprocess
import sys
import textwrap

import dral
from ctn_document import generate
from timing import fmt, measure

MB = 1_000_000
CBF_PER_CTN = 1.41  # compiled bytes per byte of generated CTN, about
REFERENCE = dral._dral_native._rfc_query_cbf_reference


# The compiler holds a document to the memory limit of a call (some 10 MB compiled); larger files
# repeat the items of one that size.
MAX_COMPILED_MB = 5


def compiled(size_mb: int, cache: pathlib.Path) -> pathlib.Path:
    """A compiled generated document of about `size_mb` MB, made once and kept in `cache`."""
    path = cache / f"generated-{size_mb}mb.cbf"
    if not path.exists():
        cache.mkdir(parents=True, exist_ok=True)
        if size_mb <= MAX_COMPILED_MB:
            data = dral.rfc_compile_ctn(generate(int(size_mb * MB / CBF_PER_CTN)))
        else:
            base = compiled(MAX_COMPILED_MB, cache).read_bytes()
            data = with_items_repeated(base, round(size_mb * MB / len(base)))
        path.write_bytes(data)
    return path


def _segment(data: bytes, at: int) -> tuple[int, int, int]:
    """The tag, payload start and payload end of the segment at `at`."""
    length, start = int.from_bytes(data[at + 1:at + 4], "little"), at + 4
    if length == 0xFFFFFF:
        length, start = struct.unpack_from("<Q", data, at + 4)[0], at + 12
    return data[at], start, start + length


def _varint(data: bytes, at: int) -> tuple[int, int]:
    value = shift = 0
    while True:
        byte = data[at]
        value, shift, at = value | (byte & 0x7F) << shift, shift + 7, at + 1
        if byte < 0x80:
            return value, at


def _encode_varint(value: int) -> bytes:
    out = bytearray()
    while value >= 0x80:
        out.append(value & 0x7F | 0x80)
        value >>= 7
    return bytes(out + bytes([value]))


def _long_segment(tag: int, payload: bytes) -> bytes:
    return bytes([tag]) + b"\xff\xff\xff" + struct.pack("<Q", len(payload)) + payload


def with_items_repeated(data: bytes, times: int) -> bytes:
    """The compiled file `data` whose root product's longest sequence (the items) holds its items
    `times` over: the same symbol table, the root last in the body, the checksum made again."""
    header, body = bytearray(data[:32]), data[32:-8]
    root = struct.unpack_from("<Q", header, 16)[0]
    tag, start, end = _segment(body, root)
    assert tag == 0x40 and end == len(body), "the root is a product, last in the body"
    at = start + 1
    if body[start] == 1:
        at = _segment(body, at)[2]
    count, at = _varint(body, at)
    fields = []  # (name bytes, value start, value end)
    for _ in range(count):
        name_end = _segment(body, at)[2]
        value_end = _segment(body, name_end)[2]
        fields.append((body[at:name_end], name_end, value_end))
        at = value_end

    def items(field):
        tag, start, _ = _segment(body, field[1])
        if tag >> 4 != 6:
            return 0
        at = start + 1 if body[start] == 0 else _segment(body, start + 1)[2]
        return _varint(body, at)[0]

    longest = max(fields, key=items)
    seq_tag, seq_start, seq_end = _segment(body, longest[1])
    assert seq_tag == 0x68, "the items are an indexed sequence"
    at = seq_start + 1 if body[seq_start] == 0 else _segment(body, seq_start + 1)[2]
    flag = body[seq_start:at]
    n, at = _varint(body, at)
    offsets = struct.unpack_from(f"<{n}I", body, at)
    area = body[at + 4 * n:seq_end]
    table = b"".join(struct.pack("<I", offset + copy * len(area)) for copy in range(times) for offset in offsets)
    sequence = _long_segment(seq_tag, flag + _encode_varint(n * times) + table + area * times)
    head = body[start:fields[0][1] - len(fields[0][0])]  # the type name and the field count
    payload = head + b"".join(field[0] + (sequence if field is longest else body[field[1]:field[2]])
                              for field in fields)
    out = header + body[:root] + _long_segment(tag, payload) + bytes(8)
    stored_computed = dral._dral_native._cbf_parts(bytes(out))[2]
    return bytes(out[:-8]) + struct.pack("<Q", stored_computed[1])


def crc_pass(damaged: bytes):
    def run(_):
        try:
            dral.rfc_query_cbf(damaged, ".title")
        except dral.DralRfcError:
            pass
    return run


def query(function, expression: str):
    return lambda data: function(data, expression)


def time_size(path: pathlib.Path, repeats: int, target_ns: float) -> None:
    data = path.read_bytes()
    damaged = data[:-8] + bytes(8)
    items = len(dral.rfc_query_cbf(data, ".items[].id"))
    queries = [(".title", "point"), (".items[-1]", "index"), (f".items[{items // 2}].id", "index"),
               (".items[].id", "projection")]
    try:
        for expression, _ in queries:
            assert dral.rfc_query_cbf(data, expression) == REFERENCE(data, expression), expression
        decodes = True
    except dral.DralRfcError as refused:  # a whole decode past the memory limit of a call
        decodes = False
        print(f"\n(decoding first: {refused})")
    direct = measure([(crc_pass(damaged), None), (query(dral.rfc_query_cbf_file, ".title"), path)]
                     + [(query(dral.rfc_query_cbf, q), data) for q, _ in queries], repeats, target_ns)
    crc, mapped, times = direct[0], direct[1], direct[2:]
    # Decoding first takes a tenth of a second and more: fewer repeats, one call each.
    decoded = (measure([(query(REFERENCE, q), data) for q, _ in queries], max(1, repeats // 3),
                       min(target_ns, 0.2e9)) if decodes else [None] * len(queries))
    print(f"\n{len(data) / MB:.1f} MB compiled, {items} items; CRC-64 pass {fmt(crc)} "
          f"({len(data) / crc:.1f} GB/s)")
    print(f"  {'query':<22}{'direct':>11}{'÷crc':>8}{'goal':>12}{'decode first':>14}{'speed-up':>10}")
    for (expression, kind), ours, first in zip(queries, times, decoded):
        goal = 1.5 * crc + 50_000 if kind != "projection" else first and first / 5
        mark = "" if goal is None else "ok" if ours <= goal else "MISS"
        against = f"{fmt(first):>10}{first / ours:9.1f}x" if first else f"{'refused':>10}"
        print(f"  {expression:<22}{fmt(ours):>11}{ours / crc:8.2f}{fmt(goal) if goal else '-':>12} {mark:<4}"
              f"{against}")
    print(f"  {'.title, file mapped':<22}{fmt(mapped):>11}{mapped / crc:8.2f}   (rfc_query_cbf_file: "
          "the pages are faulted in, then let go)")


PEAK_CHILD = textwrap.dedent("""
    import sys
    import dral

    def hwm_kib():
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))

    baseline = hwm_kib()
    found = dral.rfc_query_cbf_file(sys.argv[1], sys.argv[2])
    print(baseline, hwm_kib(), len(found))
""")


def peak_memory(path: pathlib.Path, expression: str) -> None:
    child = subprocess.run([sys.executable, "-c", PEAK_CHILD, str(path), expression], capture_output=True,
                           text=True, check=True, timeout=600)
    baseline, peak, _ = (int(n) for n in child.stdout.split())
    growth = (peak - baseline) / 1024
    mark = "ok" if growth < 32 else "MISS"
    print(f"  rfc_query_cbf_file {expression:<14} over {path.stat().st_size / MB:.0f} MB mapped: "
          f"VmHWM {baseline / 1024:.1f} MiB -> {peak / 1024:.1f} MiB, +{growth:.1f} MiB (goal < 32 MiB) {mark}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--sizes", default="1,5,22,200", help="compiled sizes in MB (default 1,5,22,200)")
    ap.add_argument("--quick", action="store_true", help="3 repeats of ~0.1 s")
    ap.add_argument("--cache", type=pathlib.Path,
                    default=pathlib.Path(__file__).resolve().parent.parent / "build" / "bench-cbf-query",
                    help="where the compiled files are kept (default build/bench-cbf-query)")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    repeats, target_ns = (3, 0.1e9) if args.quick else (9, 0.5e9)
    print(f"{repeats} repeats of ~{target_ns / 1e9:.1f} s, process CPU time, gc on")
    paths = [compiled(size, args.cache) for size in sizes]
    for path in paths:
        gc.collect()
        time_size(path, repeats, target_ns)
    largest = paths[sizes.index(max(sizes))]
    print("\npeak memory, each in a fresh interpreter:")
    for expression in (".title", ".items[-1]"):
        peak_memory(largest, expression)


if __name__ == "__main__":
    main()
