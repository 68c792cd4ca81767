#!/usr/bin/env python3
"""Throughput of two threads against one, for large compressed streams.

    python3 bench/bench_threads.py [--copies N] [--rounds R] [--calls C]

Dral releases the interpreter lock while it compresses, decompresses and checksums a large
block, so a second thread runs meanwhile; everything that builds or reads Python objects holds
the lock. Measured on two inputs: twitter.json repeated N times (which zstd packs a hundredfold),
and every corpus file but deep_nested.json in one list (distinct data, packed fourfold):
`dumps(..., compression="zstd")`, and `loads` of that stream, each as C calls in one thread,
then C calls in each of two threads at once (wall time), alternating the two set-ups round by
round; calls of a few milliseconds need C of a hundred for a steady ratio. The anchor is msgspec followed by zstandard
(which also releases the lock while it works). `2T÷1T` is the throughput of two threads over one:
at most 2.0 on two idle cores; the share of the call that holds the lock bounds it.
"""

from __future__ import annotations

import argparse
import json
import statistics
import threading
import time

import msgspec
import zstandard

import dral
from bench_binary import resolve_corpus


def wall(fn, arg, calls: int, threads: int) -> float:
    barrier = threading.Barrier(threads + 1)

    def worker():
        barrier.wait()
        for _ in range(calls):
            fn(arg)

    pool = [threading.Thread(target=worker) for _ in range(threads)]
    for thread in pool:
        thread.start()
    barrier.wait()
    start = time.perf_counter()
    for thread in pool:
        thread.join()
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--corpus")
    parser.add_argument("--copies", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--calls", type=int, default=100)
    args = parser.parse_args()
    corpus = resolve_corpus(args.corpus)
    with open(corpus / "twitter.json", encoding="utf-8") as fh:
        repeated = [json.load(fh)] * args.copies
    distinct = []
    for path in sorted(corpus.glob("*.json")):
        if path.name != "deep_nested.json":  # deeper than the encoder's default limit
            with open(path, encoding="utf-8") as fh:
                distinct.append(json.load(fh))
    measure(f"twitter.json x{args.copies}", repeated, args.rounds, args.calls)
    measure("corpus files", distinct, args.rounds, max(1, args.calls // 5))


def measure(title: str, big, rounds: int, calls: int) -> None:
    stream = dral.dumps(big, compression="zstd")
    compressor, decompressor = zstandard.ZstdCompressor(level=3), zstandard.ZstdDecompressor()
    local = threading.local()

    def peer_dumps(obj):  # zstandard's objects are not for two threads at once
        if not hasattr(local, "c"):
            local.c, local.d = zstandard.ZstdCompressor(level=3), zstandard.ZstdDecompressor()
        return local.c.compress(msgspec.msgpack.encode(obj))

    def peer_loads(packed):
        if not hasattr(local, "c"):
            local.c, local.d = zstandard.ZstdCompressor(level=3), zstandard.ZstdDecompressor()
        return msgspec.msgpack.decode(local.d.decompress(packed))

    packed = compressor.compress(msgspec.msgpack.encode(big))
    assert msgspec.msgpack.decode(decompressor.decompress(packed)) == dral.loads(stream)
    cases = {
        "dral dumps zstd": (lambda o: dral.dumps(o, compression="zstd"), big),
        "dral loads zstd": (dral.loads, stream),
        "msgspec+zstandard dumps": (peer_dumps, big),
        "msgspec+zstandard loads": (peer_loads, packed),
    }
    print(f"{title}: Dral stream {len(stream)} bytes, {len(dral.dumps(big))} uncompressed; {calls} calls a round")
    ratios: dict[str, list[float]] = {name: [] for name in cases}
    for _ in range(rounds):
        for name, (fn, arg) in cases.items():
            one = wall(fn, arg, calls, 1)
            two = wall(fn, arg, calls, 2)
            ratios[name].append(2 * one / two)
    for name, found in ratios.items():
        print(f"{name:<26} 2T÷1T {statistics.median(found):5.2f}  (rounds {min(found):.2f} to {max(found):.2f})")


if __name__ == "__main__":
    main()
