#!/usr/bin/env python3
"""Streams on disk written and read value by value, against the same data in memory and peers.

    python3 bench/bench_streams.py [--sizes 100M,1G,4G] [--folder DIR]
    python3 bench/bench_streams.py --thresholds        # the block size of writers, measured

Records are taken from the corpus (twitter statuses, GitHub events, update-center plugins) in a
cycle until the stream reaches each size; the files go to a temporary folder (or --folder) and
are removed afterwards. Each writer and reader runs in a fresh process (so that peak memory is
its own), in rounds alternating the contenders:

- Dral: `Writer(path).write_all(records)` and `for value in Reader(path)`;
- msgpack: `Packer` writing to the file and `Unpacker(file)` iterating;
- JSON Lines with orjson: a line per record, `orjson.loads` per line.

Reported per size: MB/s of the stream's own bytes for each, Dral's throughput over `dumps` and
`loads` of 100 MB of the same records in memory (goal ≥ 0.9; with --floor, also against the
one-shot way to the same file, `dumps` of all the records followed by one write of its bytes, in a
fresh process as the writer runs), and the peak resident memory each
process adds to its start (VmHWM after, VmRSS before; goal below 64 MiB, the same at every size).
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus"

CHILD = r'''
import itertools, json, os, sys, time
sys.path.insert(0, {here!r})
import dral, msgpack, orjson

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024

def records(corpus):
    pool = json.load(open(os.path.join(corpus, "twitter.json")))["statuses"]
    pool += json.load(open(os.path.join(corpus, "github_events.json")))
    pool += list(json.load(open(os.path.join(corpus, "update-center.json")))["plugins"].values())
    return pool

kind, who, path, size, corpus, block_size = sys.argv[1:7]
size, block_size = int(size), int(block_size)
pool = records(corpus)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
start = status("VmRSS")
if kind == "write":
    # The stream of records until the file holds `size` bytes: each record is written once
    # over, as a program that makes records as it goes would.
    per_round = len(dral.dumps(pool)) if who in ("dral", "floor") else len(msgpack.packb(pool)) if who == "msgpack" else len(b"\n".join(map(orjson.dumps, pool)))
    rounds = max(1, size // per_round)
    values = itertools.chain.from_iterable(itertools.repeat(pool, rounds))
    began = time.perf_counter()
    if who == "dral":
        with dral.Writer(path, block_size=block_size) as writer:
            writer.write_all(values)
    elif who == "floor":
        # The one-shot way to the same file: dumps of everything, then its bytes written.
        data = dral.dumps(list(values))
        with open(path, "wb") as f:
            f.write(data)
    elif who == "msgpack":
        packer = msgpack.Packer()
        with open(path, "wb") as f:
            for value in values:
                f.write(packer.pack(value))
    else:
        with open(path, "wb") as f:
            for value in values:
                f.write(orjson.dumps(value) + b"\n")
else:
    count = 0
    began = time.perf_counter()
    if who == "dral":
        with dral.Reader(path) as reader:
            for value in reader:
                count += 1
    elif who == "msgpack":
        with open(path, "rb") as f:
            for value in msgpack.Unpacker(f):
                count += 1
    else:
        with open(path, "rb") as f:
            for line in f:
                orjson.loads(line)
                count += 1
elapsed = time.perf_counter() - began
print(json.dumps({{"seconds": elapsed, "peak": status("VmHWM") - start, "bytes": os.path.getsize(path)}}))
'''

IN_MEMORY = r'''
import json, os, sys, time
import dral
corpus = sys.argv[1]
pool = json.load(open(os.path.join(corpus, "twitter.json")))["statuses"]
pool += json.load(open(os.path.join(corpus, "github_events.json")))
pool += list(json.load(open(os.path.join(corpus, "update-center.json")))["plugins"].values())
values = pool * max(1, (100 << 20) // len(dral.dumps(pool)))
best_dumps = best_loads = float("inf")
for _ in range(3):
    t = time.perf_counter(); data = dral.dumps(values); best_dumps = min(best_dumps, time.perf_counter() - t)
    t = time.perf_counter(); dral.loads(data, strict=False); best_loads = min(best_loads, time.perf_counter() - t)
print(json.dumps({"dumps": len(data) / best_dumps, "loads": len(data) / best_loads}))
'''


def parse_size(text: str) -> int:
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    return int(float(text[:-1]) * units[text[-1]]) if text[-1] in units else int(text)


def child(kind: str, who: str, path: Path, size: int, corpus: Path, block_size: int) -> dict:
    script = CHILD.format(here=str(HERE))
    run = subprocess.run([sys.executable, "-c", script, kind, who, str(path), str(size), str(corpus), str(block_size)],
                         capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="100M,1G,4G")
    parser.add_argument("--folder")
    parser.add_argument("--corpus", default=os.environ.get("DRAL_CORPUS", str(DEFAULT_CORPUS)))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--thresholds", action="store_true", help="compare block sizes for Dral instead")
    parser.add_argument("--floor", action="store_true",
                        help="also time dumps of all the records followed by one write of its bytes")
    args = parser.parse_args()
    corpus = Path(args.corpus)
    folder = Path(tempfile.mkdtemp(dir=args.folder, prefix="dral-streams-"))
    try:
        if args.thresholds:
            for block_size in (64 << 10, 256 << 10, 1 << 20, 4 << 20, 16 << 20):
                path = folder / "t.dral"
                w = [child("write", "dral", path, 200 << 20, corpus, block_size) for _ in range(args.rounds)]
                r = [child("read", "dral", path, 0, corpus, block_size) for _ in range(args.rounds)]
                size = w[0]["bytes"]
                print(f"block {block_size >> 10:>6} KiB: write {size / min(x['seconds'] for x in w) / 1e6:6.0f} MB/s "
                      f"read {size / min(x['seconds'] for x in r) / 1e6:6.0f} MB/s  "
                      f"peak {max(x['peak'] for x in r) / (1 << 20):5.1f} MiB")
                path.unlink()
            return
        memory = json.loads(subprocess.run([sys.executable, "-c", IN_MEMORY, str(corpus)], capture_output=True,
                                           text=True, check=True).stdout)
        print(f"in memory, 100 MB of records: dumps {memory['dumps'] / 1e6:.0f} MB/s, loads {memory['loads'] / 1e6:.0f} MB/s")
        print(f"{'size':>6} {'who':<8} {'write MB/s':>10} {'read MB/s':>10} {'file MB':>9} {'peak w MiB':>10} {'peak r MiB':>10}")
        for text in args.sizes.split(","):
            size = parse_size(text)
            results = {}
            writers = ("dral", "msgpack", "jsonl") + (("floor",) if args.floor else ())
            for who in writers:
                results[who] = {"write": [], "read": []}
            for _ in range(args.rounds):
                for who in writers:
                    path = folder / f"stream.{who}"
                    results[who]["write"].append(child("write", who, path, size, corpus, 1 << 20))
                    if who != "floor":
                        results[who]["read"].append(child("read", who, path, size, corpus, 1 << 20))
                    path.unlink()
            floor = None
            if args.floor:
                found = results.pop("floor")["write"]
                floor = found[0]["bytes"] / statistics.median(x["seconds"] for x in found)
            for who, found in results.items():
                nbytes = found["write"][0]["bytes"]
                write = nbytes / statistics.median(x["seconds"] for x in found["write"])
                read = nbytes / statistics.median(x["seconds"] for x in found["read"])
                extra = ""
                if who == "dral":
                    extra = f"  ÷memory: write {write / memory['dumps']:.2f}, read {read / memory['loads']:.2f}"
                    if floor:
                        extra += f"; dumps, then written: {floor / 1e6:.0f} MB/s, write ÷ that {write / floor:.2f}"
                print(f"{text:>6} {who:<8} {write / 1e6:10.0f} {read / 1e6:10.0f} {nbytes / 1e6:9.0f} "
                      f"{max(x['peak'] for x in found['write']) / (1 << 20):10.1f} "
                      f"{max(x['peak'] for x in found['read']) / (1 << 20):10.1f}{extra}", flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
