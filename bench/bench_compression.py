#!/usr/bin/env python3
"""Compressed Dral streams against peers followed by the same compressor, and the codec levels.

    python3 bench/bench_compression.py [--files a,b] [--quick]
    python3 bench/bench_compression.py --levels        # zstd and lz4 settings on Dral's payloads

Per corpus file and code (zstd, snappy, lz4): the stored size and the time of `dumps` and
`loads` with that compression, against orjson, msgspec and msgpack each followed by the same
compressor from PyPI (zstandard at its default level 3, lz4.block, cramjam's raw snappy), timed
in the same rounds (timing.measure: round-robin repeats, GC on, process CPU time). A peer's
compressor object is made once and reused, as a careful caller would.

Columns: `size÷` = Dral's stream ÷ the fastest peer's compressed output (and ÷ the smallest);
`dumps÷` and `loads÷` = Dral ÷ the fastest peer-plus-compressor; goal ≤ 1.0 for all three.
"""

from __future__ import annotations

import argparse
import sys

import cramjam
import lz4.block
import msgpack
import msgspec
import orjson
import zstandard

import dral
from bench_binary import datasets, resolve_corpus
from timing import fmt, measure

ZSTD_LEVEL = 3


def codecs():
    zc, zd = zstandard.ZstdCompressor(level=ZSTD_LEVEL), zstandard.ZstdDecompressor()
    return {
        "zstd": (zc.compress, zd.decompress),
        # cramjam hands out buffers of its own; orjson reads them through a memoryview.
        "snappy": (cramjam.snappy.compress_raw, lambda packed: memoryview(cramjam.snappy.decompress_raw(packed))),
        "lz4": (lz4.block.compress, lz4.block.decompress),
    }


PEERS = {
    "orjson": (orjson.dumps, orjson.loads),
    "msgspec": (msgspec.msgpack.encode, msgspec.msgpack.decode),
    "msgpack": (msgpack.packb, msgpack.unpackb),
}


def peer_pair(encode, decode, compress, decompress):
    return (lambda obj: compress(encode(obj))), (lambda packed: decode(decompress(packed)))


def compare(name: str, obj, repeats: int, target_ns: float) -> list[str]:
    rows = []
    plain = len(dral.dumps(obj))
    for code, (compress, decompress) in codecs().items():
        stream = dral.dumps(obj, compression=code)
        if dral.loads(stream) != obj:
            raise SystemExit(f"{name}: {code} does not round-trip")
        dumps_pairs = [(lambda o, c=code: dral.dumps(o, compression=c), obj)]
        loads_pairs = [(dral.loads, stream)]
        sizes = {}
        for peer, (encode, decode) in PEERS.items():
            enc, dec = peer_pair(encode, decode, compress, decompress)
            packed = enc(obj)
            sizes[peer] = len(packed)
            dumps_pairs.append((enc, obj))
            loads_pairs.append((dec, packed))
        times = measure(dumps_pairs + loads_pairs, repeats, target_ns)
        dumps_t, loads_t = times[: len(dumps_pairs)], times[len(dumps_pairs):]
        peers = list(PEERS)
        fast_dumps = min(range(len(peers)), key=lambda i: dumps_t[i + 1])
        fast_loads = min(range(len(peers)), key=lambda i: loads_t[i + 1])
        size_vs_fast = len(stream) / sizes[peers[fast_dumps]]
        size_vs_small = len(stream) / min(sizes.values())
        mark = lambda r: f"{r:5.2f}{'!' if r > 1.0 else ' '}"  # noqa: E731
        rows.append(
            f"{name:<20} {code:<7} {len(stream):>9} ({len(stream) / plain:4.2f} of plain) "
            f"size÷ {mark(size_vs_fast)}/{mark(size_vs_small)} "
            f"dumps {fmt(dumps_t[0])} vs {peers[fast_dumps]} {fmt(dumps_t[fast_dumps + 1])} ÷ {mark(dumps_t[0] / dumps_t[fast_dumps + 1])} "
            f"loads {fmt(loads_t[0])} vs {peers[fast_loads]} {fmt(loads_t[fast_loads + 1])} ÷ {mark(loads_t[0] / loads_t[fast_loads + 1])}")
        print(rows[-1], flush=True)
    return rows


def levels(corpus, selected, repeats: int, target_ns: float) -> None:
    """Size and speed of compressor settings over the concatenated Dral payloads of the corpus."""
    payloads = []
    for name, load in datasets(corpus, selected):
        try:
            payloads.append(dral.dumps(load()))
        except dral.DralEncodeError:
            continue
    data = b"".join(payloads)
    settings = {f"zstd {level}": zstandard.ZstdCompressor(level=level).compress for level in (1, 2, 3, 4, 6)}
    settings["lz4 default"] = lambda d: lz4.block.compress(d, store_size=False)
    settings["lz4 hc 4"] = lambda d: lz4.block.compress(d, mode="high_compression", compression=4, store_size=False)
    settings["snappy"] = cramjam.snappy.compress_raw
    times = measure([(f, data) for f in settings.values()], repeats, target_ns)
    print(f"{len(data)} bytes of Dral payloads")
    for (label, compress), ns in zip(settings.items(), times):
        print(f"{label:<12} {len(compress(data)) / len(data):6.3f} of the size  {len(data) / ns * 1e3:7.0f} MB/s")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--corpus")
    parser.add_argument("--files", help="comma-separated names, with or without .json")
    parser.add_argument("--quick", action="store_true", help="3 short repeats")
    parser.add_argument("--levels", action="store_true", help="compare compressor settings instead")
    args = parser.parse_args()
    corpus = resolve_corpus(args.corpus)
    selected = set(args.files.split(",")) if args.files else None
    repeats, target_ns = (3, 20e6) if args.quick else (11, 50e6)
    if args.levels:
        levels(corpus, selected, repeats, target_ns)
        return
    print(f"CPython {sys.version.split()[0]}, zstd level {ZSTD_LEVEL}")
    for name, load in datasets(corpus, selected):
        obj = load()
        try:
            dral.dumps(obj)
        except dral.DralEncodeError:
            print(f"{name:<20} n/a: nests deeper than dumps writes")
            continue
        compare(name, obj, repeats, target_ns)


if __name__ == "__main__":
    main()
